// LIKE patterns come from query text. Any pattern and text must match as SQLite's own LIKE
// matches them (the engine answers from memory what SQL would answer), without a crash.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/indexing/like_pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t split = data[0] % size;
  const std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view pattern = all.substr(0, split), text = all.substr(split);
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    sqlite3_open(":memory:", &d);
    return d;
  }();
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT ?2 LIKE ?1", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, pattern.data(), static_cast<int>(pattern.size()), SQLITE_STATIC);
  sqlite3_bind_text(st, 2, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  if (sqlite3_step(st) == SQLITE_ROW) {
    const bool expected = sqlite3_column_int(st, 0) != 0;
    if (qv::platform::indexing::LikeMatches(pattern, text) != expected) std::abort();
  }
  sqlite3_finalize(st);
  return 0;
}
