#include "client/preview_html.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "common/utf.h"
#include "provider/journal/not_indexed.h"

namespace qv::client {
namespace {

// Elements dropped with everything inside them.
constexpr std::array<std::string_view, 4> kDroppedWithContent = {"script", "style", "template",
                                                                 "title"};
// Elements dropped as tags; what is between them stays as text.
constexpr std::array<std::string_view, 12> kDroppedTags = {
    "iframe", "frame", "frameset", "object", "embed", "applet",
    "base",   "link",  "meta",     "param",  "portal", "noscript"};
// Attributes that load content when the page is shown.
constexpr std::array<std::string_view, 9> kLoadingAttributes = {
    "src", "srcset", "background", "poster", "data", "lowsrc", "dynsrc", "xlink:href", "action"};
constexpr std::array<std::string_view, 3> kLocalSchemes = {"file", "data", "cid"};
constexpr std::array<std::string_view, 5> kScriptSchemes = {"javascript:", "vbscript:",
                                                            "livescript:", "mocha:",
                                                            "data:text/html"};

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& list, std::string_view s) {
  for (auto x : list) {
    if (x == s) return true;
  }
  return false;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameChar(char c) {
  return IsAlpha(c) || (c >= '0' && c <= '9') || c == '-' || c == ':' || c == '_';
}

// The value as the browser would read it, for the checks only: numeric character references
// decoded, a few named ones that hide separators, then blanks and control characters gone,
// lower case.
std::string Normalised(std::string_view v) {
  std::string decoded;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '&') {
      if (i + 1 < v.size() && v[i + 1] == '#') {
        std::size_t j = i + 2;
        const bool hex = j < v.size() && (v[j] == 'x' || v[j] == 'X');
        if (hex) ++j;
        unsigned long cp = 0;
        std::size_t digits = 0;
        while (j < v.size()) {
          const char c = v[j];
          int d = -1;
          if (c >= '0' && c <= '9') d = c - '0';
          else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
          else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
          if (d < 0) break;
          // Leading zeros may be many; the value saturates instead of wrapping.
          if (cp < 0x110000) cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(d);
          ++j;
          ++digits;
        }
        if (digits > 0) {
          if (j < v.size() && v[j] == ';') ++j;
          if (cp < 0x80) decoded += static_cast<char>(cp);
          i = j - 1;
          continue;
        }
      }
      bool named = false;
      for (auto [ref, ch] : {std::pair<std::string_view, char>{"&colon;", ':'},
                             {"&tab;", '\t'}, {"&newline;", '\n'}, {"&sol;", '/'},
                             {"&bsol;", '\\'}, {"&lpar;", '('}}) {
        if (v.size() - i >= ref.size() && EqualsNoCase(v.substr(i, ref.size()), ref)) {
          decoded += ch;
          i += ref.size() - 1;
          named = true;
          break;
        }
      }
      if (named) continue;
    }
    decoded += v[i];
  }
  std::string out;
  for (char c : decoded) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) continue;
    out += AsciiLowerChar(c);
  }
  return out;
}

bool LoadsFromElsewhere(std::string_view normalised) {
  if (normalised.starts_with("//") || normalised.starts_with("\\\\") ||
      normalised.starts_with("/\\") || normalised.starts_with("\\/")) {
    return true;
  }
  const auto colon = normalised.find(':');
  if (colon == std::string_view::npos) return false;
  const auto slash = normalised.find_first_of("/?#");
  if (slash != std::string_view::npos && slash < colon) return false;  // a relative path
  return !OneOf(kLocalSchemes, normalised.substr(0, colon));
}

