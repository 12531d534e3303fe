#include "provider/cihelper/cihelper.h"

#include <filesystem>
#include <system_error>

#include "context/event_report.h"
#include "common/utf.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/tree_delete.h"
#include "provider/cihelper/catalog_tables.h"

namespace qv {
namespace {

using platform::Hive;
using platform::RegType;
using platform::RegValue;
namespace ix = platform::indexing;

constexpr std::string_view kMethod = "Pelion.CIHelper::RepairCatalog";

HRESULT Win(std::int32_t code) { return HresultFromWin32(code); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// Writes a REG_SZ value unless it already reads the same (compared without case).
HRESULT EnsureString(platform::Registry& reg, const std::string& key, std::string_view name,
                     std::string_view data, bool& changed) {
  RegValue v;
  const auto rc = reg.GetValue(Hive::LocalMachine, key, name, v);
  if (rc == 0 && v.type == RegType::Sz && EqualsNoCase(v.text, data)) return S_OK;
  if (rc != 0 && rc != win32::ERROR_FILE_NOT_FOUND) return Win(rc);
  const auto wrc = reg.SetValue(Hive::LocalMachine, key, name, RegValue::Sz(data));
  if (wrc != 0) return Win(wrc);
  changed = true;
  return S_OK;
}

// The folders of the "System" catalog. The per-user data folders (AppData, LocalAppData) sit
// directly under the installation root, which therefore plays the part of the profiles
// folder; the user's home folder plays the part of the system drive's root.
struct SystemFolders {
  std::string profiles;
  std::string driveRoot;
  std::string location;
};

SystemFolders SystemCatalogFolders(const std::filesystem::path& root) {
  SystemFolders f;
  const auto common = platform::KnownFolderPath(root, platform::KnownFolder::CommonAppData);
  f.profiles = common.parent_path().lexically_normal().string();
  f.driveRoot = platform::KnownFolderPath(root, platform::KnownFolder::Personal)
                    .lexically_normal()
                    .string();
  f.location = (root / cihelper::kSystemVolumeFolder).lexically_normal().string();
  return f;
}

class Repair {
 public:
  Repair(const Context& ctx, ix::CatalogAdmin& admin) : ctx_(ctx), admin_(admin) {}

  HRESULT Run(const std::string& name, bool shared, ULONG nType, const std::string& owner,
              const std::string& scope, VARIANT_BOOL* restart, VARIANT_BOOL* rebuild) {
    const bool isSystem = EqualsNoCase(name, cihelper::kSystemCatalog);
    auto& reg = ctx_.registry;
    bool created = false;
    bool changed = false;

    HRESULT hr = admin_.FindCatalog(name);
    if (hr == Win(win32::ERROR_NOT_FOUND) || hr == Win(win32::ERROR_FILE_NOT_FOUND)) {
      hr = isSystem ? CreateSystem(name) : CreateCatalog(name, shared, owner, scope);
      if (Failed(hr)) return hr;
      created = true;
    } else if (Failed(hr)) {
      return hr;
    }

    if (!isSystem && !scope.empty()) {
      hr = RepairScopes(name, scope);
      if (Failed(hr)) return hr;
    }
    if (isSystem) {
      hr = RepairSystemScopes(name, created, changed);
      if (Failed(hr)) return hr;
    }

    const std::string propKey = ix::PropertiesKey(name);
    auto ensureRows = [&](const auto& rows) -> HRESULT {
      for (const auto& [valueName, data] : rows) {
        const HRESULT h = EnsureString(reg, propKey, valueName, data, changed);
        if (Failed(h)) return h;
      }
      return S_OK;
    };
    hr = nType == kCatalogTypeJournal ? ensureRows(cihelper::kJournalCatalogProperties)
                                      : ensureRows(cihelper::kDocumentCatalogProperties);
    if (Failed(hr)) return hr;

    if (changed) {
      hr = admin_.Stop();
      if (Failed(hr)) return hr;
      std::filesystem::path location;
      hr = admin_.GetLocation(name, location);
      if (Failed(hr)) return hr;
      hr = ix::DeleteTree(location / ix::kIndexFolder);
      if (Failed(hr)) return hr;
      if (restart) *restart = VARIANT_TRUE;
      if (rebuild) *rebuild = VARIANT_TRUE;
    } else if (created && restart) {
      *restart = VARIANT_TRUE;
    }
    return S_OK;
  }

 private:
  HRESULT CreateSystem(const std::string& name) {
    HRESULT hr = admin_.Stop();
    if (Failed(hr)) return hr;
    auto& reg = ctx_.registry;
    const std::string key = ix::CatalogKey(name);
    const SystemFolders f = SystemCatalogFolders(ctx_.root);
    for (const char* v : {"IsIndexingNNTPSvc", "IsIndexingW3Svc"}) {
      const auto rc = reg.SetValue(Hive::LocalMachine, key, v, RegValue::Dword(0));
      if (rc != 0) return Win(rc);
    }
    auto rc = reg.SetValue(Hive::LocalMachine, key, ix::kLocationValue, RegValue::Sz(f.location));
    if (rc != 0) return Win(rc);
    rc = reg.CreateKey(Hive::LocalMachine, ix::ScopesKey(name));
    if (rc != 0) return Win(rc);
    rc = reg.CreateKey(Hive::LocalMachine, ix::PropertiesKey(name));
    return Win(rc);
  }

  HRESULT CreateCatalog(const std::string& name, bool shared, const std::string& owner,
                        const std::string& scope) {
    std::filesystem::path base;
    if (shared) {
      base = platform::KnownFolderPath(ctx_.root, platform::KnownFolder::CommonAppData);
      std::error_code ec;
      ec = platform::CreatePrivateFolders(base);
      if (ec) return HresultFromErrno(ec.value());
    } else {
      const auto at = scope.rfind(cihelper::kCatalogPrefix);
      if (scope.empty() || at == std::string::npos || at == 0) return E_INVALIDARG;
      base = scope.substr(0, at);
    }
    if (!base.is_absolute()) return E_INVALIDARG;
    const auto location = (base / cihelper::kCatalogsFolder / name).lexically_normal();
    HRESULT hr = admin_.AddCatalog(name, location);
    if (Failed(hr)) return hr;
    if (!shared) {
      const auto rc = ctx_.registry.SetValue(Hive::LocalMachine, ix::CatalogKey(name),
                                             cihelper::kOwnerValue, RegValue::Sz(owner));
      if (rc != 0) return Win(rc);
    }
    return S_OK;
  }

  HRESULT RepairScopes(const std::string& name, const std::string& scope) {
    ix::ScopeEntry entry;
    HRESULT hr = admin_.GetScopeByPath(name, scope, entry);
    if (Failed(hr)) {
      hr = admin_.AddScope(name, scope, false);
      if (Failed(hr)) return hr;
    }
    // Remove included scopes whose folder is gone, starting over after each removal.
    for (bool removed = true; removed;) {
      removed = false;
      std::vector<ix::ScopeEntry> scopes;
      hr = admin_.GetScopes(name, scopes);
      if (Failed(hr)) return hr;
      for (const auto& s : scopes) {
        std::error_code ec;
        if (s.excluded || std::filesystem::is_directory(s.path, ec)) continue;
        hr = admin_.RemoveScope(name, s.path);
        if (Failed(hr)) return hr;
        removed = true;
        break;
      }
    }
    return S_OK;
  }

  HRESULT RepairSystemScopes(const std::string& name, bool created, bool& changed) {
    auto& reg = ctx_.registry;
    const std::string key = ix::ScopesKey(name);
    const SystemFolders f = SystemCatalogFolders(ctx_.root);
    for (const std::string& pattern : {f.profiles + "/AppData/*", f.profiles + "/LocalAppData/*"}) {
      const HRESULT hr = EnsureString(reg, key, pattern, ix::kExcludedScopeData, changed);
      if (Failed(hr)) return hr;
    }
    if (created) {
      for (const std::string& folder : {f.profiles, f.driveRoot}) {
        const auto rc = reg.SetValue(Hive::LocalMachine, key, folder,
                                     RegValue::Sz(ix::kIncludedScopeData));
        if (rc != 0) return Win(rc);
        changed = true;
      }
    }
    return S_OK;
  }

  const Context& ctx_;
  ix::CatalogAdmin& admin_;
};

}  // namespace

bool IsAcceptedCatalogName(std::string_view name) {
  if (!ix::IsPlainCatalogName(name)) return false;
  if (name.find(' ') != std::string_view::npos || name.find('\\') != std::string_view::npos) {
    return false;
  }
  return EqualsNoCase(name, cihelper::kSystemCatalog) ||
         StartsWithNoCase(name, cihelper::kCatalogPrefix);
}

HRESULT CIHelper::RepairCatalog(const std::string* CatalogName, VARIANT_BOOL bShared,
                                ULONG nType, const std::string* OwnerSID,
                                const std::string* Scope, VARIANT_BOOL* bRequiresRestart,
                                VARIANT_BOOL* bRebuildCatalog) {
  // The outputs are only ever set to TRUE, never reset: a caller repairs several catalogs
  // into one restart flag, and a later repair that changes nothing must not clear what an
  // earlier one asked for. The caller initialises them.
  const std::string name = CatalogName ? *CatalogName : std::string();
  const std::string owner = OwnerSID ? *OwnerSID : std::string();
  const std::string scope = Scope ? *Scope : std::string();
  const bool shared = bShared == VARIANT_TRUE || EqualsNoCase(name, cihelper::kSystemCatalog);
  HRESULT hr = S_OK;
  if (!IsAcceptedCatalogName(name) || (!shared && owner.empty())) {
    hr = E_INVALIDARG;
  } else {
    std::shared_ptr<ix::CatalogAdmin> admin;
    hr = ctx_.classes.CreateInstance(ix::kAdminClsid, admin);
    if (Succeeded(hr)) {
      hr = Repair(ctx_, *admin).Run(name, shared, nType, owner, scope, bRequiresRestart,
                                    bRebuildCatalog);
    }
  }
  if (Failed(hr)) ReportProviderError(ctx_, kMethod, hr);
  return hr;
}

void RegisterCIHelper(const Context& ctx) {
  ctx.classes.Register(CLSID_CIHelper, kProgIdCIHelper, kProgIdCIHelperIndependent,
                       [&ctx](std::shared_ptr<platform::ComObject>& out) {
                         out = std::make_shared<CIHelper>(ctx);
                         return S_OK;
                       });
}

}  // namespace qv
