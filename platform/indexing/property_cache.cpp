#include "platform/indexing/property_cache.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "platform/indexing/fts_rank.h"

namespace qv::platform::indexing {
namespace {

// The documents' own columns, as the executor names them (path and dir first, as
// kCachePath and kCacheDir say), then one per cached property.
constexpr std::string_view kDocColumns[] = {"path", "dir", "filename", "size", "write",
                                            "attrib", "title"};
static_assert(std::size(kDocColumns) == kCacheDocColumns);

}  // namespace

HRESULT PropertyCache::DataVersion(Database& db, std::int64_t& version) {
  // Read a table first: that starts the caller's read transaction, and the version then
  // belongs to that snapshot.
  HRESULT hr = db.QueryInt("SELECT count(*) FROM meta", version);
  if (Failed(hr)) return hr;
  return db.QueryInt("PRAGMA data_version", version);
}

bool PropertyCache::Current(std::int64_t version, std::size_t properties) const {
  return dataVersion_ == version && columns_.size() == std::size(kDocColumns) + properties;
}

HRESULT PropertyCache::Load(Database& db, std::span<const PropColumn> props,
                            std::int64_t version, std::shared_ptr<const PropertyCache>& out) {
  if (std::size(kDocColumns) + props.size() > kMaxColumns) return E_NOTIMPL;
  auto fresh = std::make_shared<PropertyCache>();
  const HRESULT hr = fresh->Fill(db, props);
  if (Failed(hr)) return hr;
  fresh->dataVersion_ = version;
  out = std::move(fresh);
  return S_OK;
}

std::vector<std::string> PropertyCache::ColumnExprs(std::span<const PropColumn> props) {
  std::vector<std::string> exprs;
  for (std::string_view c : kDocColumns) exprs.push_back("d." + std::string(c));
  for (const PropColumn& p : props) exprs.push_back("d." + p.column);
  return exprs;
}

HRESULT PropertyCache::Fill(Database& db, std::span<const PropColumn> props) {
  const std::vector<std::string> exprs = ColumnExprs(props);
  const std::size_t ncols = exprs.size();
  columns_.assign(ncols, {});
  std::string sql = "SELECT id";
  for (std::size_t c = 0; c < ncols; ++c) {
    columns_[c].expr = exprs[c];
    sql += ", " + exprs[c].substr(2);
  }
  sql += " FROM docs WHERE state <> 0 ORDER BY id";
  Statement st;
  HRESULT hr = db.Prepare(sql, st);
  if (Failed(hr)) return hr;
  Filled& f = filled_;
  // Text goes to one buffer; offsets stay valid as it grows.
  int rc;
  while ((rc = st.Step()) == SQLITE_ROW) {
    f.ids.push_back(st.Int(0));
    if (f.cells.size() > UINT32_MAX - ncols) return E_OUTOFMEMORY;
    f.first.push_back(static_cast<std::uint32_t>(f.cells.size()));
    std::uint64_t& present = f.present.emplace_back(0);
    for (std::size_t c = 0; c < ncols; ++c) {
      Column& col = columns_[c];
      const int at = static_cast<int>(c + 1);
      const int type = st.Type(at);
      col.allText = col.allText && (type == SQLITE_NULL || type == SQLITE_TEXT);
      col.allInteger = col.allInteger && (type == SQLITE_NULL || type == SQLITE_INTEGER);
      col.allNumber = col.allNumber && (type == SQLITE_NULL || type == SQLITE_INTEGER ||
                                        type == SQLITE_FLOAT);
      col.everyRowReal = col.everyRowReal && type == SQLITE_FLOAT;
      if (type == SQLITE_NULL) continue;
      present |= std::uint64_t{1} << c;
      Stored& cell = f.cells.emplace_back();
      cell.type = static_cast<std::uint8_t>(type);
      switch (type) {
        case SQLITE_INTEGER: cell.value = st.Int(at); break;
        case SQLITE_FLOAT: {
          const double d = st.Real(at);
          std::memcpy(&cell.value, &d, sizeof d);
          break;
        }
        default: {  // text; a blob is kept as its bytes and read as text, as SQLite does
          const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), at));
          if (!p) return E_OUTOFMEMORY;  // SQLite could not make the text
          cell.length = static_cast<std::uint32_t>(sqlite3_column_bytes(st.get(), at));
          cell.value = static_cast<std::int64_t>(f.text.size());
          f.text.append(p, cell.length);
          break;
        }
      }
    }
  }
  if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  textHasNul_ = f.text.find('\0') != std::string::npos;
  const std::size_t rows = f.ids.size();
  f.tokens.assign(rows, 0);
  f.pathOrder.resize(rows);
  f.reals.resize(ncols);
  // Ids are handed out in order and few are ever deleted: a table from id to row is small
  // and spares a search per full-text match.
  if (rows && f.ids.front() >= 0 && static_cast<std::uint64_t>(f.ids.back()) < 8 * rows + 1024) {
    f.rowOfId.assign(static_cast<std::size_t>(f.ids.back()) + 1, UINT32_MAX);
    for (std::uint32_t r = 0; r < rows; ++r) f.rowOfId[static_cast<std::size_t>(f.ids[r])] = r;
  }
  Adopt();
  // A column of a real number in every row (the dates every document has) is also kept in
  // row order on its own: a sort by it then reads eight bytes a row, not a row's cells.
  for (std::size_t c = 0; c < ncols; ++c) {
    if (!columns_[c].everyRowReal || rows == 0) continue;
    std::vector<double>& dense = f.reals[c];
    dense.resize(rows);
    for (std::size_t r = 0; r < rows; ++r) dense[r] = Cell(static_cast<int>(c), r).d;
    columns_[c].reals = dense;
  }
  {
    std::vector<std::uint32_t> byPath(rows);
    for (std::uint32_t r = 0; r < byPath.size(); ++r) byPath[r] = r;
    std::sort(byPath.begin(), byPath.end(), [&](std::uint32_t a, std::uint32_t b) {
      return Cell(kCachePath, a).text < Cell(kCachePath, b).text;
    });
    for (std::uint32_t k = 0; k < byPath.size(); ++k) f.pathOrder[byPath[k]] = k;
  }
  // Lengths in tokens, for the rank: every column of the full-text row together.
  Statement sz;
  hr = db.Prepare("SELECT id, sz FROM fts_docsize ORDER BY id", sz);
  if (Failed(hr)) return hr;
  std::size_t row = 0;
  while ((rc = sz.Step()) == SQLITE_ROW) {
    row = Find(sz.Int(0), row);
    if (row == rows) {
      row = 0;
      continue;
    }
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(sz.get(), 1));
    const auto n = static_cast<std::size_t>(sqlite3_column_bytes(sz.get(), 1));
    f.tokens[row] = p ? DocsizeTokens({p, n}) : 0;
  }
  if (rc != SQLITE_DONE) return HresultFromSqlite(rc);
  return S_OK;
}

