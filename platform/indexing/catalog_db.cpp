#include "platform/indexing/catalog_db.h"

#include <algorithm>
#include <system_error>

#include "common/guid.h"
#include "common/utf.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/stem_tokenizer.h"

namespace qv::platform::indexing {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS docs(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  dir TEXT NOT NULL,
  filename TEXT NOT NULL,
  size INTEGER NOT NULL DEFAULT 0,
  write REAL,
  attrib INTEGER NOT NULL DEFAULT 0,
  mtime_ns INTEGER NOT NULL DEFAULT 0,
  ctime_ns INTEGER NOT NULL DEFAULT 0,
  title TEXT,
  state INTEGER NOT NULL DEFAULT 0,
  seen INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS docs_dir ON docs(dir);
CREATE INDEX IF NOT EXISTS docs_pending ON docs(state) WHERE state <> 1;
CREATE TABLE IF NOT EXISTS propmap(key TEXT PRIMARY KEY, col TEXT NOT NULL UNIQUE,
                                   vt INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS requests(id INTEGER PRIMARY KEY, scope TEXT NOT NULL,
                                    full INTEGER NOT NULL);
)sql";

// The full-text table; its tokenizer is fixed when it is made (see stem_tokenizer.h).
std::string FtsSchema(std::span<const std::string> stemming) {
  // FTS5 reads quoted arguments of a tokenizer in single quotes, so the option is in double.
  return "CREATE VIRTUAL TABLE IF NOT EXISTS fts USING fts5(contents, props, tokenize = \"" +
         FtsTokenizeOption(stemming) + "\")";
}

std::pair<std::string, std::string> SplitPath(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {"", std::string(path)};
  const std::string dir = slash == 0 ? "/" : std::string(path.substr(0, slash));
  return {dir, std::string(path.substr(slash + 1))};
}

void BindValue(Statement& st, int i, const PropVariant& v) {
  switch (v.vt) {
    case VT_UI4: st.Bind(i, static_cast<std::int64_t>(v.ui4)); break;
    case VT_I4:
    case VT_I2: st.Bind(i, static_cast<std::int64_t>(v.i4)); break;
    case VT_DATE: st.Bind(i, v.date); break;
    case VT_LPWSTR:
    case VT_LPSTR: st.Bind(i, std::string_view(v.str)); break;
    case VT_CLSID: st.Bind(i, std::string_view(FormatGuid(v.clsid))); break;
    default: st.BindNull(i); break;
  }
}

}  // namespace

bool CoerceToColumn(const PropVariant& v, std::uint16_t vt, PropVariant& out) {
  switch (vt) {
    case VT_UI4:
      if (v.vt != VT_UI4) return false;
      out = v;
      return true;
    case VT_I4:
      if (v.vt != VT_I4 && v.vt != VT_I2) return false;
      out = PropVariant::I4(v.i4);
      return true;
    case VT_DATE:
      if (v.vt == VT_DATE) {
        out = v;
        return true;
      }
      if (v.vt == VT_FILETIME) {
        out = PropVariant::Date(FileTimeToDate(v.filetime));
        return true;
      }
      return false;
    case VT_LPWSTR:
    case VT_LPSTR:
      if (v.vt != VT_LPWSTR && v.vt != VT_LPSTR) return false;
      out = PropVariant::Lpwstr(v.str);
      return true;
    case VT_CLSID:
      if (v.vt != VT_CLSID) return false;
      out = v;
      return true;
    default:
      return false;
  }
}

std::filesystem::path CatalogDb::DatabasePath(const std::filesystem::path& location) {
  return location / kIndexFolder / kIndexDatabase;
}

HRESULT CatalogDb::Open(const std::filesystem::path& location,
                        std::span<const CachedProperty> props, std::unique_ptr<CatalogDb>& out,
                        std::span<const std::string> stemming) {
  std::error_code ec;
  ec = CreatePrivateFolders(location / kIndexFolder);
  if (ec) return HresultFromErrno(ec.value());
  std::unique_ptr<CatalogDb> c(new CatalogDb());
  HRESULT hr = c->db_.Open(DatabasePath(location), true);
  if (Failed(hr)) return hr;
  hr = RegisterStemTokenizer(c->db_.handle());
  if (Failed(hr)) return hr;
  hr = c->CreateSchema(stemming);
  if (Failed(hr)) return hr;
  hr = c->SyncColumns(props);
  if (Failed(hr)) return hr;
  hr = c->CountChanges();
  if (Failed(hr)) return hr;
  hr = c->PrepareWriters();
  if (Failed(hr)) return hr;
  out = std::move(c);
  return S_OK;
}

HRESULT CatalogDb::OpenForQuery(const std::filesystem::path& location,
                                std::unique_ptr<CatalogDb>& out) {
  const auto file = DatabasePath(location);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return STG_E_FILENOTFOUND;
  std::unique_ptr<CatalogDb> c(new CatalogDb());
  // Read-only: the last writer to close a catalog folds its log back and removes it, and a
  // reader that did the same would make every one-off search create and delete two files.
  HRESULT hr = c->db_.Open(file, false, true);
  if (Failed(hr)) return hr;
  hr = RegisterStemTokenizer(c->db_.handle());
  if (Failed(hr)) return hr;
  std::int64_t version = 0;
  hr = c->db_.QueryInt("SELECT value FROM meta WHERE key='schema'", version);
  if (Failed(hr)) return hr;
  if (version != kSchemaVersion) return STG_E_DOCFILECORRUPT;
  hr = c->LoadColumns();
  if (Failed(hr)) return hr;
  // A one-off query reads most pages once: a small page cache that reuses its buffers costs
  // it less than mapping the file or a large cache, whose every new page is a page fault.
  // Sorts stay in memory instead of temporary files.
  hr = c->db_.Exec("PRAGMA mmap_size=0; PRAGMA cache_size=-256; PRAGMA temp_store=MEMORY");
  if (Failed(hr)) return hr;
  out = std::move(c);
  return S_OK;
}

HRESULT CatalogDb::ReadOften() {
  // Pages once mapped stay mapped for every later query.
  return db_.Exec("PRAGMA mmap_size=268435456; PRAGMA cache_size=-32768");
}

HRESULT CatalogDb::CreateSchema(std::span<const std::string> stemming) {
  Transaction tx(db_);
  if (Failed(tx.status())) return tx.status();
  HRESULT hr = db_.Exec(kSchema);
  if (Failed(hr)) return hr;
  // An index made before stemming keeps its table and its tokenizer.
  hr = db_.Exec(FtsSchema(stemming));
  if (Failed(hr)) return hr;
  std::int64_t version = 0;
  hr = db_.QueryInt("SELECT value FROM meta WHERE key='schema'", version, 0);
  if (Failed(hr)) return hr;
  if (version == 0) {
    hr = db_.Exec("INSERT INTO meta(key, value) VALUES('schema', '1'), ('generation', '0')");
    if (Failed(hr)) return hr;
  } else if (version != kSchemaVersion) {
    return STG_E_DOCFILECORRUPT;
  }
  return tx.Commit();
}

HRESULT CatalogDb::LoadColumns() {
  columns_.clear();
  Statement st;
  HRESULT hr = db_.Prepare("SELECT key, col, vt FROM propmap ORDER BY col", st);
  if (Failed(hr)) return hr;
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) {
    columns_.push_back({st.Text(0), st.Text(1), static_cast<std::uint16_t>(st.Int(2))});
  }
  return HresultFromSqlite(rc);
}

