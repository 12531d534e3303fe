#pragma once
// Text in a named charset (or Windows code page) to UTF-8, through the C library's iconv.
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::filters {

// False when the charset is unknown or the bytes are not text in it; `out` then holds
// nothing useful.
bool ConvertToUtf8(std::string_view bytes, std::string_view charset, std::string& out);
// "windows-<n>" for a Windows code page, with the names iconv knows for the common others
// (65001 UTF-8, 1200 UTF-16LE, 20127 US-ASCII, 28591.. ISO-8859-n, 932 Shift_JIS...).
std::string CharsetOfCodePage(std::uint32_t codePage);

}  // namespace qv::filters
