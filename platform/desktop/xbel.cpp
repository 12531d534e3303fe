#include "platform/desktop/xbel.h"

#include <limits.h>

#include <charconv>

#include "common/utf.h"

namespace qv::platform {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// An attribute value with its entities replaced; false for an entity that is not XML's.
bool Unescape(std::string_view v, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < v.size();) {
    if (v[i] != '&') {
      out += v[i++];
      continue;
    }
    const auto semi = v.find(';', i);
    if (semi == std::string_view::npos || semi - i > 12) return false;
    const std::string_view ent = v.substr(i + 1, semi - i - 1);
    if (ent == "amp") out += '&';
    else if (ent == "lt") out += '<';
    else if (ent == "gt") out += '>';
    else if (ent == "quot") out += '"';
    else if (ent == "apos") out += '\'';
    else if (ent.size() > 1 && ent[0] == '#') {
      std::uint32_t cp = 0;
      const bool hex = ent[1] == 'x' || ent[1] == 'X';
      const std::string_view digits = ent.substr(hex ? 2 : 1);
      auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
      if (digits.empty() || ec != std::errc() || p != digits.data() + digits.size() || cp == 0 ||
          cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
      }
      AppendUtf8(out, cp);
    } else {
      return false;
    }
    i = semi + 1;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::vector<XbelBookmark> ParseXbel(std::string_view text, bool* complete) {
  std::vector<XbelBookmark> out;
  bool whole = true;
  constexpr std::string_view kTag = "<bookmark";
  std::size_t pos = 0;
  while ((pos = text.find(kTag, pos)) != std::string_view::npos) {
    std::size_t i = pos + kTag.size();
    pos = i;
    if (i >= text.size()) {
      whole = false;
      break;
    }
    if (!IsSpace(text[i]) && text[i] != '>' && text[i] != '/') continue;  // <bookmark:...>
    XbelBookmark b;
    bool ok = true, closed = false;
    std::string value;
    while (i < text.size()) {
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i >= text.size()) break;
      if (text[i] == '>' || text[i] == '/') {
        closed = text.find('>', i) != std::string_view::npos;
        break;
      }
      const std::size_t nameStart = i;
      while (i < text.size() && text[i] != '=' && !IsSpace(text[i]) && text[i] != '>') ++i;
      const std::string_view name = text.substr(nameStart, i - nameStart);
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i >= text.size() || text[i] != '=') {
        ok = false;
        break;
      }
      ++i;
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) {
        ok = false;
        break;
      }
      const char quote = text[i++];
      const auto end = text.find(quote, i);
      if (end == std::string_view::npos) {
        ok = false;
        i = text.size();
        break;
      }
      const std::string_view raw = text.substr(i, end - i);
      i = end + 1;
      if (raw.find('<') != std::string_view::npos || !Unescape(raw, value)) {
        ok = false;
        break;
      }
      if (name == "href") b.href = value;
      else if (name == "added") b.added = value;
      else if (name == "modified") b.modified = value;
      else if (name == "visited") b.visited = value;
    }
    pos = i;
    if (!ok || !closed) {
      whole = false;
      continue;
    }
    if (!b.href.empty()) out.push_back(std::move(b));
  }
  if (complete) *complete = whole;
  return out;
}

bool LocalPathFromFileUrl(std::string_view url, std::string& path) {
  constexpr std::string_view kScheme = "file://";
  if (url.size() < kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = url[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != kScheme[i]) return false;
  }
  std::string_view rest = url.substr(kScheme.size());
  if (rest.substr(0, 9) == "localhost") rest.remove_prefix(9);
  if (rest.empty() || rest.front() != '/') return false;  // a remote host, or no path
  std::string out;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '?' || c == '#') break;
    if (c == '%') {
      if (i + 2 >= rest.size()) return false;
      const int hi = HexDigit(rest[i + 1]), lo = HexDigit(rest[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return false;
    out += c;
  }
  if (out.size() > PATH_MAX - 1) return false;
  path = std::move(out);
  return true;
}

}  // namespace qv::platform