HRESULT CatalogDb::SyncColumns(std::span<const CachedProperty> props) {
  HRESULT hr = LoadColumns();
  if (Failed(hr)) return hr;
  Transaction tx(db_);
  if (Failed(tx.status())) return tx.status();
  bool changed = false;
  for (const auto& p : props) {
    const std::string key = p.Key();
    PropColumn* existing = nullptr;
    for (auto& c : columns_) {
      if (c.key == key) existing = &c;
    }
    if (existing && existing->vt == p.vt) continue;
    Statement st;
    if (existing) {
      hr = db_.Prepare("UPDATE propmap SET vt=?1 WHERE key=?2", st);
      if (Failed(hr)) return hr;
      st.Bind(1, static_cast<std::int64_t>(p.vt));
      st.Bind(2, std::string_view(key));
      existing->vt = p.vt;
    } else {
      // Column names are ours (p<n>), never taken from outside input.
      std::int64_t next = 0;
      hr = db_.QueryInt("SELECT count(*) FROM propmap", next);
      if (Failed(hr)) return hr;
      const std::string col = "p" + std::to_string(next + 1);
      hr = db_.Exec("ALTER TABLE docs ADD COLUMN " + col);
      if (Failed(hr)) return hr;
      hr = db_.Prepare("INSERT INTO propmap(key, col, vt) VALUES(?1, ?2, ?3)", st);
      if (Failed(hr)) return hr;
      st.Bind(1, std::string_view(key));
      st.Bind(2, std::string_view(col));
      st.Bind(3, static_cast<std::int64_t>(p.vt));
      columns_.push_back({key, col, p.vt});
    }
    if (st.Step() != SQLITE_DONE) return HresultFromSqlite(sqlite3_errcode(db_.handle()));
    changed = true;
  }
  if (changed) {
    hr = db_.Exec("UPDATE docs SET state=2 WHERE state=1");
    if (Failed(hr)) return hr;
  }
  return tx.Commit();
}

