#pragma once
// One catalog's index: a SQLite database (WAL mode) in <location>/Catalog.wci/index.db.
//   docs     one row per document: path, folder, file name, size, write time (DATE, UTC),
//            attributes, the stat stamps that tell a changed file, the title, the filtering
//            state, the crawl generation that last saw it, and one column per cached
//            property (p1, p2, ...; propmap says which).
//   fts      FTS5 over the contents and the text properties, rowid = docs.id.
//   propmap  cached property key -> column, variant type.
//   requests rescans asked for by the administration side, done by the indexer.
//   meta     schema version, crawl generation and phase, stopped flag, and the catalog's
//            identity with a count of the changes to what a query reads of its documents
//            (kept by triggers, so every writer counts; a crawl that only sees a file again
//            changes nothing a query reads, and is not counted).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/hresult.h"
#include "common/oledate.h"
#include "platform/indexing/catalog_keys.h"
#include "platform/indexing/sqlite_db.h"
#include "platform/propset/property_set.h"

namespace qv::platform::indexing {

inline constexpr std::int64_t kSchemaVersion = 1;
// What a new index stems when the caller does not say.
inline const std::string kDefaultStemming[] = {"english"};

// Index metadata that the status shows: the unreadable folders ("<folder>\t<reason>" lines,
// at most kMaxUnreadableListed) with their total, and the folder where the service ran out
// of watches (empty when every folder is followed).
inline constexpr std::string_view kMetaUnreadable = "unreadable";
inline constexpr std::string_view kMetaUnreadableTotal = "unreadable_total";
inline constexpr std::string_view kMetaUnwatched = "unwatched";
inline constexpr std::size_t kMaxUnreadableListed = 100;

enum class DocState : int {
  NeedsFilter = 0,      // new or changed: run the filter
  Filtered = 1,         // up to date
  NeedsProperties = 2,  // only its property sets changed: re-read the cached properties
  Failed = 3,           // the filter failed; tried again when the file changes
};

// Windows file attribute bits as the attrib column reports them.
inline constexpr std::uint32_t kAttribReadOnly = 0x1;
inline constexpr std::uint32_t kAttribHidden = 0x2;
inline constexpr std::uint32_t kAttribArchive = 0x20;

struct FileStat {
  std::string path;
  std::int64_t size = 0;
  std::int64_t mtimeNs = 0;
  std::int64_t ctimeNs = 0;
  std::uint32_t attrib = 0;
  DATE write = 0.0;
};

struct DocContent {
  std::string title;
  std::string contents;
  std::string propText;  // text properties searched by CONTAINS(ALL, ...)
  // Cached property values by CachedProperty::Key().
  std::vector<std::pair<std::string, PropVariant>> props;
};

// Which catalog, and which state of its documents: equal stamps read the same documents.
// Empty for a catalog that no writer of ours has opened since the count was added.
struct ChangeStamp {
  std::string instance;  // made once, with the catalog
  std::int64_t changes = 0;
  // The database file's inode, which the caller fills in: a copy of the file put back in its
  // place (a restored backup) has the instance of the catalog it was copied from.
  std::uint64_t file = 0;
  bool empty() const { return instance.empty(); }
  friend bool operator==(const ChangeStamp&, const ChangeStamp&) = default;
};
// The stamp as the caller's transaction sees it.
HRESULT ReadChangeStamp(Database& db, ChangeStamp& out);

struct PropColumn {
  std::string key;
  std::string column;
  std::uint16_t vt = 0;
};

struct PendingDoc {
  std::int64_t id = 0;
  std::string path;
  DocState state = DocState::NeedsFilter;
};

class CatalogDb {
 public:
  static std::filesystem::path DatabasePath(const std::filesystem::path& location);

  // Opens or creates the index and makes sure every registered property has a column; a
  // property that gains a column (or changes type) sends every document back for a property
  // re-read. A new index stems the words of `stemming`'s languages (none: no stemming); an
  // existing one keeps the tokenizer it was made with.
  static HRESULT Open(const std::filesystem::path& location,
                      std::span<const CachedProperty> props, std::unique_ptr<CatalogDb>& out,
                      std::span<const std::string> stemming = kDefaultStemming);
  // For queries: read-only; STG_E_FILENOTFOUND when there is no index yet. Set up for one
  // query or a few; ReadOften sets it up for a process that goes on querying.
  static HRESULT OpenForQuery(const std::filesystem::path& location,
                              std::unique_ptr<CatalogDb>& out);
  HRESULT ReadOften();

  Database& db() { return db_; }
  const std::vector<PropColumn>& columns() const { return columns_; }
  const PropColumn* ColumnOf(std::string_view key) const;

  // Records that a crawl of generation `gen` saw the file; `state` tells what it needs.
  HRESULT NoteFile(const FileStat& st, std::int64_t gen, DocState& state);
  // Documents that need work, lowest id first.
  HRESULT Pending(std::size_t limit, std::vector<PendingDoc>& out);
  HRESULT StoreDocument(std::int64_t id, const DocContent& content, DocState newState);
  HRESULT StoreProperties(std::int64_t id, std::span<const std::pair<std::string, PropVariant>> props);
  HRESULT MarkState(std::int64_t id, DocState state);
  // Removes every document that the crawl of `gen` did not see.
  HRESULT RemoveUnseen(std::int64_t gen, std::int64_t& removed);
  // Removes the document at `path` and everything below it when it is a folder.
  HRESULT RemovePath(std::string_view path, std::int64_t& removed);
  HRESULT FindDocument(std::string_view path, std::int64_t& id, DocState& state);
  // Before a walk of one folder (empty: every document): the documents below it count as
  // not yet seen in generation `gen`, and with `refilter` are filtered again when the walk
  // sees them. RemoveUnseenBelow then drops those the walk did not find.
  HRESULT MarkForRescan(std::string_view folder, std::int64_t gen, bool refilter);
  HRESULT RemoveUnseenBelow(std::string_view folder, std::int64_t gen, std::int64_t& removed);

  HRESULT Counts(std::int64_t& total, std::int64_t& pending);
  // One step of merging the full-text index's segments into one, writing about `pages`
  // pages; `more` is false once there was nothing left to merge. Every committed batch of
  // documents leaves a segment, and a word is looked up in each of them.
  HRESULT MergeFullText(int pages, bool& more);
  // The documents waiting for filtering alone, from their own index.
  HRESULT PendingCount(std::int64_t& pending);
  HRESULT GetMeta(std::string_view key, std::string& value);  // S_FALSE when missing
  HRESULT SetMeta(std::string_view key, std::string_view value);

  struct Request {
    std::int64_t id = 0;
    std::string scope;  // empty: every scope
    bool full = false;
  };
  HRESULT AddRequest(std::string_view scope, bool full);
  HRESULT TakeRequests(std::vector<Request>& out);

 private:
  CatalogDb() = default;
  HRESULT CreateSchema(std::span<const std::string> stemming);
  HRESULT LoadColumns();
  HRESULT SyncColumns(std::span<const CachedProperty> props);
  HRESULT CountChanges();
  HRESULT PrepareWriters();

  Database db_;
  std::vector<PropColumn> columns_;
  Statement selectByPath_, insertDoc_, updateStat_, updateSeen_, updateDoc_, updateProps_,
      deleteFts_, insertFts_;
};

// Converts a property to the type its column holds; false when the types do not agree.
bool CoerceToColumn(const PropVariant& v, std::uint16_t vt, PropVariant& out);

}  // namespace qv::platform::indexing
