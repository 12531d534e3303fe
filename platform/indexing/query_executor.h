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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/fts_postings.h"
#include "platform/indexing/property_cache.h"
#include "platform/indexing/result_set.h"
#include "platform/indexing/query_parser.h"

namespace qv::platform::indexing {

struct QueryOptions {
  std::size_t maxRows = 0;  // 0: no limit
  // Answer from the catalog's property cache where the query allows; off, every query runs
  // as SQL (the two give the same rows, which the tests hold them to).
  bool propertyCache = true;
  // The catalog a table without a catalog name reads.
  std::string defaultCatalog = "System";
  // Answer columns (bit n: the n-th column of the select list) the caller never reads: a row
  // read through SQL leaves them NULL instead of reading them, unless the query itself needs
  // the column (an order key, the path, a condition checked on the row).
  std::uint64_t unreadColumns = 0;
};

// 'YYYY/MM/DD hh:mm:ss', 'YYYY-MM-DD', 'YYYY/MM/DD' and ISO forms, UTC.
bool ParseQueryDate(std::string_view text, double& out);

// Buffers a query fills and the next one reuses (query_executor.cpp).
struct QueryScratch;

// A property cache loaded and not yet kept in a snapshot file, with the stamp of its state.
struct OwedSnapshot {
  ChangeStamp stamp;
  std::shared_ptr<const PropertyCache> cache;
};

class QueryExecutor {
 public:
  explicit QueryExecutor(const CatalogAdmin& admin);
  ~QueryExecutor();
  QueryExecutor(const QueryExecutor&) = delete;
  QueryExecutor& operator=(const QueryExecutor&) = delete;
  // DB_E_ERRORSINCOMMAND (with `error`) for text that does not read or names an unknown
  // column; QUERY_E_ALLNOISE for a full-text condition of ignored words only; the HRESULT of
  // ERROR_NOT_FOUND for a catalog that is not registered.
  HRESULT Execute(std::string_view text, const QueryOptions& options, ResultSet& out,
                  std::string& error);
  // How many tables of the queries so far the property cache answered.
  std::size_t cachedTables() const { return cachedTables_; }
  // Loads, between queries, the property cache of each catalog that a query since the last
  // load ran without (none yet, or out of date) and that has not changed since that query:
  // the next query would otherwise pay for the load itself. A catalog that changed is looked
  // at again on the next call. `loaded`: how many caches were loaded. The first failure is
  // returned after the other catalogs were tried; a catalog that failed waits for a query.
  HRESULT LoadWantedCaches(std::size_t& loaded);

 private:
  struct OpenCatalog {
    std::unique_ptr<CatalogDb> db;  // null while the catalog has no index yet
    std::filesystem::path file;
    std::uint64_t inode = 0;        // a rebuilt index is a new file: open it again
    // A catalog moved elsewhere (another file), or given new property columns by the
    // indexer, is opened again too: a process may search for days with one executor.
    std::int64_t schema = -1;
    std::map<std::string, Statement> statements;
    std::shared_ptr<const PropertyCache> cache;
    std::int64_t cacheVersion = -1;  // the catalog's version at the last query
    bool cacheWanted = false;        // a query ran as SQL for want of a current cache
    std::int64_t lookVersion = -1;   // the version at the last look between queries
    std::optional<OwedSnapshot> snapshotOwed;
    // The snapshot in the file as this process last wrote or mapped it, and how many LIKE
    // patterns' results it holds: written again when searches have matched more since.
    std::optional<OwedSnapshot> snapshotKept;
    std::size_t likesKept = 0;
    LikeMemo likeMemo;
    bool phraseHits = false;  // qv_phrase_hits registered on the connection
    bool wordRows = false;    // qv_word_rows registered on the connection
    std::unique_ptr<FtsWordReader> words;  // a word's rows read from the index's pages
    bool readOften = false;   // queried more than once: mapped, with a large page cache
  };
  HRESULT Catalog(const std::string& name, OpenCatalog*& out);

  const CatalogAdmin& admin_;
  std::map<std::string, OpenCatalog> catalogs_;
  std::size_t cachedTables_ = 0;
  std::unique_ptr<QueryScratch> scratch_;
};

}  // namespace qv::platform::indexing