HRESULT CatalogDb::CountChanges() {
  // The columns a query reads: all but the crawl's own bookkeeping (seen, and the stat stamps
  // that only come with a change of size, time or attributes). Property columns come and go
  // with the registry, so the trigger is made again when they change.
  std::string columns = "path, dir, filename, size, write, attrib, title, state";
  for (const PropColumn& c : columns_) columns += ", " + c.column;
  constexpr std::string_view kCount =
      " ON docs BEGIN UPDATE meta SET value = value + 1 WHERE key = 'changes'; END";
  const std::string update =
      "CREATE TRIGGER docs_changes_update AFTER UPDATE OF " + columns + std::string(kCount);
  Transaction tx(db_);
  if (Failed(tx.status())) return tx.status();
  Statement st;
  HRESULT hr = db_.Prepare(
      "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = 'docs_changes_update'", st);
  if (Failed(hr)) return hr;
  const bool current = st.Step() == SQLITE_ROW && st.Text(0) == update;
  st = Statement();
  if (current) return S_OK;  // unchanged: the schema (and every reader's cache) stays
  Guid instance;
  hr = NewGuid(instance);
  if (Failed(hr)) return hr;
  hr = db_.Exec("DROP TRIGGER IF EXISTS docs_changes_update; " + update + "; " +
                "CREATE TRIGGER IF NOT EXISTS docs_changes_insert AFTER INSERT" +
                std::string(kCount) + "; " +
                "CREATE TRIGGER IF NOT EXISTS docs_changes_delete AFTER DELETE" +
                std::string(kCount) + "; " +
                "INSERT OR IGNORE INTO meta(key, value) VALUES('instance', '" +
                FormatGuid(instance) + "'), ('changes', 0); " +
                // What happened before the count began is not known: count it as a change.
                "UPDATE meta SET value = value + 1 WHERE key = 'changes'");
  if (Failed(hr)) return hr;
  return tx.Commit();
}

HRESULT ReadChangeStamp(Database& db, ChangeStamp& out) {
  out = ChangeStamp{};
  Statement st;
  HRESULT hr = db.Prepare(
      "SELECT (SELECT value FROM meta WHERE key = 'instance'), "
      "(SELECT value FROM meta WHERE key = 'changes')", st);
  if (Failed(hr)) return hr;
  const int rc = st.Step();
  if (rc != SQLITE_ROW) return HresultFromSqlite(rc);
  if (st.Type(0) == SQLITE_NULL || st.Type(1) == SQLITE_NULL) return S_FALSE;
  out.instance = st.Text(0);
  out.changes = st.Int(1);
  return S_OK;
}

HRESULT CatalogDb::PrepareWriters() {
  HRESULT hr;
  if (Failed(hr = db_.Prepare("SELECT id, size, mtime_ns, ctime_ns, state FROM docs WHERE path=?1",
                              selectByPath_))) {
    return hr;
  }
  if (Failed(hr = db_.Prepare(
                 "INSERT INTO docs(path, dir, filename, size, write, attrib, mtime_ns, "
                 "ctime_ns, state, seen) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, ?9)",
                 insertDoc_))) {
    return hr;
  }
  if (Failed(hr = db_.Prepare(
                 "UPDATE docs SET size=?1, write=?2, attrib=?3, mtime_ns=?4, ctime_ns=?5, "
                 "state=?6, seen=?7 WHERE id=?8",
                 updateStat_))) {
    return hr;
  }
  if (Failed(hr = db_.Prepare("UPDATE docs SET seen=?1 WHERE id=?2", updateSeen_))) return hr;
  std::string setProps;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    setProps += ", " + columns_[i].column + "=?" + std::to_string(i + 4);
  }
  if (Failed(hr = db_.Prepare("UPDATE docs SET title=?1, state=?2" + setProps + " WHERE id=?3",
                              updateDoc_))) {
    return hr;
  }
  std::string onlyProps;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    onlyProps += ", " + columns_[i].column + "=?" + std::to_string(i + 3);
  }
  if (Failed(hr = db_.Prepare("UPDATE docs SET state=?1" + onlyProps + " WHERE id=?2",
                              updateProps_))) {
    return hr;
  }
  if (Failed(hr = db_.Prepare("DELETE FROM fts WHERE rowid=?1", deleteFts_))) return hr;
  return db_.Prepare("INSERT INTO fts(rowid, contents, props) VALUES(?1, ?2, ?3)", insertFts_);
}

