#pragma once
// The indexing service: keeps every running catalog of the root up to date. It watches the
// scopes with inotify first and only then finishes or starts a crawl of each catalog, so a
// change made while the crawl runs is followed after it; then it follows changes and carries
// out the rescans that the administration side queues. Registrations are read again every
// few seconds, so catalogs and scopes added while it runs are taken up, and a scope folder
// that was missing (or deleted and made again) is watched and walked once it is there.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "context/context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/indexer.h"
#include "platform/indexing/watcher.h"

namespace qv::platform::indexing {

struct ServiceOptions {
  bool follow = true;             // false: crawl once and return
  std::string onlyCatalog;        // empty: every catalog
  std::chrono::milliseconds recheck{2000};
  std::size_t maxWatches = 0;     // 0: only the kernel's limit
  std::function<bool()> shouldStop;
  std::function<void(const IndexProgress&)> progress;
  // Shared by every catalog's indexer; null: one is made from the qvfilterhost beside this
  // program, when there is one.
  std::shared_ptr<FilterHost> filterHost;
};

class IndexerService {
 public:
  IndexerService(const Context& ctx, const CatalogAdmin& admin, ServiceOptions options);
  // Runs until asked to stop (or, without following, until every catalog is crawled).
  // E_ABORT when stopped in the middle of a crawl, which the next run resumes.
  HRESULT Run();

 private:
  struct Entry {
    std::unique_ptr<CatalogIndexer> indexer;
    std::string signature;  // location, scopes and properties as last read
  };
  HRESULT Reload(bool& changed);
  std::string Signature(const std::string& name) const;
  // Watches first, then crawls: nothing that changes during the crawl is lost.
  HRESULT CrawlAll();
  void WatchAll();
  // Watches and walks the scope folders that have no watch (made after the start, or
  // deleted and made again).
  HRESULT WatchMissingRoots();
  // Records in each catalog that takes it in the folder where watches ran out.
  void RecordUnwatched(const std::string& folder, const std::string& onlyCatalog = {});
  HRESULT HandleRequests();
  bool Stopping() const { return options_.shouldStop && options_.shouldStop(); }

  const Context& ctx_;
  const CatalogAdmin& admin_;
  ServiceOptions options_;
  std::map<std::string, Entry> catalogs_;
  std::unique_ptr<Watcher> watcher_;
  std::set<std::string> reportedUnwatched_;  // catalogs whose lack of watches was reported
};

}  // namespace qv::platform::indexing
