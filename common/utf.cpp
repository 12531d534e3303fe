#include "common/utf.h"

#include <algorithm>

namespace qv {
namespace {
constexpr char32_t kReplacement = 0xFFFD;
// A byte b that is not UTF-8 travels in UTF-16 as the lone surrogate kEscapedByteBase + b.
constexpr char32_t kEscapedByteBase = 0xDC00;

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes one code point at s[i], advancing i; invalid input yields U+FFFD and one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i, bool& ok) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ok = false;
    ++i;
    return kReplacement;
  }
  if (i + len > s.size()) {
    ok = false;
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ok = false;
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ok = false;
    ++i;
    return kReplacement;
  }
  i += len;
  return cp;
}
}  // namespace

std::u16string Utf8ToUtf16(std::string_view s, bool* ok) {
  std::u16string out;
  out.reserve(s.size());
  bool good = true;
  for (std::size_t i = 0; i < s.size();) AppendUtf16(out, DecodeUtf8(s, i, good));
  if (ok) *ok = good;
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s, bool* ok) {
  std::string out;
  out.reserve(s.size());
  bool good = true;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
      good = false;
    }
    AppendUtf8(out, cp);
  }
  if (ok) *ok = good;
  return out;
}

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  bool ok = true;
  std::size_t next = i;
  DecodeUtf8(s, next, ok);
  return ok ? next - i : 0;
}

std::u16string Utf8ToUtf16Escaped(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    bool ok = true;
    const std::size_t at = i;
    const char32_t cp = DecodeUtf8(s, i, ok);
    if (ok) {
      AppendUtf16(out, cp);
    } else {
      // Only bytes from 0x80 up can be invalid, so they land in U+DC80..U+DCFF.
      out += static_cast<char16_t>(kEscapedByteBase + static_cast<unsigned char>(s[at]));
    }
  }
  return out;
}

std::string Utf16ToUtf8Escaped(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= kEscapedByteBase + 0x80 && cp <= kEscapedByteBase + 0xFF) {
      out += static_cast<char>(cp - kEscapedByteBase);
      continue;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::vector<std::uint8_t> Utf8ToUtf16LeBytes(std::string_view s) {
  const std::u16string w = Utf8ToUtf16(s);
  std::vector<std::uint8_t> out;
  out.reserve(w.size() * 2);
  for (char16_t c : w) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

std::string Utf16LeBytesToUtf8(std::span<const std::uint8_t> bytes, bool* ok) {
  std::u16string w;
  w.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    w += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  bool good = bytes.size() % 2 == 0;
  bool inner = true;
  std::string out = Utf16ToUtf8(w, &inner);
  if (ok) *ok = good && inner;
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(AsciiLowerChar(a[i]));
    const auto y = static_cast<unsigned char>(AsciiLowerChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size();
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace qv