const PropColumn* CatalogDb::ColumnOf(std::string_view key) const {
  for (const auto& c : columns_) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

HRESULT CatalogDb::NoteFile(const FileStat& st, std::int64_t gen, DocState& state) {
  selectByPath_.Reset();
  selectByPath_.Bind(1, std::string_view(st.path));
  int rc = selectByPath_.Step();
  if (rc == SQLITE_DONE) {
    const auto [dir, name] = SplitPath(st.path);
    insertDoc_.Reset();
    insertDoc_.Bind(1, std::string_view(st.path));
    insertDoc_.Bind(2, std::string_view(dir));
    insertDoc_.Bind(3, std::string_view(name));
    insertDoc_.Bind(4, st.size);
    insertDoc_.Bind(5, st.write);
    insertDoc_.Bind(6, static_cast<std::int64_t>(st.attrib));
    insertDoc_.Bind(7, st.mtimeNs);
    insertDoc_.Bind(8, st.ctimeNs);
    insertDoc_.Bind(9, gen);
    rc = insertDoc_.Step();
    state = DocState::NeedsFilter;
    return rc == SQLITE_DONE ? S_OK : HresultFromSqlite(rc);
  }
  if (rc != SQLITE_ROW) return HresultFromSqlite(rc);
  const std::int64_t id = selectByPath_.Int(0);
  const bool sameData = selectByPath_.Int(1) == st.size && selectByPath_.Int(2) == st.mtimeNs;
  const bool sameMeta = selectByPath_.Int(3) == st.ctimeNs;
  state = static_cast<DocState>(selectByPath_.Int(4));
  selectByPath_.Reset();
  if (sameData && sameMeta) {
    updateSeen_.Reset();
    updateSeen_.Bind(1, gen);
    updateSeen_.Bind(2, id);
    rc = updateSeen_.Step();
    return rc == SQLITE_DONE ? S_OK : HresultFromSqlite(rc);
  }
  if (!sameData) {
    state = DocState::NeedsFilter;
  } else if (state == DocState::Filtered) {
    state = DocState::NeedsProperties;
  }
  updateStat_.Reset();
  updateStat_.Bind(1, st.size);
  updateStat_.Bind(2, st.write);
  updateStat_.Bind(3, static_cast<std::int64_t>(st.attrib));
  updateStat_.Bind(4, st.mtimeNs);
  updateStat_.Bind(5, st.ctimeNs);
  updateStat_.Bind(6, static_cast<std::int64_t>(state));
  updateStat_.Bind(7, gen);
  updateStat_.Bind(8, id);
  rc = updateStat_.Step();
  return rc == SQLITE_DONE ? S_OK : HresultFromSqlite(rc);
}

HRESULT CatalogDb::Pending(std::size_t limit, std::vector<PendingDoc>& out) {
  out.clear();
  Statement st;
  HRESULT hr = db_.Prepare(
      // Written so that the index of unfinished documents answers it, in its own order: a
      // scan of every document for each batch made a large crawl quadratic.
      "SELECT id, path, state FROM docs WHERE state <> 1 AND state IN (0, 2) "
      "ORDER BY state, id LIMIT ?1",
      st);
  if (Failed(hr)) return hr;
  st.Bind(1, static_cast<std::int64_t>(limit));
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) {
    out.push_back({st.Int(0), st.Text(1), static_cast<DocState>(st.Int(2))});
  }
  return HresultFromSqlite(rc);
}

