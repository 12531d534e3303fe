#pragma once
// LIKE as the catalogs' SQL reads it: '%' matches any run of characters, '_' one character
// (a UTF-8 sequence), ASCII letters match without case and every other byte exactly, and text
// ends at its first NUL. Matching in C++ spares a call into SQLite for every row.
#include <string_view>

namespace qv::platform::indexing {

bool LikeMatches(std::string_view pattern, std::string_view text);

}  // namespace qv::platform::indexing
