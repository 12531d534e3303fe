#include "service/QvRankingSvc/catalog_config.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "common/scope_hash.h"
#include "context/event_report.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/catalog_admin.h"
#include "provider/cihelper/cihelper.h"
#include "service/QvRankingSvc/caller_folders.h"

namespace qv::service {
namespace {

namespace ix = platform::indexing;

// A mail catalog just started is asked this often whether it runs, with this pause between.
constexpr int kCatalogStartPolls = 10;
constexpr auto kCatalogStartPause = std::chrono::milliseconds(800);

struct SharedCatalog {
  std::string_view name;
  ULONG type;
  std::string_view scope;  // below the data folder; empty: none
};
constexpr SharedCatalog kSharedCatalogs[] = {
    {"System", 0, {}},
    {kWebHistoryCatalog, 1, kWebHistoryScope},
    {kJournalCatalog, kCatalogTypeJournal, kJournalScope},
};

void ReportCatalogFailure(const Context& ctx, std::string_view name, HRESULT hr) {
  ReportItemError(ctx, kCategoryProvider, kEventCatalogFailed, name, hr);
}

// Stops (the repair has done so already when it changed anything) and starts the service
// again when it ran before.
void Restart(ix::CatalogAdmin& admin, bool wasRunning, bool& restarted, HRESULT& result) {
  result = admin.Stop();
  if (Succeeded(result) && wasRunning) {
    result = admin.Start();
    restarted = Succeeded(result);
  }
}

}  // namespace

std::string_view OutcomeText(CatalogOutcome::Result r) {
  switch (r) {
    case CatalogOutcome::Result::Created: return "created";
    case CatalogOutcome::Result::Repaired: return "repaired (index rebuilt)";
    case CatalogOutcome::Result::Unchanged: return "up to date";
    case CatalogOutcome::Result::Failed: return "failed";
  }
  return "";
}

void RegisterCatalogClasses(const Context& ctx) {
  ix::RegisterAdminClass(ctx.classes, ctx.registry, ctx.root);
  RegisterCIHelper(ctx);
}

HRESULT VerifyConfiguration(const Context& ctx, std::string_view folderIn, bool rescan,
                            ConfigReport& report) {
  report = ConfigReport{};
  std::shared_ptr<ix::CatalogAdmin> admin;
  const HRESULT created = ctx.classes.CreateInstance(ix::kAdminClsid, admin);
  if (Failed(created)) return created;
  const bool wasRunning = admin->IsRunning();

  std::string folder(folderIn);
  if (folder.empty() || folder.back() != '/') folder += '/';
  VARIANT_BOOL restart = VARIANT_FALSE;  // one flag through all three repairs
  bool webHistoryOk = false;
  for (const auto& c : kSharedCatalogs) {
    CatalogOutcome& o = report.catalogs.emplace_back();
    o.name = std::string(c.name);
    if (!c.scope.empty()) o.scope = folder + std::string(c.scope);
    // A new user has no web history or journal folder yet, and the repair drops a scope
    // whose folder is missing: make them (the user's alone) so the scopes stay.
    if (!o.scope.empty()) platform::CreatePrivateFolders(o.scope);
    const bool existed = Succeeded(admin->FindCatalog(o.name));
    VARIANT_BOOL rebuilt = VARIANT_FALSE;
    std::shared_ptr<ICIHelper> helper;
    o.hr = ctx.classes.CreateInstance(CLSID_CIHelper, helper);
    if (Succeeded(o.hr)) {
      o.hr = helper->RepairCatalog(&o.name, VARIANT_TRUE, c.type, nullptr,
                                   c.scope.empty() ? nullptr : &o.scope, &restart, &rebuilt);
    }
    if (Failed(o.hr)) {
      o.result = CatalogOutcome::Result::Failed;
      ReportCatalogFailure(ctx, o.name, o.hr);
      continue;
    }
    o.result = !existed                  ? CatalogOutcome::Result::Created
               : rebuilt == VARIANT_TRUE ? CatalogOutcome::Result::Repaired
                                         : CatalogOutcome::Result::Unchanged;
    if (c.name == kWebHistoryCatalog) webHistoryOk = true;
  }

  if (restart == VARIANT_TRUE) {
    report.restartNeeded = true;
    Restart(*admin, wasRunning, report.restarted, report.restartResult);
    return S_OK;
  }
  if (rescan && webHistoryOk && (admin->IsRunning() || Succeeded(admin->Start()))) {
    const std::string scope = folder + std::string(kWebHistoryScope);
    ix::ScopeEntry entry;
    if (Succeeded(admin->GetScopeByPath(kWebHistoryCatalog, scope, entry))) {
      report.rescanQueued = Succeeded(admin->Rescan(kWebHistoryCatalog, entry.path, true));
    }
  }
  return S_OK;
}

HRESULT VerifyIfNoCatalog(const Context& ctx, ConfigReport& report) {
  report = ConfigReport{};
  ix::CatalogAdmin admin(ctx.registry, ctx.root);
  std::vector<std::string> names;
  const HRESULT hr = admin.ListCatalogs(names);
  if (Failed(hr)) return hr;
  if (!names.empty()) return S_FALSE;
  const auto folder = platform::KnownFolderPath(ctx.root, platform::KnownFolder::LocalAppData)
                          .lexically_normal();
  return VerifyConfiguration(ctx, folder.string(), false, report);
}

std::string MailCatalogName(std::string_view owner, std::string_view store) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "Quillon_%x_", ScopeHash(owner));
  return prefix + std::string(store);
}

