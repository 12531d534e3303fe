#include "platform/urlcache/mime_sniff.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "common/utf.h"

namespace qv::platform {
namespace {

std::string_view AsText(std::span<const std::uint8_t> data) {
  data = data.first(std::min(data.size(), kSniffBytes));
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view TrimSpace(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  s = TrimSpace(s);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    s = s.substr(1, s.size() - 2);
  }
  return s;
}

// Tags that mark a document as HTML when it starts with them.
constexpr std::array<std::string_view, 16> kHtmlTags = {
    "<!doctype html", "<html", "<head", "<body", "<title", "<script", "<iframe", "<frameset",
    "<table", "<font", "<br", "<p", "<a ", "<div", "<style", "<!--"};

bool IsTagEnd(char c) {
  return c == '>' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/';
}

// The charset parameter of a "type; a=b; charset=x" value.
std::string CharsetParam(std::string_view v) {
  std::size_t pos = 0;
  while (pos < v.size()) {
    const auto semi = v.find(';', pos);
    std::string_view param = v.substr(pos, semi == std::string_view::npos ? v.npos : semi - pos);
    pos = semi == std::string_view::npos ? v.size() : semi + 1;
    param = TrimSpace(param);
    const auto eq = param.find('=');
    if (eq != std::string_view::npos && EqualsNoCase(TrimSpace(param.substr(0, eq)), "charset")) {
      return std::string(Unquote(param.substr(eq + 1)));
    }
  }
  return {};
}

// The value of attribute `name` among the attributes of one tag (the text after "<meta").
bool AttributeValue(std::string_view tag, std::string_view name, std::string& out) {
  auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  std::size_t i = 0;
  while (i < tag.size()) {
    while (i < tag.size() && (space(tag[i]) || tag[i] == '/')) ++i;
    const std::size_t nameStart = i;
    while (i < tag.size() && !space(tag[i]) && tag[i] != '=' && tag[i] != '/') ++i;
    const std::string_view attr = tag.substr(nameStart, i - nameStart);
    if (attr.empty()) {
      ++i;
      continue;
    }
    while (i < tag.size() && space(tag[i])) ++i;
    std::string_view value;
    if (i < tag.size() && tag[i] == '=') {
      ++i;
      while (i < tag.size() && space(tag[i])) ++i;
      if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
        const char q = tag[i++];
        const auto close = tag.find(q, i);
        const std::size_t stop = close == std::string_view::npos ? tag.size() : close;
        value = tag.substr(i, stop - i);
        i = stop + 1;
      } else {
        const std::size_t vs = i;
        while (i < tag.size() && !space(tag[i])) ++i;
        value = tag.substr(vs, i - vs);
      }
    }
    if (EqualsNoCase(attr, name)) {
      out = std::string(value);
      return true;
    }
  }
  return false;
}

}  // namespace

std::string FindMimeFromData(std::span<const std::uint8_t> data) {
  std::string_view s = AsText(data);
  auto starts = [&](std::string_view magic) { return s.substr(0, magic.size()) == magic; };
  if (starts("GIF87a") || starts("GIF89a")) return "image/gif";
  if (starts("\x89PNG\r\n\x1a\n")) return "image/png";
  if (starts("\xFF\xD8\xFF")) return "image/jpeg";
  if (starts("BM") && s.size() >= 14) return "image/bmp";
  if (starts("%PDF-")) return "application/pdf";
  if (starts("PK\x03\x04")) return "application/zip";

  bool utf16 = false;
  if (starts("\xEF\xBB\xBF")) s.remove_prefix(3);
  else if (starts("\xFF\xFE") || starts("\xFE\xFF")) utf16 = true;
  if (utf16) return "text/plain";  // the sniffer reads 8-bit markup only

  const std::string_view body = TrimSpace(s);
  if (StartsWithNoCase(body, "<?xml")) {
    // XHTML declares itself XML first.
    const std::string lower = AsciiLower(body);
    if (lower.find("<html") != std::string::npos) return "text/html";
    return "text/xml";
  }
  for (auto tag : kHtmlTags) {
    if (!StartsWithNoCase(body, tag)) continue;
    const bool wholeWord = tag.back() == ' ' || tag == "<!--" || tag.size() == body.size() ||
                           IsTagEnd(body[tag.size()]);
    if (wholeWord) return "text/html";
  }
  for (unsigned char c : s) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1b) {
      return "application/octet-stream";
    }
  }
  return "text/plain";
}

std::string FindHtmlCharset(std::span<const std::uint8_t> data) {
  const std::string_view s = AsText(data);
  const std::string lower = AsciiLower(s);
  std::size_t pos = 0;
  while ((pos = lower.find("<meta", pos)) != std::string::npos) {
    const auto end = lower.find('>', pos);
    const std::string_view tag =
        s.substr(pos + 5, end == std::string::npos ? s.npos : end - pos - 5);
    pos += 5;
    std::string value;
    if (AttributeValue(tag, "charset", value) && !TrimSpace(value).empty()) {
      return std::string(TrimSpace(value));
    }
    std::string equiv, content;
    if (AttributeValue(tag, "http-equiv", equiv) && EqualsNoCase(TrimSpace(equiv), "content-type") &&
        AttributeValue(tag, "content", content)) {
      std::string cs = CharsetParam(content);
      if (!cs.empty()) return cs;
    }
  }
  return {};
}

std::string HeaderValue(std::string_view headers, std::string_view name) {
  bool first = true;
  while (!headers.empty()) {
    const auto nl = headers.find('\n');
    std::string_view line = headers.substr(0, nl);
    headers = nl == std::string_view::npos ? std::string_view{} : headers.substr(nl + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (std::exchange(first, false) && line.starts_with("HTTP/")) continue;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (EqualsNoCase(TrimSpace(line.substr(0, colon)), name)) {
      return std::string(TrimSpace(line.substr(colon + 1)));
    }
  }
  return {};
}

ContentType ParseContentType(std::string_view value) {
  ContentType ct;
  ct.type = AsciiLower(TrimSpace(value.substr(0, value.find(';'))));
  ct.charset = CharsetParam(value);
  return ct;
}

}  // namespace qv::platform
