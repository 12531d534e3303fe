#include "platform/urlcache/url.h"

#include <cctype>
#include <optional>

#include "common/utf.h"

namespace qv::platform {
namespace {

bool IsSchemeChar(char c, bool first) {
  const auto u = static_cast<unsigned char>(c);
  if (std::isalpha(u)) return true;
  return !first && (std::isdigit(u) || c == '+' || c == '-' || c == '.');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The five components of RFC 3986; an absent authority, query or fragment is nullopt.
struct UriParts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

UriParts Split(std::string_view s) {
  UriParts p;
  if (auto hash = s.find('#'); hash != std::string_view::npos) {
    p.fragment = std::string(s.substr(hash + 1));
    s = s.substr(0, hash);
  }
  if (auto q = s.find('?'); q != std::string_view::npos) {
    p.query = std::string(s.substr(q + 1));
    s = s.substr(0, q);
  }
  // A scheme only when the colon comes before any '/'.
  if (auto colon = s.find(':'); colon != std::string_view::npos && colon > 0) {
    bool ok = true;
    for (std::size_t i = 0; i < colon && ok; ++i) ok = IsSchemeChar(s[i], i == 0);
    if (ok) {
      p.scheme = std::string(s.substr(0, colon));
      s = s.substr(colon + 1);
    }
  }
  if (s.starts_with("//")) {
    s = s.substr(2);
    const auto end = s.find('/');
    p.authority = std::string(s.substr(0, end));
    s = end == std::string_view::npos ? std::string_view{} : s.substr(end);
  }
  p.path = std::string(s);
  return p;
}

std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    if (in.starts_with("../")) {
      in.remove_prefix(3);
    } else if (in.starts_with("./")) {
      in.remove_prefix(2);
    } else if (in.starts_with("/./")) {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.starts_with("/../") || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      const auto slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      const auto next = in.find('/', 1);
      const auto seg = in.substr(0, next);
      out += seg;
      in.remove_prefix(seg.size());
    }
  }
  return out;
}

std::string Merge(const UriParts& base, std::string_view refPath) {
  if (base.authority && base.path.empty()) return "/" + std::string(refPath);
  const auto slash = base.path.rfind('/');
  if (slash == std::string::npos) return std::string(refPath);
  return base.path.substr(0, slash + 1) + std::string(refPath);
}

std::string Join(const UriParts& p) {
  std::string s;
  if (p.scheme) s += *p.scheme + ":";
  if (p.authority) s += "//" + *p.authority;
  s += p.path;
  if (p.query) s += "?" + *p.query;
  if (p.fragment) s += "#" + *p.fragment;
  return s;
}

}  // namespace

HRESULT GetUrlScheme(std::string_view url, std::string& scheme) {
  scheme.clear();
  const auto colon = url.find(':');
  if (colon == std::string_view::npos) return URL_E_INVALID_SYNTAX;
  for (std::size_t i = 0; i < colon; ++i) {
    if (!IsSchemeChar(url[i], i == 0)) return URL_E_INVALID_SYNTAX;
  }
  scheme = AsciiLower(url.substr(0, colon));
  return S_OK;
}

std::string_view WithoutFragment(std::string_view url) { return url.substr(0, url.find('#')); }

std::string_view FragmentOf(std::string_view url) {
  const auto hash = url.find('#');
  return hash == std::string_view::npos ? std::string_view{} : url.substr(hash);
}

bool UrlEquals(std::string_view a, std::string_view b, bool ignoreTrailingSlash) {
  if (ignoreTrailingSlash) {
    if (a.ends_with('/')) a.remove_suffix(1);
    if (b.ends_with('/')) b.remove_suffix(1);
  }
  return a == b;
}

std::string UrlHost(std::string_view url) {
  const UriParts p = Split(url);
  if (!p.authority) return {};
  std::string_view host = *p.authority;
  if (auto at = host.rfind('@'); at != std::string_view::npos) host = host.substr(at + 1);
  if (host.starts_with('[')) {
    const auto close = host.find(']');
    return AsciiLower(host.substr(0, close == std::string_view::npos ? host.size() : close + 1));
  }
  return AsciiLower(host.substr(0, host.find(':')));
}

HRESULT FileUrlToPath(std::string_view url, std::filesystem::path& out) {
  std::string scheme;
  if (Failed(GetUrlScheme(url, scheme)) || scheme != "file") return E_INVALIDARG;
  const UriParts p = Split(WithoutFragment(url));
  if (p.authority && !p.authority->empty() && !EqualsNoCase(*p.authority, "localhost")) {
    return E_INVALIDARG;
  }
  if (!p.path.starts_with('/')) return E_INVALIDARG;
  std::string path;
  for (std::size_t i = 0; i < p.path.size(); ++i) {
    char c = p.path[i];
    if (c == '%') {
      if (i + 2 >= p.path.size()) return E_INVALIDARG;
      const int hi = HexValue(p.path[i + 1]), lo = HexValue(p.path[i + 2]);
      if (hi < 0 || lo < 0) return E_INVALIDARG;
      c = static_cast<char>(hi * 16 + lo);
      if (c == '\0' || c == '/') return E_INVALIDARG;
      i += 2;
    }
    path += c;
  }
  out = path;
  return S_OK;
}

std::string PathToFileUrl(const std::filesystem::path& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path.string()) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

HRESULT CombineUrl(std::string_view base, std::string_view reference, std::string& out) {
  const UriParts b = Split(WithoutFragment(base));
  if (!b.scheme) return E_INVALIDARG;
  const UriParts r = Split(reference);
  UriParts t;
  if (r.scheme) {
    t = r;
    t.path = RemoveDotSegments(r.path);
  } else {
    t.scheme = b.scheme;
    if (r.authority) {
      t.authority = r.authority;
      t.path = RemoveDotSegments(r.path);
      t.query = r.query;
    } else {
      t.authority = b.authority;
      if (r.path.empty()) {
        t.path = b.path;
        t.query = r.query ? r.query : b.query;
      } else {
        t.path = RemoveDotSegments(r.path.starts_with('/') ? r.path : Merge(b, r.path));
        t.query = r.query;
      }
    }
    t.fragment = r.fragment;
  }
  out = Join(t);
  return S_OK;
}

}  // namespace qv::platform
