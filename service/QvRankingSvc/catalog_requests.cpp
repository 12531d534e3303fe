#include "service/QvRankingSvc/catalog_requests.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "common/utf.h"
#include "context/event_report.h"
#include "platform/folders/folders.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/journal/unique_fd.h"
#include "service/QvRankingSvc/caller_folders.h"
#include "service/QvRankingSvc/catalog_config.h"

namespace qv::service {
namespace {

namespace ix = platform::indexing;
using journal::UniqueFd;

// The service runs as the user whose installation it looks after; nobody else may have it
// touch that user's catalogs or files.
bool IsInstallationUser(const Caller& caller) { return caller.uid == ::geteuid(); }

HRESULT Refused(const Context& ctx, std::string_view call, HRESULT hr) {
  ReportItemWarning(ctx, kCategoryProvider, kEventRequestRefused, call, hr);
  return hr;
}

HRESULT CheckFolder(const Context& ctx, std::string_view dir, std::string& out) {
  return CheckCallerFolder(dir, platform::KnownFolderPath(ctx.root, platform::KnownFolder::Personal),
                           ctx.root, out);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// Opens `name` in `dir` as a folder without following a symbolic link.
HRESULT OpenFolderAt(int dir, const std::string& name, UniqueFd& out) {
  out.Reset(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (out) return S_OK;
  if (errno == ENOENT) return S_FALSE;
  if (errno == ELOOP || errno == ENOTDIR) return E_ACCESSDENIED;
  return HresultFromErrno(errno);
}

std::vector<std::string> Components(const std::filesystem::path& relative) {
  std::vector<std::string> parts;
  for (const auto& c : relative) parts.push_back(c.string());
  return parts;
}

}  // namespace

HRESULT MakeConfigRequest(const Context& ctx, std::string_view dir, bool rescan,
                          const Caller& caller, CatalogRequest& out) {
  constexpr std::string_view kCall = "CfgVerify";
  if (dir.empty()) return Refused(ctx, kCall, E_INVALIDARG);
  if (!IsInstallationUser(caller)) return Refused(ctx, kCall, E_ACCESSDENIED);
  std::string folder;
  if (const HRESULT hr = CheckFolder(ctx, dir, folder); Failed(hr)) {
    return Refused(ctx, kCall, hr);
  }
  out = CatalogRequest{};
  out.kind = CatalogRequest::Kind::ConfigCheck;
  out.folder = folder == "/" ? folder : folder + "/";
  out.rescan = rescan;
  out.caller = caller;
  return S_OK;
}

HRESULT MakeMailProfileRequest(const Context& ctx, std::string_view profile,
                               std::string_view scopeRoot, std::string_view stores,
                               const Caller& caller, CatalogRequest& out) {
  constexpr std::string_view kCall = "OtlProfile";
  if (profile.empty() || scopeRoot.empty() || stores.empty()) {
    return Refused(ctx, kCall, E_INVALIDARG);
  }
  if (!IsInstallationUser(caller)) return Refused(ctx, kCall, E_ACCESSDENIED);
  std::string root;
  if (const HRESULT hr = CheckFolder(ctx, scopeRoot, root); Failed(hr)) {
    return Refused(ctx, kCall, hr);
  }
  std::vector<std::string> names;
  if (const HRESULT hr = ParseStoreList(stores, names); Failed(hr)) {
    return Refused(ctx, kCall, hr);
  }
  out = CatalogRequest{};
  out.kind = CatalogRequest::Kind::MailProfile;
  out.scopeRoot = root;
  out.profileName = std::string(profile);
  for (const auto& n : names) out.stores += (out.stores.empty() ? "" : ";") + n;
  out.owner = OwnerIdentity(caller.uid);
  out.caller = caller;
  return S_OK;
}

HRESULT OtlStopScope(const Context& ctx, std::string_view dir, const Caller& caller) {
  if (dir.empty()) return E_INVALIDARG;
  std::shared_ptr<ix::CatalogAdmin> admin;
  HRESULT hr = ctx.classes.CreateInstance(ix::kAdminClsid, admin);
  if (Failed(hr)) return hr;
  std::string folder(dir);
  std::replace(folder.begin(), folder.end(), '\\', '/');
  const std::string owner = OwnerIdentity(caller.uid);
  for (std::size_t index = 0;; ++index) {
    std::string name;
    if (admin->LocateCatalog(folder, index, name) != S_OK) break;
    if (!StartsWithNoCase(name, kMailCatalogPrefix)) continue;
    // Only the caller's own catalogs: the owner recorded when the catalog was made.
    platform::RegValue v;
    const auto rc = ctx.registry.GetValue(platform::Hive::LocalMachine, ix::CatalogKey(name),
                                          cihelper::kOwnerValue, v);
    if (rc != 0 || v.type != platform::RegType::Sz || v.text != owner) continue;
    if (Failed(admin->StopCatalog(name))) break;
  }
  return S_OK;
}

HRESULT DeleteStale(const Context& ctx, std::string_view file, const Caller& caller) {
  if (file.empty() || file.find('\0') != std::string_view::npos) return E_INVALIDARG;
  if (!IsInstallationUser(caller)) return E_ACCESSDENIED;
  if (!IsShortcutFileName(file)) return E_ACCESSDENIED;
  std::string p(file);
  std::replace(p.begin(), p.end(), '\\', '/');
  const std::filesystem::path path(p);
  if (!path.is_absolute() || path.lexically_normal().string() != p) return E_ACCESSDENIED;

  const auto data = platform::KnownFolderPath(ctx.root, platform::KnownFolder::LocalAppData)
                        .lexically_normal();
  for (const std::string_view folder : kShortcutFolders) {
    const std::filesystem::path below = data.filename() / folder;  // below the root
    const std::filesystem::path base = data / folder;
    const auto relative = path.lexically_relative(base);
    if (relative.empty() || *relative.begin() == ".." || relative == ".") continue;
    // From the root down, every folder is opened without following a link, and the file is
    // removed relative to the last one: nothing can point the deletion elsewhere.
    UniqueFd dir(::open(data.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return errno == ENOENT ? S_FALSE : HresultFromErrno(errno);
    std::vector<std::string> parts = Components(below);
    const auto rest = Components(relative);
    parts.insert(parts.end(), rest.begin(), rest.end() - 1);
    for (const auto& part : parts) {
      UniqueFd next;
      const HRESULT hr = OpenFolderAt(dir.get(), part, next);
      if (hr != S_OK) return hr;
      dir = std::move(next);
    }
    const std::string leaf = rest.back();
    if (::unlinkat(dir.get(), leaf.c_str(), 0) == 0) return S_OK;
    if (errno == ENOENT) return S_FALSE;
    return HresultFromErrno(errno);
  }
  return E_ACCESSDENIED;
}

void BindCatalogHandlers(const Context& ctx, ListenerHandlers& handlers) {
  const Context* c = &ctx;
  handlers.makeConfigRequest = [c](std::string_view dir, bool rescan, const Caller& caller,
                                   CatalogRequest& out) {
    return MakeConfigRequest(*c, dir, rescan, caller, out);
  };
  handlers.makeMailProfileRequest = [c](std::string_view profile, std::string_view scopeRoot,
                                        std::string_view stores, const Caller& caller,
                                        CatalogRequest& out) {
    return MakeMailProfileRequest(*c, profile, scopeRoot, stores, caller, out);
  };
  handlers.processCatalogRequest = [c](const CatalogRequest& r) { ProcessCatalogRequest(*c, r); };
  handlers.otlStopScope = [c](std::string_view dir, const Caller& caller) {
    return OtlStopScope(*c, dir, caller);
  };
  handlers.deleteStale = [c](std::string_view file, const Caller& caller) {
    return DeleteStale(*c, file, caller);
  };
}

}  // namespace qv::service
