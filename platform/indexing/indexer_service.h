#pragma once
// The indexing service: keeps every running catalog of the root up to date. It finishes or
// starts a crawl of each catalog, then follows changes with inotify and carries out the
// rescans that the administration side queues. Registrations are read again every few
// seconds, so catalogs and scopes added while it runs are taken up.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
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
  std::function<bool()> shouldStop;
  std::function<void(const IndexProgress&)> progress;
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
  HRESULT CrawlAll();
  HRESULT HandleRequests();
  bool Stopping() const { return options_.shouldStop && options_.shouldStop(); }

  const Context& ctx_;
  const CatalogAdmin& admin_;
  ServiceOptions options_;
  std::map<std::string, Entry> catalogs_;
  std::unique_ptr<Watcher> watcher_;
};

}  // namespace qv::platform::indexing