void PropertyCache::Adopt() {
  const Filled& f = filled_;
  ids_ = f.ids;
  tokens_ = f.tokens;
  pathOrder_ = f.pathOrder;
  rowOfId_ = f.rowOfId;
  present_ = f.present;
  first_ = f.first;
  cells_ = f.cells;
  text_ = f.text;
}

std::size_t PropertyCache::Find(std::int64_t id, std::size_t from) const {
  if (!rowOfId_.empty()) {
    if (id < 0 || static_cast<std::uint64_t>(id) >= rowOfId_.size()) return ids_.size();
    const std::uint32_t row = rowOfId_[static_cast<std::size_t>(id)];
    return row == UINT32_MAX || row < from ? ids_.size() : row;
  }
  from = std::min(from, ids_.size());
  const auto it = std::lower_bound(ids_.begin() + static_cast<std::ptrdiff_t>(from), ids_.end(), id);
  return it != ids_.end() && *it == id ? static_cast<std::size_t>(it - ids_.begin()) : ids_.size();
}

int PropertyCache::ColumnOf(std::string_view expr) const {
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    if (columns_[c].expr == expr) return static_cast<int>(c);
  }
  return -1;
}

bool IsPlanKey(std::string_view key) { return key.starts_with("plan "); }

namespace {
constexpr std::size_t kMaxKeptPlans = 4;  // the most asked this many
}  // namespace

bool KeepsPlan(const LikeMemo& memo, std::string_view key) {
  const auto it = memo.plans.find(std::string(key));
  if (it == memo.plans.end() || it->second.uses < kPlanUsesToKeep) return false;
  // Its place among the plans by uses (ties by key, so that the choice is stable).
  std::size_t above = 0;
  for (const auto& [other, plan] : memo.plans) {
    above += plan.uses > it->second.uses || (plan.uses == it->second.uses && other < it->first);
  }
  return above < kMaxKeptPlans;
}

bool KeptWithSnapshot(const LikeMemo& memo, std::string_view key, std::size_t columns) {
  return LikeKeyColumn(key, columns) >= 0 || KeepsPlan(memo, key);
}

int LikeKeyColumn(std::string_view key, std::size_t columns) {
  const auto colon = key.find(':');
  if (colon == std::string_view::npos) return -1;
  int column = 0;
  const auto [end, ec] = std::from_chars(key.data(), key.data() + colon, column);
  if (ec != std::errc() || end != key.data() + colon || column < 0 ||
      static_cast<std::size_t>(column) >= columns) {
    return -1;
  }
  return column;
}

}  // namespace qv::platform::indexing
