#include "platform/browser/url_history.h"

#include <sqlite3.h>

#include <system_error>

#include "common/hresult.h"
#include "platform/fs/private_files.h"

namespace qv::platform {
namespace {

std::string_view WithoutFragment(std::string_view url) {
  const auto hash = url.find('#');
  return hash == std::string_view::npos ? url : url.substr(0, hash);
}

std::int32_t SqliteError(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return win32::ERROR_LOCK_VIOLATION;
    case SQLITE_FULL: return win32::ERROR_DISK_FULL;
    case SQLITE_CANTOPEN: return win32::ERROR_CANTOPEN;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return win32::ERROR_BADDB;
    case SQLITE_READONLY:
    case SQLITE_PERM: return win32::ERROR_ACCESS_DENIED;
    default: return win32::ERROR_CANTREAD;
  }
}

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int rc() const { return rc_; }
  sqlite3_stmt* get() const { return stmt_; }
  void Text(int i, std::string_view s) {
    // An empty view may have no data pointer, which SQLite would take for NULL.
    sqlite3_bind_text(stmt_, i, s.empty() ? "" : s.data(), static_cast<int>(s.size()),
                      SQLITE_TRANSIENT);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

constexpr const char* kSchema =
    "PRAGMA journal_mode=WAL;"
    "CREATE TABLE IF NOT EXISTS history("
    " url TEXT PRIMARY KEY, title TEXT NOT NULL, toplevel INTEGER NOT NULL,"
    " last_visit INTEGER NOT NULL, visits INTEGER NOT NULL);";

}  // namespace

std::int32_t UrlHistory::Open(const std::filesystem::path& root, std::unique_ptr<UrlHistory>& out) {
  std::error_code ec;
  const auto folder = root / "History";
  ec = CreatePrivateFolders(folder);
  if (ec) return Win32FromErrno(ec.value());
  sqlite3* db = nullptr;
  const auto file = folder / "UrlHistory.sqlite";
  // SQLite gives its -wal and -shm files the database's mode: make that 0600 first.
  if ((ec = CreatePrivateFile(file))) return Win32FromErrno(ec.value());
  int rc = sqlite3_open_v2(file.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    return SqliteError(rc);
  }
  std::unique_ptr<UrlHistory> h(new UrlHistory(db));
  sqlite3_busy_timeout(db, 2000);
  rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return SqliteError(rc);
  out = std::move(h);
  return 0;
}

UrlHistory::~UrlHistory() { sqlite3_close(db_); }

std::int32_t UrlHistory::AddVisit(std::string_view url, std::string_view title, bool topLevel,
                                  FileTime when) {
  url = WithoutFragment(url);
  if (url.empty() || url.size() > kMaxHistoryUrl || title.size() > kMaxHistoryTitle) {
    return win32::ERROR_INVALID_PARAMETER;
  }
  Statement st(db_,
               "INSERT INTO history(url, title, toplevel, last_visit, visits) VALUES(?1, ?2, ?3, ?4, 1)"
               " ON CONFLICT(url) DO UPDATE SET"
               " title = CASE WHEN ?2 = '' THEN title ELSE ?2 END,"
               " toplevel = MAX(toplevel, ?3), last_visit = MAX(last_visit, ?4), visits = visits + 1");
  if (st.rc() != SQLITE_OK) return SqliteError(st.rc());
  st.Text(1, url);
  st.Text(2, title);
  sqlite3_bind_int(st.get(), 3, topLevel ? 1 : 0);
  sqlite3_bind_int64(st.get(), 4, static_cast<sqlite3_int64>(when));
  const int rc = sqlite3_step(st.get());
  return rc == SQLITE_DONE ? 0 : SqliteError(rc);
}

std::int32_t UrlHistory::Query(std::string_view url, HistoryEntry& out) const {
  url = WithoutFragment(url);
  if (url.empty() || url.size() > kMaxHistoryUrl) return win32::ERROR_INVALID_PARAMETER;
  Statement st(db_, "SELECT url, title, toplevel, last_visit, visits FROM history WHERE url = ?1");
  if (st.rc() != SQLITE_OK) return SqliteError(st.rc());
  st.Text(1, url);
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return win32::ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  auto text = [&](int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), col));
    return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st.get(), col)));
  };
  out.url = text(0);
  out.title = text(1);
  out.topLevel = sqlite3_column_int(st.get(), 2) != 0;
  out.lastVisit = static_cast<FileTime>(sqlite3_column_int64(st.get(), 3));
  out.visits = static_cast<std::uint32_t>(sqlite3_column_int64(st.get(), 4));
  return 0;
}

}  // namespace qv::platform
