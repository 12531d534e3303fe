#include "platform/indexing/sqlite_db.h"

#include "platform/fs/private_files.h"

namespace qv::platform::indexing {

HRESULT HresultFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return S_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return HresultFromWin32(win32::ERROR_BUSY);
    case SQLITE_NOMEM: return E_OUTOFMEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return E_ACCESSDENIED;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return STG_E_DOCFILECORRUPT;
    case SQLITE_FULL: return STG_E_MEDIUMFULL;
    case SQLITE_CANTOPEN: return STG_E_PATHNOTFOUND;
    case SQLITE_IOERR: return STG_E_WRITEFAULT;
    case SQLITE_TOOBIG: return HresultFromWin32(win32::ERROR_INSUFFICIENT_BUFFER);
    default: return E_FAIL;
  }
}

HRESULT Database::Open(const std::filesystem::path& file, bool create, bool readOnly) {
  int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  if (create && !readOnly) flags |= SQLITE_OPEN_CREATE;
  flags |= SQLITE_OPEN_NOMUTEX;
  // SQLite gives its -wal, -shm and -journal files the database's mode: make that 0600 first
  // (a failure here shows as SQLite's own error below).
  if (create && !readOnly) (void)CreatePrivateFile(file);
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return HresultFromSqlite(rc);
  }
  sqlite3_close_v2(db_);
  db_ = db;
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 10000);
  if (!readOnly) {
    HRESULT hr = Exec("PRAGMA journal_mode=WAL");
    if (Failed(hr)) return hr;
    // WAL with NORMAL sync: a crash of the process loses nothing committed, and a crash of
    // the machine loses at most the last transactions, never consistency.
    hr = Exec("PRAGMA synchronous=NORMAL");
    if (Failed(hr)) return hr;
  }
  return S_OK;
}

HRESULT Database::Exec(std::string_view sql, std::string* error) {
  char* msg = nullptr;
  const int rc = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &msg);
  if (rc != SQLITE_OK && error) *error = msg ? msg : sqlite3_errstr(rc);
  sqlite3_free(msg);
  return HresultFromSqlite(rc);
}

HRESULT Database::Prepare(std::string_view sql, Statement& out, std::string* error) const {
  sqlite3_stmt* s = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &s, nullptr);
  if (rc != SQLITE_OK) {
    if (error) *error = sqlite3_errmsg(db_);
    sqlite3_finalize(s);
    return HresultFromSqlite(rc);
  }
  out = Statement(s);
  return S_OK;
}

HRESULT Database::QueryInt(std::string_view sql, std::int64_t& out, std::int64_t def) const {
  Statement st;
  HRESULT hr = Prepare(sql, st);
  if (Failed(hr)) return hr;
  const int rc = st.Step();
  if (rc == SQLITE_ROW) {
    out = st.IsNull(0) ? def : st.Int(0);
    return S_OK;
  }
  out = def;
  return HresultFromSqlite(rc);
}

Transaction::Transaction(Database& db) : db_(db), status_(db.Exec("BEGIN IMMEDIATE")) {
  open_ = Succeeded(status_);
}

Transaction::~Transaction() {
  if (open_) db_.Exec("ROLLBACK");
}

HRESULT Transaction::Commit() {
  if (!open_) return Failed(status_) ? status_ : E_UNEXPECTED;
  const HRESULT hr = db_.Exec("COMMIT");
  if (Succeeded(hr)) open_ = false;
  return hr;
}

}  // namespace qv::platform::indexing
