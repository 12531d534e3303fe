#pragma once
// Content types: what the first bytes of a document say about it, the charset an HTML
// document declares, and the type and charset of a response's Content-Type header.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qv::platform {

// The number of leading bytes the sniffers look at.
inline constexpr std::size_t kSniffBytes = 1024;

// "text/html", "text/xml", "text/plain", "image/gif", "image/png", "image/jpeg", "image/bmp",
// "application/pdf", "application/zip" or "application/octet-stream", from at most the first
// kSniffBytes of `data`. Markup is recognised by its opening tags (case-insensitive, after
// white space and a byte order mark); text is data without control bytes other than tab,
// line feed, carriage return and form feed.
std::string FindMimeFromData(std::span<const std::uint8_t> data);

// The charset an HTML document declares in a <meta charset=...> or <meta http-equiv=
// "Content-Type" content="...;charset=..."> within its first kSniffBytes; empty if none.
std::string FindHtmlCharset(std::span<const std::uint8_t> data);

// The value of a header in raw response headers ("Name: value" lines ended by CRLF or LF),
// the name compared without case; the first line (the status line) is not a header. Empty
// when missing.
std::string HeaderValue(std::string_view headers, std::string_view name);

struct ContentType {
  std::string type;     // lower case, e.g. "text/html"; empty when not given
  std::string charset;  // as written, without quotes; empty when not given
};
// "text/html; charset=\"UTF-8\"" → {"text/html", "UTF-8"}.
ContentType ParseContentType(std::string_view value);

}  // namespace qv::platform
