#pragma once
// A word's rows, as the word reader lists them, as a table that a statement joins:
//
//   SELECT ... FROM qv_word_rows(?) r JOIN docs d ON d.id = r.rid
//
// with the list bound to the parameter by sqlite3_bind_pointer under kWordRowsPointer. It
// gives the rows in row id order with their hits, so that a one-off search of a common word
// pays neither FTS5's cursor nor an auxiliary function call per row. A statement without the
// list bound lists nothing.
#include <sqlite3.h>

#include <span>

#include "common/hresult.h"
#include "platform/indexing/fts_postings.h"

namespace qv::platform::indexing {

struct WordRows {
  std::span<const WordPosting> rows;
};

inline constexpr const char* kWordRowsPointer = "qv_word_rows";

// Registers the table function qv_word_rows on a connection, once.
HRESULT RegisterWordRows(sqlite3* db);

}  // namespace qv::platform::indexing
