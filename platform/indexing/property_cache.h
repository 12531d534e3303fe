#pragma once
// The property cache of one catalog in a querying process: every document's columns and its
// length in tokens, held in memory so that a query touches SQLite only for its full-text
// matches. A cache is a snapshot that never changes once loaded; a new one replaces it when
// another connection (the indexer) has committed since. It is loaded inside the read
// transaction that the query's full-text reads use, so both see the same catalog. Rows handed
// out keep their snapshot alive.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bit_count.h"
#include "common/hresult.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/sqlite_db.h"

namespace qv::platform::indexing {

// One value as SQLite stored it.
struct CacheCell {
  std::uint8_t type = SQLITE_NULL;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT or SQLITE_NULL
  std::int64_t i = 0;
  double d = 0.0;
  std::string_view text;  // into the cache's storage
};

// The columns every cache has first, in this order.
inline constexpr int kCachePath = 0;
inline constexpr int kCacheDir = 1;
// The documents' own columns, before those of the cached properties.
inline constexpr int kCacheDocColumns = 7;

struct LikeMemo;
struct PlanNode;

class PropertyCache {
 public:
  // The catalog's version as the caller's read transaction sees it: it changes whenever
  // another connection commits. Starts the transaction's read.
  static HRESULT DataVersion(Database& db, std::int64_t& version);
  // A snapshot of the documents that are not waiting for their first filtering, taken at
  // `version`. E_NOTIMPL when the catalog has more columns than a cache holds.
  static HRESULT Load(Database& db, std::span<const PropColumn> props, std::int64_t version,
                      std::shared_ptr<const PropertyCache>& out);
  // The column expressions of a cache of these properties, in its order.
  static std::vector<std::string> ColumnExprs(std::span<const PropColumn> props);
  // Whether this snapshot is of the catalog at `version` with these properties.
  bool Current(std::int64_t version, std::size_t properties) const;

  // A snapshot kept in a file, so that another process need not load it again: written with
  // the catalog's stamp as the loading transaction saw it, and used by a process whose
  // transaction sees the same stamp (see property_snapshot_format.h). Save replaces the file
  // in one rename, flushed to disk first; S_FALSE when it would be too large to be mapped.
  // With `memo` (of this snapshot), its LIKE results and whole plans' results are kept too,
  // so that the next process need not match every path against the client's exclusions.
  HRESULT Save(const std::filesystem::path& file, const ChangeStamp& stamp,
               const LikeMemo* memo = nullptr) const;
  // S_OK with the file's snapshot, taken as being at `version`; S_FALSE when there is none
  // of this state of the catalog with these properties; STG_E_DOCFILECORRUPT for a file
  // that does not hold together (which the next Save replaces).
  // The LIKE results kept with it go to `memo` (when given).
  static HRESULT Open(const std::filesystem::path& file, const ChangeStamp& stamp,
                      std::span<const PropColumn> props, std::int64_t version,
                      std::shared_ptr<const PropertyCache>& out, LikeMemo* memo = nullptr);

  std::size_t size() const { return ids_.size(); }
  std::size_t columns() const { return columns_.size(); }
  std::int64_t id(std::size_t row) const { return ids_[row]; }
  std::int64_t tokens(std::size_t row) const { return tokens_[row]; }
  // The row's place among all rows by path (bytewise), so that rows of one snapshot compare
  // by path without reading the paths.
  std::uint32_t pathOrder(std::size_t row) const { return pathOrder_[row]; }
  // Whether pathOrder is known to be the paths' byte order: so for a cache loaded here; a
  // snapshot read from a file is only known to give every row its own place.
  bool placesArePathOrder() const { return !mapping_; }
  // Whether some text holds a NUL byte (where SQLite's LIKE stops reading it).
  bool textHasNul() const { return textHasNul_; }
  // The row of a document id at or after `from` (ids ascend), or size() when it is not there.
  std::size_t Find(std::int64_t id, std::size_t from = 0) const;

  // The column that an executor column expression ("d.path", "d.p3") names, or -1.
  int ColumnOf(std::string_view expr) const;
  // Whether every stored value of the column is text (or missing).
  bool AllText(int column) const { return columns_[column].allText; }
  // Whether every stored value of the column is an integer, or a number (or missing).
  bool AllInteger(int column) const { return columns_[column].allInteger; }
  bool AllNumber(int column) const { return columns_[column].allNumber; }
  // The column's values in row order when every row has a real number there, else null.
  const double* Reals(int column) const {
    return columns_[column].reals.empty() ? nullptr : columns_[column].reals.data();
  }
  // Whether the row has a value in the column: a sort's first key is often one that most
  // rows lack (the last visit), and this answers for those without finding the cell.
  bool Has(int column, std::size_t row) const {
    return (present_[row] >> column) & 1;
  }
  // Inline: a query reads a few dozen cells of every row it takes.
  CacheCell Cell(int column, std::size_t row) const {
    CacheCell cell;
    const std::uint64_t mask = present_[row];
    const std::uint64_t bit = std::uint64_t{1} << column;
    if (!(mask & bit)) return cell;
    const Stored& c = cells_[first_[row] + static_cast<std::size_t>(CountBits(mask & (bit - 1)))];
    cell.type = c.type;
    switch (c.type) {
      case SQLITE_INTEGER: cell.i = c.value; break;
      case SQLITE_FLOAT: std::memcpy(&cell.d, &c.value, sizeof cell.d); break;
      default:
        // A snapshot read from a file is checked as it is read, value by value: a text out
        // of bounds reads as missing.
        if (static_cast<std::uint64_t>(c.value) > text_.size() ||
            c.length > text_.size() - static_cast<std::uint64_t>(c.value)) {
          cell.type = SQLITE_NULL;
          break;
        }
        cell.text = std::string_view(text_.data() + c.value, c.length);
    }
    return cell;
  }

