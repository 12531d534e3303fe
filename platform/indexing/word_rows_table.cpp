#include "platform/indexing/word_rows_table.h"

#include <cstddef>
#include <memory>

#include "platform/indexing/sqlite_db.h"

namespace qv::platform::indexing {
namespace {

enum Column { kRid = 0, kHits = 1, kList = 2 };

struct Cursor {
  sqlite3_vtab_cursor base{};  // first: SQLite hands this back as the cursor
  std::span<const WordPosting> rows;
  std::size_t at = 0;
};

int Connect(sqlite3* db, void*, int, const char* const*, sqlite3_vtab** out, char**) {
  const int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(rid INTEGER, hits INTEGER, list HIDDEN)");
  if (rc != SQLITE_OK) return rc;
  *out = std::make_unique<sqlite3_vtab>().release();  // value-initialised, as SQLite expects
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* table) {
  std::unique_ptr<sqlite3_vtab> owned(table);
  return SQLITE_OK;
}

int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  // The list is the only way in: a plan without it would read nothing, so it is refused,
  // and the table stays the outer loop that docs is joined to by row id.
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& c = info->aConstraint[i];
    if (c.iColumn != kList || c.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
    if (!c.usable) return SQLITE_CONSTRAINT;
    info->aConstraintUsage[i].argvIndex = 1;
    info->aConstraintUsage[i].omit = 1;
    info->idxNum = 1;
    info->estimatedCost = 10.0;
    info->estimatedRows = 1000;
    if (info->nOrderBy == 1 && info->aOrderBy[0].iColumn == kRid && !info->aOrderBy[0].desc) {
      info->orderByConsumed = 1;
    }
    return SQLITE_OK;
  }
  return SQLITE_CONSTRAINT;
}

int Open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto cursor = std::make_unique<Cursor>();
  *out = &cursor.release()->base;
  return SQLITE_OK;
}

Cursor& Of(sqlite3_vtab_cursor* c) { return *reinterpret_cast<Cursor*>(c); }

int Close(sqlite3_vtab_cursor* c) {
  std::unique_ptr<Cursor> owned(&Of(c));
  return SQLITE_OK;
}

int Filter(sqlite3_vtab_cursor* c, int idxNum, const char*, int argc, sqlite3_value** argv) {
  Cursor& cur = Of(c);
  cur.rows = {};
  cur.at = 0;
  if (idxNum == 1 && argc == 1) {
    const void* list = sqlite3_value_pointer(argv[0], kWordRowsPointer);
    if (list) cur.rows = static_cast<const WordRows*>(list)->rows;
  }
  return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* c) {
  ++Of(c).at;
  return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor* c) { return Of(c).at >= Of(c).rows.size(); }

int ColumnValue(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int column) {
  const WordPosting& p = Of(c).rows[Of(c).at];
  switch (column) {
    case kRid: sqlite3_result_int64(ctx, p.rowid); break;
    case kHits: sqlite3_result_int64(ctx, p.hits); break;
    default: sqlite3_result_null(ctx); break;
  }
  return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* c, sqlite3_int64* out) {
  *out = Of(c).rows[Of(c).at].rowid;
  return SQLITE_OK;
}

// Eponymous only (no xCreate): never made by CREATE VIRTUAL TABLE.
sqlite3_module MakeModule() {
  sqlite3_module m{};
  m.xConnect = Connect;
  m.xBestIndex = BestIndex;
  m.xDisconnect = Disconnect;
  m.xOpen = Open;
  m.xClose = Close;
  m.xFilter = Filter;
  m.xNext = Next;
  m.xEof = Eof;
  m.xColumn = ColumnValue;
  m.xRowid = Rowid;
  return m;
}

const sqlite3_module kModule = MakeModule();

}  // namespace

HRESULT RegisterWordRows(sqlite3* db) {
  const int rc = sqlite3_create_module_v2(db, "qv_word_rows", &kModule, nullptr, nullptr);
  return rc == SQLITE_OK ? S_OK : HresultFromSqlite(rc);
}

}  // namespace qv::platform::indexing
