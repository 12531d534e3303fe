#pragma once
// A thin RAII layer over SQLite: one connection, prepared statements, and the one mapping of
// SQLite result codes to HRESULTs.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::platform::indexing {

HRESULT HresultFromSqlite(int rc);

class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* s) : stmt_(s) {}
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(Statement&& o) noexcept : stmt_(o.stmt_) { o.stmt_ = nullptr; }
  Statement& operator=(Statement&& o) noexcept {
    if (this != &o) {
      sqlite3_finalize(stmt_);
      stmt_ = o.stmt_;
      o.stmt_ = nullptr;
    }
    return *this;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  void Bind(int i, double v) { sqlite3_bind_double(stmt_, i, v); }
  void Bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void BindNull(int i) { sqlite3_bind_null(stmt_, i); }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(stmt_); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  double Real(int col) const { return sqlite3_column_double(stmt_, col); }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  int Type(int col) const { return sqlite3_column_type(stmt_, col); }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class Database {
 public:
  Database() = default;
  ~Database() { sqlite3_close_v2(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens (or creates, when `create`) the file in WAL mode with a busy time-out.
  HRESULT Open(const std::filesystem::path& file, bool create, bool readOnly = false);
  HRESULT Exec(std::string_view sql, std::string* error = nullptr);
  HRESULT Prepare(std::string_view sql, Statement& out, std::string* error = nullptr) const;
  // Runs a statement that yields one integer (or none: `def`).
  HRESULT QueryInt(std::string_view sql, std::int64_t& out, std::int64_t def = 0) const;
  std::string LastError() const { return db_ ? sqlite3_errmsg(db_) : "no database"; }
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE on construction, ROLLBACK unless Commit() was called.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  HRESULT status() const { return status_; }
  HRESULT Commit();

 private:
  Database& db_;
  HRESULT status_;
  bool open_ = false;
};

}  // namespace qv::platform::indexing