  // Asks the processor for a row's values ahead of reading them: rows are taken scattered
  // across the cache, and each costs a memory fetch otherwise.
  void Prefetch(std::size_t row) const {
    if (row < first_.size() && first_[row] < cells_.size()) {
      __builtin_prefetch(cells_.data() + first_[row]);
    }
  }

  // A document has at most this many columns in the cache (its own and the cached
  // properties); a catalog that caches more is queried through SQL.
  static constexpr std::size_t kMaxColumns = 64;

 private:
  HRESULT Fill(Database& db, std::span<const PropColumn> props);
  // Points the views below at the vectors Fill made.
  void Adopt();
  // Whether the views describe a whole snapshot: what Cell, Find and the row order rely on.
  bool HoldsTogether() const;

  struct Column {
    std::string expr;
    bool allText = true;
    bool allInteger = true;
    bool allNumber = true;
    bool everyRowReal = true;
    std::span<const double> reals;  // when everyRowReal
  };
  // Only the values a row has are stored, together: most documents lack most properties,
  // and a query takes scattered rows and reads many values of each. Stored in snapshot files
  // as it is in memory.
  struct Stored {
    std::int64_t value = 0;  // integer, bits of a double, or text offset
    std::uint32_t length = 0;
    std::uint8_t type = SQLITE_NULL;
    std::uint8_t unused[3] = {};
  };
  static_assert(sizeof(Stored) == 16);
  // What the views below point into: vectors a load filled, or a snapshot file mapped.
  struct Filled {
    std::vector<std::int64_t> ids, tokens;
    std::vector<std::uint32_t> pathOrder, rowOfId, first;
    std::vector<std::uint64_t> present;
    std::vector<Stored> cells;
    std::vector<std::vector<double>> reals;  // per column
    std::string text;
  };
  struct Mapping {
    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping();
    void* at = nullptr;
    std::size_t size = 0;
  };

  std::int64_t dataVersion_ = -1;
  Filled filled_;
  std::unique_ptr<Mapping> mapping_;
  std::span<const std::int64_t> ids_, tokens_;
  std::span<const std::uint32_t> pathOrder_;
  std::span<const std::uint32_t> rowOfId_;  // when ids are dense enough; UINT32_MAX: no row
  bool textHasNul_ = false;
  std::vector<Column> columns_;
  std::span<const std::uint64_t> present_;  // per row: which columns have a value
  std::span<const std::uint32_t> first_;    // per row: its first stored value
  std::span<const Stored> cells_;
  std::string_view text_;
};

// LIKE results by column and pattern for one snapshot (-1: not matched yet). The client sends
// the same path exclusions with every search, so each document is matched against them once.
struct LikeMemo {
  const PropertyCache* snapshot = nullptr;
  std::map<std::string, std::vector<std::int8_t>> results;
  // The condition of each whole plan's key this process has seen, and how many queries
  // asked it, so that the results of those asked again can be worked out for every row
  // before a snapshot keeps them.
  struct Plan {
    std::shared_ptr<PlanNode> where;
    std::uint64_t uses = 0;
  };
  std::map<std::string, Plan> plans;

  // Forgets every result and condition (they belong to another snapshot, or to none).
  void Clear() {
    results.clear();
    plans.clear();
  }
};

// Whether a snapshot keeps the results of the whole plan `key`: one that searches asked
// more than once, and among the few asked most. A condition a user typed once (a date, a
// folder) is not worth a pass over every row and a new snapshot.
bool KeepsPlan(const LikeMemo& memo, std::string_view key);
// Whether a snapshot of `columns` columns keeps the memo's results of `key`: every single
// pattern's, and the whole plans' that KeepsPlan keeps.
bool KeptWithSnapshot(const LikeMemo& memo, std::string_view key, std::size_t columns);
// How often a whole plan must have been asked to be kept; a plan read from a snapshot
// counts as asked so often (it was kept by the process that wrote it).
inline constexpr std::uint64_t kPlanUsesToKeep = 2;

// The column (below `columns`) of a single pattern's key in LikeMemo::results
// ("<column>:<pattern>"), or -1: another key (a whole plan's, "plan ...").
int LikeKeyColumn(std::string_view key, std::size_t columns);
// The key of a whole plan's results ("plan <condition>").
bool IsPlanKey(std::string_view key);

}  // namespace qv::platform::indexing
