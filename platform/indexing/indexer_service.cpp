#include "platform/indexing/indexer_service.h"

#include <algorithm>
#include <set>

#include "context/event_report.h"

namespace qv::platform::indexing {
namespace {

constexpr auto kQuietPeriod = std::chrono::milliseconds(150);
constexpr std::size_t kMaxBatchedChanges = 5000;
// The engine's own warning: a catalog that cannot be opened or crawled (catalog, HRESULT).
constexpr std::uint32_t kEventCatalogUnavailable = 0xC0000A00;

}  // namespace

IndexerService::IndexerService(const Context& ctx, const CatalogAdmin& admin,
                               ServiceOptions options)
    : ctx_(ctx), admin_(admin), options_(std::move(options)) {}

std::string IndexerService::Signature(const std::string& name) const {
  std::string sig;
  std::filesystem::path location;
  if (Failed(admin_.GetLocation(name, location))) return "-";
  sig += location.string() + "\n";
  std::vector<ScopeEntry> scopes;
  admin_.GetScopes(name, scopes);
  for (const auto& s : scopes) sig += s.path + (s.excluded ? ",x\n" : ",i\n");
  std::vector<CachedProperty> props;
  admin_.GetCachedProperties(name, props);
  for (const auto& p : props) sig += p.Key() + "," + std::to_string(p.vt) + "\n";
  bool stopped = false;
  admin_.IsCatalogStopped(name, stopped);
  return sig + (stopped ? "stopped" : "running");
}

HRESULT IndexerService::Reload(bool& changed) {
  changed = false;
  std::vector<std::string> names;
  HRESULT hr = admin_.ListCatalogs(names);
  if (Failed(hr)) return hr;
  std::set<std::string> present;
  for (const auto& name : names) {
    if (!options_.onlyCatalog.empty() && name != options_.onlyCatalog) continue;
    const std::string sig = Signature(name);
    present.insert(name);
    auto it = catalogs_.find(name);
    if (it != catalogs_.end() && it->second.signature == sig) continue;
    changed = true;
    Entry e;
    e.signature = sig;
    if (sig.size() < 7 || sig.substr(sig.size() - 7) != "stopped") {
      IndexerOptions io;
      io.shouldStop = options_.shouldStop;
      io.progress = options_.progress;
      e.indexer = std::make_unique<CatalogIndexer>(ctx_, admin_, name, io);
      hr = e.indexer->Open();
      if (Failed(hr)) {
        ReportEvent(ctx_, EventType::Warning, kCategoryProvider, kEventCatalogUnavailable,
                    {"Catalog " + name + " cannot be opened", FormatHresult(hr)});
        e.indexer.reset();
      }
    }
    catalogs_[name] = std::move(e);
  }
  for (auto it = catalogs_.begin(); it != catalogs_.end();) {
    if (!present.count(it->first)) {
      it = catalogs_.erase(it);
      changed = true;
    } else {
      ++it;
    }
  }
  return S_OK;
}

HRESULT IndexerService::CrawlAll() {
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer) continue;
    const HRESULT hr = e.indexer->Crawl();
    if (hr == E_ABORT) return hr;
    if (Failed(hr)) {
      ReportEvent(ctx_, EventType::Warning, kCategoryProvider, kEventCatalogUnavailable,
                  {"Catalog " + name + " cannot be crawled", FormatHresult(hr)});
    }
  }
  if (options_.follow) {
    watcher_ = std::make_unique<Watcher>();
    for (auto& [name, e] : catalogs_) {
      if (!e.indexer) continue;
      for (const auto& root : e.indexer->scopes().roots()) {
        watcher_->AddTree(root, e.indexer->scopes());
      }
    }
  }
  return S_OK;
}

HRESULT IndexerService::HandleRequests() {
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer) continue;
    std::vector<CatalogDb::Request> requests;
    if (Failed(e.indexer->db().TakeRequests(requests)) || requests.empty()) continue;
    // Any rescan walks the catalog again: unchanged files cost a stat only.
    const HRESULT hr = e.indexer->Crawl();
    if (hr == E_ABORT) return hr;
  }
  return S_OK;
}

HRESULT IndexerService::Run() {
  bool changed = false;
  HRESULT hr = Reload(changed);
  if (Failed(hr)) return hr;
  hr = CrawlAll();
  if (Failed(hr) || !options_.follow) return hr;

  auto lastCheck = std::chrono::steady_clock::now();
  std::vector<std::string> pending;
  while (!Stopping()) {
    bool overflow = false;
    const std::size_t before = pending.size();
    hr = watcher_->Wait(pending.empty() ? std::chrono::milliseconds(500) : kQuietPeriod,
                        pending, overflow);
    if (Failed(hr)) return hr;
    if (overflow) {
      pending.clear();
      hr = CrawlAll();
      if (Failed(hr)) return hr;
    }
    const bool quiet = pending.size() == before;
    if (!pending.empty() && (quiet || pending.size() > kMaxBatchedChanges)) {
      std::sort(pending.begin(), pending.end());
      pending.erase(std::unique(pending.begin(), pending.end()), pending.end());
      for (const auto& path : pending) {
        for (auto& [name, e] : catalogs_) {
          if (!e.indexer || !e.indexer->scopes().Covers(path)) continue;
          hr = e.indexer->Refresh(path);
          if (hr == E_ABORT) return hr;
        }
      }
      pending.clear();
    }
    if (std::chrono::steady_clock::now() - lastCheck >= options_.recheck) {
      lastCheck = std::chrono::steady_clock::now();
      hr = Reload(changed);
      if (Succeeded(hr) && changed) hr = CrawlAll();
      if (Succeeded(hr)) hr = HandleRequests();
      if (hr == E_ABORT) return hr;
    }
  }
  return S_OK;
}

}  // namespace qv::platform::indexing