HRESULT CatalogDb::StoreDocument(std::int64_t id, const DocContent& content, DocState newState) {
  updateDoc_.Reset();
  if (content.title.empty()) {
    updateDoc_.BindNull(1);
  } else {
    updateDoc_.Bind(1, std::string_view(content.title));
  }
  updateDoc_.Bind(2, static_cast<std::int64_t>(newState));
  updateDoc_.Bind(3, id);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    updateDoc_.BindNull(static_cast<int>(i + 4));
    for (const auto& [key, value] : content.props) {
      if (key == columns_[i].key) BindValue(updateDoc_, static_cast<int>(i + 4), value);
    }
  }
  int rc = updateDoc_.Step();
  if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  deleteFts_.Reset();
  deleteFts_.Bind(1, id);
  rc = deleteFts_.Step();
  if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  insertFts_.Reset();
  insertFts_.Bind(1, id);
  insertFts_.Bind(2, std::string_view(content.contents));
  insertFts_.Bind(3, std::string_view(content.propText));
  rc = insertFts_.Step();
  return rc == SQLITE_DONE ? S_OK : HresultFromSqlite(rc);
}

HRESULT CatalogDb::StoreProperties(std::int64_t id,
                                   std::span<const std::pair<std::string, PropVariant>> props) {
  updateProps_.Reset();
  updateProps_.Bind(1, static_cast<std::int64_t>(DocState::Filtered));
  updateProps_.Bind(2, id);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    updateProps_.BindNull(static_cast<int>(i + 3));
    for (const auto& [key, value] : props) {
      if (key == columns_[i].key) BindValue(updateProps_, static_cast<int>(i + 3), value);
    }
  }
  const int rc = updateProps_.Step();
  return rc == SQLITE_DONE ? S_OK : HresultFromSqlite(rc);
}

HRESULT CatalogDb::MarkState(std::int64_t id, DocState state) {
  Statement st;
  HRESULT hr = db_.Prepare("UPDATE docs SET state=?1 WHERE id=?2", st);
  if (Failed(hr)) return hr;
  st.Bind(1, static_cast<std::int64_t>(state));
  st.Bind(2, id);
  return HresultFromSqlite(st.Step());
}

HRESULT CatalogDb::MergeFullText(int pages, bool& more) {
  more = false;
  // A negative count merges segments of every level, two or more at a time; FTS5 changes
  // at least two rows when it did some work.
  const sqlite3_int64 before = sqlite3_total_changes64(db_.handle());
  const HRESULT hr = db_.Exec("INSERT INTO fts(fts, rank) VALUES('merge', " +
                              std::to_string(-std::max(pages, 1)) + ")");
  if (Failed(hr)) return hr;
  more = sqlite3_total_changes64(db_.handle()) - before >= 2;
  return S_OK;
}

HRESULT CatalogDb::RemoveUnseen(std::int64_t gen, std::int64_t& removed) {
  removed = 0;
  HRESULT hr = db_.Exec(
      "DELETE FROM fts WHERE rowid IN (SELECT id FROM docs WHERE seen < " + std::to_string(gen) +
      ")");
  if (Failed(hr)) return hr;
  Statement st;
  hr = db_.Prepare("DELETE FROM docs WHERE seen < ?1", st);
  if (Failed(hr)) return hr;
  st.Bind(1, gen);
  const int rc = st.Step();
  if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  removed = sqlite3_changes(db_.handle());
  return S_OK;
}

HRESULT CatalogDb::RemovePath(std::string_view path, std::int64_t& removed) {
  removed = 0;
  // The folder's own row and everything whose path starts with "<path>/": '0' is the
  // character after '/', so the range is exactly that prefix.
  const std::string lo = std::string(path) + "/";
  const std::string hi = std::string(path) + "0";
  const char* where = "(path = ?1 OR (path >= ?2 AND path < ?3))";
  for (const std::string& sql :
       {std::string("DELETE FROM fts WHERE rowid IN (SELECT id FROM docs WHERE ") + where + ")",
        std::string("DELETE FROM docs WHERE ") + where}) {
    Statement st;
    HRESULT hr = db_.Prepare(sql, st);
    if (Failed(hr)) return hr;
    st.Bind(1, path);
    st.Bind(2, std::string_view(lo));
    st.Bind(3, std::string_view(hi));
    const int rc = st.Step();
    if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  }
  removed = sqlite3_changes(db_.handle());
  return S_OK;
}

namespace {
// The document at `folder` and everything whose path starts with "<folder>/": '0' is the
// character after '/', so the range is exactly that prefix. An empty folder is every path.
struct PathRange {
  explicit PathRange(std::string_view folder)
      : path(folder), lo(path + "/"), hi(path + "0") {}
  std::string path, lo, hi;
  bool all() const { return path.empty(); }
  // Binds ?1..?3 of kWhere.
  void Bind(Statement& st) const {
    st.Bind(1, std::string_view(path));
    st.Bind(2, std::string_view(lo));
    st.Bind(3, std::string_view(hi));
  }
  static constexpr const char* kWhere = "(?1 = '' OR path = ?1 OR (path >= ?2 AND path < ?3))";
};
}  // namespace

