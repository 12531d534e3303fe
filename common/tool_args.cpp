#include "common/tool_args.h"

#include <cstdio>
#include <system_error>

namespace qv {

std::optional<std::uint64_t> ParseWholeNumber(std::string_view s, std::uint64_t max) {
  if (s.empty()) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (v > (max - digit) / 10) return std::nullopt;
    v = v * 10 + digit;
  }
  return v;
}

std::optional<std::filesystem::path> AbsolutePathArg(std::string_view s) {
  if (s.empty() || s.find('\0') != std::string_view::npos) return std::nullopt;
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(s), ec);
  if (ec) return std::nullopt;
  return p.lexically_normal();
}

namespace {
bool IsControl(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F;
}
}  // namespace

bool HasControlCharacter(std::string_view s) {
  for (char c : s) {
    if (IsControl(c)) return true;
  }
  return false;
}

std::string EscapeControls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (IsControl(c)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace qv
