#include "platform/indexing/indexer_service.h"

#include <sys/stat.h>

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
  // The user's additions to the excluded folders change what a crawl takes in.
  std::vector<std::pair<std::string, RegValue>> excluded;
  admin_.registry().EnumValues(Hive::LocalMachine, kExcludedFoldersKey, excluded);
  for (const auto& e : excluded) sig += "excluded " + e.first + "\n";
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
      if (!options_.filterHost) options_.filterHost = MakeDefaultFilterHost();
      io.filterHost = options_.filterHost;
      e.indexer = std::make_unique<CatalogIndexer>(ctx_, admin_, name, io);
      hr = e.indexer->Open();
      // Opening may write the default excluded folders: the signature is of what it read.
      e.signature = Signature(name);
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

void IndexerService::WatchAll() {
  watcher_ = std::make_unique<Watcher>(options_.maxWatches);
  std::map<std::string, std::string> unwatched;
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer) continue;
    const ScopeSet& scopes = e.indexer->scopes();
    for (const auto& root : scopes.roots()) {
      if (!scopes.Covers(root)) continue;
      if (!watcher_->ok()) {
        unwatched.emplace(name, root);
        break;
      }
      watcher_->AddTree(root, scopes);
      if (std::string folder = watcher_->TakeUnwatched(); !folder.empty()) {
        unwatched.emplace(name, folder);
        break;
      }
    }
  }
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer) continue;
    const auto it = unwatched.find(name);
    if (it == unwatched.end()) {
      // Every folder is followed (again).
      e.indexer->db().SetMeta(kMetaUnwatched, "");
      reportedUnwatched_.erase(name);
    } else {
      RecordUnwatched(it->second, name);
    }
  }
}

void IndexerService::RecordUnwatched(const std::string& folder, const std::string& onlyCatalog) {
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer || (!onlyCatalog.empty() && name != onlyCatalog)) continue;
    if (onlyCatalog.empty() && !e.indexer->scopes().Covers(folder)) continue;
    e.indexer->db().SetMeta(kMetaUnwatched, folder);
    if (!reportedUnwatched_.insert(name).second) continue;
    ReportEvent(ctx_, EventType::Warning, kCategoryProvider, kEventChangesNotFollowed,
                {name, folder,
                 watcher_ && watcher_->ok() ? "the inotify watch limit is reached"
                                            : "inotify is not available",
                 "Changes there are indexed only by the next crawl. Raise "
                 "fs.inotify.max_user_watches (sysctl) and restart the indexing service."});
  }
}

HRESULT IndexerService::CrawlAll() {
  if (options_.follow) WatchAll();
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer) continue;
    const HRESULT hr = e.indexer->Crawl();
    if (hr == E_ABORT) return hr;
    if (Failed(hr)) {
      ReportEvent(ctx_, EventType::Warning, kCategoryProvider, kEventCatalogUnavailable,
                  {"Catalog " + name + " cannot be crawled", FormatHresult(hr)});
    }
  }
  return S_OK;
}

HRESULT IndexerService::WatchMissingRoots() {
  if (!watcher_ || !watcher_->ok()) return S_OK;
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer) continue;
    const ScopeSet& scopes = e.indexer->scopes();
    for (const auto& root : scopes.roots()) {
      struct stat st {};
      if (watcher_->IsWatched(root) || !scopes.Covers(root) || lstat(root.c_str(), &st) != 0 ||
          !S_ISDIR(st.st_mode)) {
        continue;
      }
      // The watch comes first, so nothing made during the walk is missed.
      watcher_->AddTree(root, scopes);
      if (std::string folder = watcher_->TakeUnwatched(); !folder.empty()) {
        RecordUnwatched(folder, name);
      }
      if (!watcher_->IsWatched(root)) continue;  // tried again at the next check
      const HRESULT hr = e.indexer->Refresh(root);
      if (hr == E_ABORT) return hr;
    }
  }
  return S_OK;
}

HRESULT IndexerService::HandleRequests() {
  for (auto& [name, e] : catalogs_) {
    if (!e.indexer) continue;
    std::vector<CatalogDb::Request> requests;
    if (Failed(e.indexer->db().TakeRequests(requests)) || requests.empty()) continue;
    // A rescan of every scope makes the rescans of single folders needless.
    const auto whole = std::find_if(requests.begin(), requests.end(),
                                    [](const auto& r) { return r.scope.empty(); });
    if (whole != requests.end()) {
      const bool full = std::any_of(requests.begin(), requests.end(),
                                    [](const auto& r) { return r.full; });
      requests = {{whole->id, "", full}};
    }
    for (const auto& r : requests) {
      const HRESULT hr = e.indexer->Rescan(r.scope, r.full);
      if (hr == E_ABORT) return hr;
      if (Failed(hr)) {
        ReportEvent(ctx_, EventType::Warning, kCategoryProvider, kEventCatalogUnavailable,
                    {"Catalog " + name + " cannot be rescanned", FormatHresult(hr)});
      }
    }
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
    if (std::string folder = watcher_->TakeUnwatched(); !folder.empty()) RecordUnwatched(folder);
    if (overflow) {
      // Events were lost: watch everything again, then crawl.
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
      if (Succeeded(hr)) hr = WatchMissingRoots();
      if (Succeeded(hr)) hr = HandleRequests();
      if (hr == E_ABORT) return hr;
    }
  }
  return S_OK;
}

}  // namespace qv::platform::indexing