// srcset holds several addresses separated by commas.
bool AnyLoadsFromElsewhere(std::string_view name, const std::string& normalised) {
  if (name != "srcset") return LoadsFromElsewhere(normalised);
  std::size_t at = 0;
  while (at <= normalised.size()) {
    const auto comma = normalised.find(',', at);
    if (LoadsFromElsewhere(normalised.substr(at, comma == std::string::npos ? std::string::npos
                                                                            : comma - at))) {
      return true;
    }
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return false;
}

bool KeepAttribute(std::string_view name, std::string_view value, const HtmlCleaning& options) {
  if (name.starts_with("on")) return false;  // event handlers
  if (name == "formaction" || name == "srcdoc" || name == "http-equiv") return false;
  const std::string v = Normalised(value);
  for (auto scheme : kScriptSchemes) {
    if (v.find(scheme) != std::string::npos) return false;
  }
  if (name == "style") {
    // Style can load content (url(), @import) and, in old engines, run script (expression);
    // escapes could hide either, so a style with any of them goes whole.
    for (std::string_view bad : {"url", "expression", "import", "\\", "behavior", "binding"}) {
      if (v.find(bad) != std::string::npos) return false;
    }
  }
  if (!options.allowRemote && OneOf(kLoadingAttributes, name) && AnyLoadsFromElsewhere(name, v)) {
    return false;
  }
  return true;
}

void AppendAttributeValue(std::string& out, std::string_view raw) {
  // References in the value stay as written; only what could end the quoted value is escaped.
  for (char c : raw) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
}

// Position after the '>' that closes the tag starting at `at` (quotes respected), or npos.
std::size_t TagEnd(std::string_view s, std::size_t at) {
  char quote = 0;
  for (std::size_t i = at; i < s.size(); ++i) {
    if (quote) {
      if (s[i] == quote) quote = 0;
    } else if (s[i] == '"' || s[i] == '\'') {
      quote = s[i];
    } else if (s[i] == '>') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// Where the end tag </name ...> that closes a dropped element ends; the end of the text when
// there is none.
std::size_t AfterEndTag(std::string_view s, std::size_t from, std::string_view name) {
  for (std::size_t i = s.find("</", from); i != std::string_view::npos; i = s.find("</", i + 2)) {
    if (s.size() - (i + 2) >= name.size() && EqualsNoCase(s.substr(i + 2, name.size()), name) &&
        (i + 2 + name.size() == s.size() || !IsNameChar(s[i + 2 + name.size()]))) {
      const auto end = s.find('>', i);
      return end == std::string_view::npos ? s.size() : end + 1;
    }
  }
  return s.size();
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FileUrl(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : path) {
    const bool plain = IsAlpha(static_cast<char>(c)) || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string ImageWrapperText(std::string_view imagePath) {
  return std::string(kImageWrapperHead) + HtmlEscape(FileUrl(imagePath)) +
         std::string(kImageWrapperTail);
}

ImageWrapperFile::~ImageWrapperFile() { Clear(); }

void ImageWrapperFile::Clear() {
  if (!current_.empty()) ::unlink(current_.c_str());
  current_.clear();
}

HRESULT ImageWrapperFile::Write(std::string_view imagePath, std::filesystem::path& out) {
  Clear();
  std::string name = (folder_ / (std::string(kImageWrapperPrefix) + "XXXXXX.htm")).string();
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) return HresultFromErrno(errno);
  std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
  const auto text = Utf8ToUtf16LeBytes(ImageWrapperText(imagePath));
  bytes.insert(bytes.end(), text.begin(), text.end());
  std::size_t done = 0;
  HRESULT hr = S_OK;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      hr = HresultFromErrno(n < 0 ? errno : EIO);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (Failed(hr)) {
    ::unlink(name.c_str());
    return hr;
  }
  // Best effort: a file system without inode flags indexes nothing here anyway.
  [[maybe_unused]] const HRESULT ignored = journal::MarkNotContentIndexed(name);
  current_ = name;
  out = current_;
  return S_OK;
}

std::string CleanHtml(std::string_view s, const HtmlCleaning& options) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto lt = s.find('<', i);
    out.append(s.substr(i, lt == std::string_view::npos ? std::string_view::npos : lt - i));
    if (lt == std::string_view::npos) break;
    i = lt;
    if (s.substr(i, 4) == "<!--") {
      const auto end = s.find("-->", i + 4);
      i = end == std::string_view::npos ? s.size() : end + 3;
      continue;
    }
    if (i + 1 < s.size() && (s[i + 1] == '!' || s[i + 1] == '?')) {
      const auto end = s.find('>', i);
      i = end == std::string_view::npos ? s.size() : end + 1;
      continue;
    }
    const bool closing = i + 1 < s.size() && s[i + 1] == '/';
    std::size_t p = i + (closing ? 2 : 1);
    if (p >= s.size() || !IsAlpha(s[p])) {
      out += "&lt;";
      ++i;
      continue;
    }
    const std::size_t nameStart = p;
    while (p < s.size() && IsNameChar(s[p])) ++p;
    const std::string name = AsciiLower(s.substr(nameStart, p - nameStart));
    const std::size_t end = TagEnd(s, p);
    if (end == std::string_view::npos) break;  // an unfinished tag shows nothing
    if (closing) {
      if (!OneOf(kDroppedTags, name) && !OneOf(kDroppedWithContent, name)) {
        out += "</" + name + ">";
      }
      i = end;
      continue;
    }
    if (OneOf(kDroppedWithContent, name)) {
      i = AfterEndTag(s, end, name);
      continue;
    }
    if (OneOf(kDroppedTags, name)) {
      i = end;
      continue;
    }
    out += '<';
    out += name;
    // Attributes: name, optionally '=' and a quoted or bare value.
    std::size_t a = p;
    const std::size_t attrsEnd = end - 1;  // the '>'
    bool selfClosing = false;
    while (a < attrsEnd) {
      while (a < attrsEnd && (IsSpace(s[a]) || s[a] == '/')) {
        if (s[a] == '/') selfClosing = true;
        ++a;
      }
      if (a >= attrsEnd) break;
      selfClosing = false;
      const std::size_t an = a;
      while (a < attrsEnd && !IsSpace(s[a]) && s[a] != '/' && s[a] != '=' && s[a] != '>') ++a;
      if (a == an) {  // a stray '=' or quote: skip it
        ++a;
        continue;
      }
      const std::string attr = AsciiLower(s.substr(an, a - an));
      std::string_view value;
      bool hasValue = false;
      std::size_t b = a;
      while (b < attrsEnd && IsSpace(s[b])) ++b;
      if (b < attrsEnd && s[b] == '=') {
        ++b;
        while (b < attrsEnd && IsSpace(s[b])) ++b;
        hasValue = true;
        if (b < attrsEnd && (s[b] == '"' || s[b] == '\'')) {
          const char q = s[b];
          const auto close = s.find(q, b + 1);
          const std::size_t stop = close == std::string_view::npos || close > attrsEnd ? attrsEnd
                                                                                        : close;
          value = s.substr(b + 1, stop - b - 1);
          a = stop < attrsEnd ? stop + 1 : attrsEnd;
        } else {
          const std::size_t vs = b;
          while (b < attrsEnd && !IsSpace(s[b])) ++b;
          value = s.substr(vs, b - vs);
          a = b;
        }
      }
      bool cleanName = true;
      for (char c : attr) cleanName = cleanName && IsNameChar(c);
      if (!cleanName || !KeepAttribute(attr, value, options)) continue;
      out += ' ';
      out += attr;
      if (hasValue) {
        out += "=\"";
        AppendAttributeValue(out, value);
        out += '"';
      }
    }
    if (selfClosing) out += " /";
    out += '>';
    i = end;
  }
  return out;
}

}  // namespace qv::client
