#pragma once
// Runs the query text the search client composes against the catalogs and returns typed
// rows, as the OLE DB provider of the Indexing Service does.
//
// Columns: rank (I4, 0 to 1000), write (DATE, UTC), attrib (UI4), Path, filename, DocTitle,
// directory (WSTR), size (I8), and every alias declared with SET PROPERTYNAME, typed as
// declared. A property that a catalog does not cache reads as NULL.
//
// Rank: the first CONTAINS or FREETEXT condition that every row must meet (one joined to the
// rest of the condition by AND, not under NOT) ranks the rows: with s the BM25 score of the
// row's text for that condition, rank = max(1, round(1000 * s / (s + 1))). Rows selected without
// such a condition have rank 1000.
//
// NULL: a comparison, LIKE or NOT LIKE with a missing value is false (NOT around it makes it
// true); IS NULL tests for a missing value. In ORDER BY a missing value sorts below every
// value: last when descending, first when ascending. Rows that tie on every key come in path
// order. UNION ALL joins the tables' rows, sorted as a whole.
//
// Where it can, a table is answered from the catalog's property cache (every document's
// columns held in memory; loaded by the second query of a catalog that has not changed in
// between, so one-off queries and queries during indexing run as SQL): SQLite then only finds
// the full-text matches and counts their phrases, and the conditions, the rank, the order and
// the rows are worked out here. A query the cache cannot answer exactly as SQL would (a
// condition on the rank, LIKE on a column that holds numbers) runs as SQL. Both give the same
// rows in the same order.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/property_cache.h"
#include "platform/indexing/query_parser.h"

namespace qv::platform::indexing {

enum class ValueKind : std::uint8_t { Null, I4, UI4, I8, Date, Str, Guid };

struct Value {
  ValueKind kind = ValueKind::Null;
  std::int64_t i = 0;  // I4, UI4, I8
  double d = 0.0;      // Date
  std::string s;       // Str
  Guid g;              // Guid
  bool IsNull() const { return kind == ValueKind::Null; }
  std::string ToString() const;
  friend bool operator==(const Value&, const Value&) = default;
};

// Orders two values of one column; NULL is below everything.
int CompareValues(const Value& a, const Value& b);

using Row = std::vector<Value>;

// The rows of a query, in order. Like a keyset cursor it holds which documents answer and
// reads a document's values when they are asked for: a search of thirty thousand answers
// scores every row on a few fields and shows a screenful of whole rows.
class ResultSet {
 public:
  std::vector<std::string> columns;
  std::vector<ValueKind> types;

  std::size_t RowCount() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  // The whole row, read when first asked for and kept.
  const Row& RowAt(std::size_t i) const;
  // One value of a row, without reading the rest of it.
  Value Field(std::size_t i, std::size_t column) const;
  // Every row, read now.
  std::vector<Row> Rows() const;
  // Appends a row given whole.
  void AddRow(Row row);

 private:
  friend class QueryExecutor;
  // Rows still in a catalog's property cache: which cache, and where each answer column is.
  struct Source {
    std::shared_ptr<const PropertyCache> cache;
    std::vector<int> cells;  // per answer column: cache column, -1 when it has none
    std::vector<ValueKind> kinds;
    std::size_t rankColumn = SIZE_MAX;  // the answer column that holds the rank
  };
  struct Pending {
    std::uint32_t source = 0;  // kWhole: the row is in rows_
    std::uint32_t row = 0;     // the cache row
    std::int32_t rank = 0;
  };
  static constexpr std::uint32_t kWhole = UINT32_MAX;
  Value Read(const Pending& p, std::size_t column) const;

  std::vector<Source> sources_;
  std::vector<Pending> pending_;
  mutable std::vector<Row> rows_;  // empty until read, for rows still in a cache
};

struct QueryOptions {
  std::size_t maxRows = 0;  // 0: no limit
  // Answer from the catalog's property cache where the query allows; off, every query runs
  // as SQL (the two give the same rows, which the tests hold them to).
  bool propertyCache = true;
  // The catalog a table without a catalog name reads.
  std::string defaultCatalog = "System";
};

// 'YYYY/MM/DD hh:mm:ss', 'YYYY-MM-DD', 'YYYY/MM/DD' and ISO forms, UTC.
bool ParseQueryDate(std::string_view text, double& out);

class QueryExecutor {
 public:
  explicit QueryExecutor(const CatalogAdmin& admin) : admin_(admin) {}
  // DB_E_ERRORSINCOMMAND (with `error`) for text that does not read or names an unknown
  // column; QUERY_E_ALLNOISE for a full-text condition of ignored words only; the HRESULT of
  // ERROR_NOT_FOUND for a catalog that is not registered.
  HRESULT Execute(std::string_view text, const QueryOptions& options, ResultSet& out,
                  std::string& error);
  // How many tables of the queries so far the property cache answered.
  std::size_t cachedTables() const { return cachedTables_; }

 private:
  struct OpenCatalog {
    std::unique_ptr<CatalogDb> db;  // null while the catalog has no index yet
    std::filesystem::path file;
    std::uint64_t inode = 0;        // a rebuilt index is a new file: open it again
    std::map<std::string, Statement> statements;
    std::shared_ptr<const PropertyCache> cache;
    std::int64_t cacheVersion = -1;  // the catalog's version at the last query
    LikeMemo likeMemo;
    bool phraseHits = false;  // qv_phrase_hits registered on the connection
  };
  HRESULT Catalog(const std::string& name, OpenCatalog*& out);

  const CatalogAdmin& admin_;
  std::map<std::string, OpenCatalog> catalogs_;
  std::size_t cachedTables_ = 0;
};

}  // namespace qv::platform::indexing
