#include "platform/registry/reg_names.h"

#include "common/hresult.h"

namespace qv::platform {
namespace {

// Length of the UTF-8 sequence starting at s[i], 0 when it is invalid.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (len > s.size() - i) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool HasControl(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = SequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) ++units;  // a lead byte starts one code point
    if ((b & 0xF8) == 0xF0) ++units;  // four-byte sequences need a surrogate pair
  }
  return units;
}

std::int32_t CheckKeyName(std::string_view name) {
  if (name.empty() || HasControl(name) || name.find('\\') != std::string_view::npos ||
      !IsValidUtf8(name)) {
    return win32::ERROR_INVALID_PARAMETER;
  }
  if (Utf16Length(name) > kMaxKeyNameChars) return win32::ERROR_FILENAME_EXCED_RANGE;
  return 0;
}

std::int32_t CheckValueName(std::string_view name) {
  if (HasControl(name) || !IsValidUtf8(name)) return win32::ERROR_INVALID_PARAMETER;
  if (Utf16Length(name) > kMaxValueNameChars) return win32::ERROR_FILENAME_EXCED_RANGE;
  return 0;
}

std::int32_t SplitKeyPath(std::string_view path, std::vector<std::string_view>& out) {
  out.clear();
  if (path.empty()) return 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    const std::string_view part =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (const std::int32_t rc = CheckKeyName(part); rc != 0) return rc;
    if (out.size() == kMaxKeyDepth) return win32::ERROR_FILENAME_EXCED_RANGE;
    out.push_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return 0;
}

}  // namespace qv::platform
