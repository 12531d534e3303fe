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
#include "platform/indexing/scope_set.h"

namespace qv::platform::indexing {

struct IndexProgress {
  std::string catalog;
  std::string phase;         // "scanning", "filtering", "idle"
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
  // Brings one path up to date after a change: a file is (re)indexed, a folder is walked,
  // a path that is gone is removed with everything below it.
  HRESULT Refresh(const std::string& path);
  // Whether an interrupted crawl is waiting to be finished.
  bool CrawlInterrupted();

 private:
  HRESULT Walk(const std::string& folder, std::int64_t gen, std::int64_t& noted,
               std::unique_ptr<Transaction>& tx);
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
  std::unique_ptr<ScopeSet> scopes_;
  std::unique_ptr<CatalogDb> db_;
  std::unique_ptr<DocumentReader> reader_;
  IndexProgress progress_;
};

// The file stamps the index keeps for a path.
FileStat MakeFileStat(const std::string& path, const struct stat& st);

}  // namespace qv::platform::indexing
