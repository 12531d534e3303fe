#include "browser/addon/capture_rules.h"

#include <algorithm>

#include "browser/addon/addon_constants.h"
#include "common/utf.h"

namespace qv::browser {
namespace {

bool ContainsNoCase(std::string_view text, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    if (EqualsNoCase(text.substr(i, word.size()), word)) return true;
  }
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool ForbidsCaching(std::string_view headers) {
  while (!headers.empty()) {
    const auto end = headers.find('\n');
    const std::string_view line = headers.substr(0, end);
    headers = end == std::string_view::npos ? std::string_view{} : headers.substr(end + 1);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = line.substr(colon + 1);
    if (EqualsNoCase(name, "Cache-Control") &&
        (ContainsNoCase(value, "no-cache") || ContainsNoCase(value, "no-store"))) {
      return true;
    }
    if (EqualsNoCase(name, "Pragma") && ContainsNoCase(value, "no-cache")) return true;
    if (EqualsNoCase(name, "Vary")) return true;
  }
  return false;
}

}  // namespace

bool PageForbidsCaching(std::string_view requestHeaders, std::string_view responseHeaders) {
  return ForbidsCaching(responseHeaders) || ForbidsCaching(requestHeaders);
}

std::uint32_t ContinueContentHash(std::uint32_t h, std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) h ^= (h << 5) + (h >> 2) + b;
  return h;
}

std::size_t ReadBufferSize(std::size_t requested) {
  return std::clamp(requested, kMinReadBuffer, kMaxReadBuffer);
}

}  // namespace qv::browser