HRESULT CatalogDb::MarkForRescan(std::string_view folder, std::int64_t gen, bool refilter) {
  const PathRange range(folder);
  Statement st;
  HRESULT hr = db_.Prepare(std::string("UPDATE docs SET seen = min(seen, ?4)") +
                               (refilter ? ", state = 0" : "") + " WHERE " + PathRange::kWhere,
                           st);
  if (Failed(hr)) return hr;
  range.Bind(st);
  st.Bind(4, gen - 1);
  const int rc = st.Step();
  return rc == SQLITE_DONE ? S_OK : HresultFromSqlite(rc);
}

HRESULT CatalogDb::RemoveUnseenBelow(std::string_view folder, std::int64_t gen,
                                     std::int64_t& removed) {
  removed = 0;
  const PathRange range(folder);
  const std::string where = std::string(PathRange::kWhere) + " AND seen < ?4";
  for (const std::string& sql :
       {"DELETE FROM fts WHERE rowid IN (SELECT id FROM docs WHERE " + where + ")",
        "DELETE FROM docs WHERE " + where}) {
    Statement st;
    HRESULT hr = db_.Prepare(sql, st);
    if (Failed(hr)) return hr;
    range.Bind(st);
    st.Bind(4, gen);
    const int rc = st.Step();
    if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  }
  removed = sqlite3_changes(db_.handle());
  return S_OK;
}

HRESULT CatalogDb::FindDocument(std::string_view path, std::int64_t& id, DocState& state) {
  Statement st;
  HRESULT hr = db_.Prepare("SELECT id, state FROM docs WHERE path=?1", st);
  if (Failed(hr)) return hr;
  st.Bind(1, path);
  const int rc = st.Step();
  if (rc == SQLITE_DONE) return S_FALSE;
  if (rc != SQLITE_ROW) return HresultFromSqlite(rc);
  id = st.Int(0);
  state = static_cast<DocState>(st.Int(1));
  return S_OK;
}

HRESULT CatalogDb::Counts(std::int64_t& total, std::int64_t& pending) {
  HRESULT hr = db_.QueryInt("SELECT count(*) FROM docs", total);
  if (Failed(hr)) return hr;
  return PendingCount(pending);
}

HRESULT CatalogDb::PendingCount(std::int64_t& pending) {
  return db_.QueryInt("SELECT count(*) FROM docs WHERE state <> 1 AND state IN (0, 2)", pending);
}

HRESULT CatalogDb::GetMeta(std::string_view key, std::string& value) {
  Statement st;
  HRESULT hr = db_.Prepare("SELECT value FROM meta WHERE key=?1", st);
  if (Failed(hr)) return hr;
  st.Bind(1, key);
  const int rc = st.Step();
  if (rc == SQLITE_DONE) return S_FALSE;
  if (rc != SQLITE_ROW) return HresultFromSqlite(rc);
  value = st.Text(0);
  return S_OK;
}

HRESULT CatalogDb::SetMeta(std::string_view key, std::string_view value) {
  Statement st;
  HRESULT hr = db_.Prepare("INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)", st);
  if (Failed(hr)) return hr;
  st.Bind(1, key);
  st.Bind(2, value);
  return HresultFromSqlite(st.Step());
}

HRESULT CatalogDb::AddRequest(std::string_view scope, bool full) {
  Statement st;
  HRESULT hr = db_.Prepare("INSERT INTO requests(scope, full) VALUES(?1, ?2)", st);
  if (Failed(hr)) return hr;
  st.Bind(1, scope);
  st.Bind(2, static_cast<std::int64_t>(full ? 1 : 0));
  return HresultFromSqlite(st.Step());
}

HRESULT CatalogDb::TakeRequests(std::vector<Request>& out) {
  out.clear();
  Transaction tx(db_);
  if (Failed(tx.status())) return tx.status();
  Statement st;
  HRESULT hr = db_.Prepare("SELECT id, scope, full FROM requests ORDER BY id", st);
  if (Failed(hr)) return hr;
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) out.push_back({st.Int(0), st.Text(1), st.Int(2) != 0});
  if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  hr = db_.Exec("DELETE FROM requests");
  if (Failed(hr)) return hr;
  return tx.Commit();
}

}  // namespace qv::platform::indexing
