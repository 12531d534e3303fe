#include "tracer/item_string.h"

#include <cctype>

#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {

HRESULT ParseVisitMessage(const platform::CopyData& data, VisitMessage& out) {
  out = VisitMessage{};
  out.operation = hooks::VisitOperation(data.dwData);
  out.flags = hooks::VisitFlags(data.dwData);
  const std::size_t cb = data.bytes.size();
  if (data.nullData || cb < hooks::kMinVisitDataBytes || cb > hooks::kMaxVisitDataBytes) {
    return S_OK;
  }
  const std::size_t units = cb / 2 - 1;
  std::u16string text;
  text.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(data.bytes[2 * i] | (data.bytes[2 * i + 1] << 8));
    if (c == u'\0') break;
    text.push_back(c);
  }
  bool ok = true;
  std::string utf8 = Utf16ToUtf8(text, &ok);
  if (!ok) return E_INVALIDARG;
  if (const auto lf = utf8.find('\n'); lf != std::string::npos) {
    out.identifier = utf8.substr(0, lf);
    out.frameData = std::move(utf8);
  } else {
    out.identifier = std::move(utf8);
  }
  return S_OK;
}

std::string ReadScheme(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && i <= kMaxSchemeChars) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool ok = std::isalpha(c) != 0 ||
                    (i > 0 && (std::isdigit(c) != 0 || c == '+' || c == '-' || c == '.'));
    if (!ok) break;
    ++i;
  }
  if (i < 2 || i > kMaxSchemeChars || i >= s.size() || s[i] != ':') return {};
  return std::string(s.substr(0, i));
}

bool IsFileUrl(std::string_view s) { return EqualsNoCase(ReadScheme(s), "file"); }

std::string FileUrlFromPath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char ch : path) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) != 0 || std::string_view("/-._~!$&'()*+,;=:@").find(ch) !=
                                    std::string_view::npos) {
      url.push_back(ch);
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 15]);
    }
  }
  return url;
}

bool PathFromFileUrl(std::string_view url, std::string& path) {
  path.clear();
  if (!IsFileUrl(url)) return false;
  std::string_view rest = url.substr(5);
  if (rest.substr(0, 2) != "//") return false;
  rest.remove_prefix(2);
  // Only local files: an empty host or "localhost".
  const auto slash = rest.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view host = rest.substr(0, slash);
  if (!host.empty() && !EqualsNoCase(host, "localhost")) return false;
  rest.remove_prefix(slash);
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path.push_back(rest[i]);
      continue;
    }
    if (i + 2 >= rest.size()) return false;
    const int hi = hex(rest[i + 1]), lo = hex(rest[i + 2]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
    path.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

HRESULT ToIdentifier(std::string_view item, std::string& out) {
  out.clear();
  if (item.empty()) return E_INVALIDARG;
  if (!ReadScheme(item).empty()) {
    out = item;
    return S_OK;
  }
  if (item.front() != '/') return E_INVALIDARG;
  std::string url = FileUrlFromPath(item);
  if (url.size() > kMaxUrlChars) return E_INVALIDARG;
  out = std::move(url);
  return S_OK;
}

bool IsNoHistoryUrl(std::string_view url) {
  const std::string scheme = AsciiLower(ReadScheme(url));
  for (std::string_view s : {"about", "javascript", "vbscript", "res", "view-source"}) {
    if (scheme == s) return true;
  }
  return false;
}

bool SameIdentifier(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (IsFileUrl(a) && IsFileUrl(b)) return a.substr(5) == b.substr(5);
  return EqualsNoCase(a, b);
}

}  // namespace qv::tracer