HRESULT ProcessMailProfile(const Context& ctx, const CatalogRequest& request) {
  std::shared_ptr<ICIHelper> helper;
  HRESULT hr = ctx.classes.CreateInstance(CLSID_CIHelper, helper);
  std::shared_ptr<ix::CatalogAdmin> admin;
  if (Succeeded(hr)) hr = ctx.classes.CreateInstance(ix::kAdminClsid, admin);
  if (Failed(hr)) return hr;
  const bool running = admin->IsRunning();

  // The request was checked when it was made; the store list is read the same way again so
  // that a request from elsewhere cannot name a catalog outside the scheme.
  std::vector<std::string> stores;
  if (Failed(hr = ParseStoreList(request.stores, stores))) return hr;
  if (request.owner.empty() || request.scopeRoot.empty()) return E_INVALIDARG;
  std::string root = request.scopeRoot;
  if (root.back() != '/') root += '/';

  bool restartNeeded = false;
  for (const auto& store : stores) {
    const std::string name = MailCatalogName(request.owner, store);
    const std::string scope = root + store;
    VARIANT_BOOL restart = VARIANT_FALSE;
    hr = helper->RepairCatalog(&name, VARIANT_FALSE, 2, &request.owner, &scope, &restart,
                               nullptr);
    if (Failed(hr)) return hr;
    if (restart == VARIANT_TRUE) restartNeeded = true;
  }
  if (restartNeeded) {
    bool restarted = false;
    HRESULT ignored = S_OK;
    Restart(*admin, running, restarted, ignored);
    return S_OK;
  }
  if (!running) return S_OK;
  // Bring each store's catalog back into service and look for changes made while it was out.
  for (const auto& store : stores) {
    const std::string name = MailCatalogName(request.owner, store);
    if (Failed(admin->FindCatalog(name))) continue;
    admin->Start();  // no effect while it runs
    if (Failed(admin->StartCatalog(name))) continue;
    for (int i = 0; i < kCatalogStartPolls; ++i) {
      bool isRunning = false;
      if (Failed(admin->IsCatalogRunning(name, isRunning)) || isRunning) break;
      std::this_thread::sleep_for(kCatalogStartPause);
    }
    std::vector<ix::ScopeEntry> scopes;
    if (Succeeded(admin->GetScopes(name, scopes)) && !scopes.empty()) {
      admin->Rescan(name, scopes.front().path, false);
    }
  }
  return S_OK;
}

void ProcessCatalogRequest(const Context& ctx, const CatalogRequest& request) {
  switch (request.kind) {
    case CatalogRequest::Kind::ConfigCheck: {
      // Without the administration object the request is dropped: there is nothing to repair
      // with, and the next check tries again.
      ConfigReport report;
      VerifyConfiguration(ctx, request.folder, request.rescan, report);
      return;
    }
    case CatalogRequest::Kind::MailProfile: {
      const HRESULT hr = ProcessMailProfile(ctx, request);
      if (Failed(hr)) ReportCatalogFailure(ctx, kMailEventName, hr);
      return;
    }
  }
}

}  // namespace qv::service
