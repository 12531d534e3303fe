#pragma once
// The indexer of one catalog: crawls the catalog's scopes, runs the filters and keeps the
// index in step with the files. A crawl works in generations: every file it sees is stamped
// with the generation, filtering happens in committed batches, and only after the last batch
// are the documents that were not seen removed. A crawl that was killed resumes in the same
// generation: files already recorded are not filtered again.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "context/context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/document_reader.h"
#include "platform/indexing/exclusion_rules.h"
#include "platform/indexing/scope_set.h"

namespace qv::platform::indexing {

struct IndexProgress {
  std::string catalog;
  std::string phase;         // "scanning", "filtering", "compacting", "idle"
  std::int64_t scanned = 0;  // files seen in this crawl
  std::int64_t filtered = 0; // documents filtered in this crawl
  std::int64_t pending = 0;  // documents still to filter
};

struct IndexerOptions {
  std::size_t batchSize = 256;      // documents filtered per transaction
  std::int64_t notesPerCommit = 2000;  // files recorded per transaction while scanning
  // Asked between documents; true ends the work early (E_ABORT), to be resumed later.
  std::function<bool()> shouldStop;
  std::function<void(const IndexProgress&)> progress;
  // Reads documents of binary formats; null: a host of its own running the qvfilterhost
  // beside this program, or none when that is missing.
  std::shared_ptr<FilterHost> filterHost;
};

class CatalogIndexer {
 public:
  CatalogIndexer(const Context& ctx, const CatalogAdmin& admin, std::string name,
                 IndexerOptions options = {});

  // Reads the registration (location, scopes, cached properties) and opens the index.
  HRESULT Open();
  const std::string& name() const { return name_; }
  const ScopeSet& scopes() const { return *scopes_; }
  CatalogDb& db() { return *db_; }

  // A whole crawl (or the rest of an interrupted one).
  HRESULT Crawl();
  // Filters the documents waiting for it.
  HRESULT FilterPending();
  // Brings one path up to date after a change: a file is (re)indexed, a folder is walked
  // (documents below it that are gone leave the index), a path that is gone is removed with
  // everything below it. S_FALSE when no scope takes the path in.
  HRESULT Refresh(const std::string& path);
  // A rescan asked for by the user: of one folder, or of every scope when `folder` is
  // empty; `full` filters every document again instead of only the changed ones.
  HRESULT Rescan(const std::string& folder, bool full);
  // Whether an interrupted crawl is waiting to be finished.
  bool CrawlInterrupted();

 private:
  HRESULT Walk(const std::string& folder, std::int64_t gen, std::int64_t& noted,
               std::unique_ptr<Transaction>& tx);
  HRESULT RescanFolder(const std::string& folder, bool refilter);
  // Keeps the list of unreadable folders below `below` (empty: all) in the index, where
  // the status shows it, and reports the newly found ones in the event log.
  HRESULT RecordUnreadable(std::string_view below);
  HRESULT Note(const std::string& path, const struct stat& st, std::int64_t gen,
               std::int64_t& noted, std::unique_ptr<Transaction>& tx);
  HRESULT IndexOne(const PendingDoc& doc);
  bool Stopping() const { return options_.shouldStop && options_.shouldStop(); }
  void Report(const char* phase);

  const Context& ctx_;
  const CatalogAdmin& admin_;
  std::string name_;
  IndexerOptions options_;
  std::filesystem::path location_;
  std::shared_ptr<const ExclusionRules> rules_;
  std::unique_ptr<ScopeSet> scopes_;
  std::unique_ptr<CatalogDb> db_;
  std::unique_ptr<DocumentReader> reader_;
  IndexProgress progress_;
  std::vector<std::string> unreadable_;  // "<folder>\t<reason>" found by the current walk
};

// Warning events of the engine: folders that cannot be read (count, folders, what to do)
// and changes that are not followed (folder, reason, what to do).
inline constexpr std::uint32_t kEventFoldersUnreadable = 0x80000A01;
inline constexpr std::uint32_t kEventChangesNotFollowed = 0x80000A02;

// The file stamps the index keeps for a path.
FileStat MakeFileStat(const std::string& path, const struct stat& st);

}  // namespace qv::platform::indexing
