#pragma once
// UTF-8 inside the program; UTF-16LE only where a format fixes the bytes.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Invalid UTF-8 sequences become U+FFFD; `ok`, when given, tells whether the input was valid.
std::u16string Utf8ToUtf16(std::string_view s, bool* ok = nullptr);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s, bool* ok = nullptr);
// The UTF-16LE bytes of a UTF-8 string, without terminator.
std::vector<std::uint8_t> Utf8ToUtf16LeBytes(std::string_view s);
// Decodes UTF-16LE bytes (an odd trailing byte is ignored, `ok` set false).
std::string Utf16LeBytesToUtf8(std::span<const std::uint8_t> bytes, bool* ok = nullptr);
// File names are bytes, not always UTF-8. These two keep such bytes reversibly: each byte
// that does not begin a valid UTF-8 sequence becomes a lone surrogate U+DC80..U+DCFF, and
// on the way back each such lone surrogate becomes its byte again, so any byte string
// survives the round trip exactly. Other lone surrogates become U+FFFD.
std::u16string Utf8ToUtf16Escaped(std::string_view s);
std::string Utf16ToUtf8Escaped(std::u16string_view s);
// The length of the valid UTF-8 sequence that starts at s[i] (1 to 4), or 0 when the byte
// there does not begin one.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);
// Appends one code point as UTF-8; values past U+10FFFF and surrogates become U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);
// ASCII-only lower-casing, used where keys compare without case.
constexpr char AsciiLowerChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiLower(std::string_view s);
// Case-insensitive comparison for ASCII letters; other bytes compare exactly.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Orders two texts the same way (SQLite's NOCASE): ASCII letters without case, other bytes
// unsigned; a text before every longer one it starts. Negative, zero or positive.
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace qv
