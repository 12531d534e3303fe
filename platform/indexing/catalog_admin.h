#pragma once
// The administration side of the catalog engine: what the Indexing Service's administration
// objects offer (look up, add and remove catalogs and scopes, a catalog's location, start
// and stop the service and single catalogs, rescans, which catalogs cover a folder) and the
// catalog state record. Catalogs and scopes are the registry keys under kCatalogsKey; the
// service is the indexer program, which holds QV_ROOT/indexing/service.lock while it runs.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "platform/com/class_registry.h"
#include "platform/indexing/catalog_keys.h"
#include "platform/indexing/scope_set.h"
#include "platform/registry/registry.h"

namespace qv::platform::indexing {

// The administration object's class {3BC4F3A1-652A-11D1-B4D4-00C04FC2DB8D}.
inline constexpr Guid kAdminClsid =
    MakeGuid(0x3BC4F3A1, 0x652A, 0x11D1, 0xB4, 0xD4, 0x00, 0xC0, 0x4F, 0xC2, 0xDB, 0x8D);

// State word bits of the catalog state record.
inline constexpr std::uint32_t CI_STATE_CONTENT_SCAN_REQUIRED = 0x4;
inline constexpr std::uint32_t CI_STATE_SCANNING = 0x10;
inline constexpr std::uint32_t CI_STATE_RECOVERING = 0x20;
inline constexpr std::uint32_t CI_STATE_READ_ONLY = 0x400;
inline constexpr std::uint32_t CI_STATE_STARTING = 0x2000;

// The 60-byte state record (fifteen 32-bit fields) that a catalog's state query fills.
struct CatalogState {
  std::uint32_t cbStruct = 60;
  std::uint32_t cWordList = 0;
  std::uint32_t cPersistentIndex = 0;
  std::uint32_t cQueries = 0;
  std::uint32_t cDocuments = 0;  // documents still to filter
  std::uint32_t cFreshTest = 0;
  std::uint32_t dwMergeProgress = 0;
  std::uint32_t eState = 0;
  std::uint32_t cFilteredDocuments = 0;
  std::uint32_t cTotalDocuments = 0;
  std::uint32_t cPendingScans = 0;
  std::uint32_t dwIndexSize = 0;  // MB
  std::uint32_t cUniqueKeys = 0;
  std::uint32_t cSecQDocuments = 0;
  std::uint32_t dwPropCacheSize = 0;  // KB
};

// What keeps a catalog from being complete and current: folders that cannot be read
// ("<folder>\t<reason>", the first of `unreadableTotal`) and the folder where the running
// service ran out of watches (empty when every folder is followed).
struct CatalogProblems {
  std::vector<std::string> unreadable;
  std::int64_t unreadableTotal = 0;
  std::string unwatched;
  bool any() const { return unreadableTotal > 0 || !unreadable.empty() || !unwatched.empty(); }
};

// Files of the running service under the root.
std::filesystem::path ServiceFolder(const std::filesystem::path& root);
std::filesystem::path ServiceLockPath(const std::filesystem::path& root);
std::filesystem::path StopRequestPath(const std::filesystem::path& root);

class CatalogAdmin : public ComObject {
 public:
  CatalogAdmin(Registry& registry, std::filesystem::path root);

  // S_OK when registered; HRESULT of ERROR_NOT_FOUND when not; E_INVALIDARG for a name that
  // is not plain.
  HRESULT FindCatalog(std::string_view name) const;
  HRESULT ListCatalogs(std::vector<std::string>& out) const;
  // The location must be an absolute path; a catalog of that name must not exist yet
  // (HRESULT of ERROR_ALREADY_EXISTS).
  HRESULT AddCatalog(std::string_view name, const std::filesystem::path& location);
  // Removes the registration and the catalog's index folder.
  HRESULT RemoveCatalog(std::string_view name);
  HRESULT GetLocation(std::string_view name, std::filesystem::path& out) const;

  HRESULT GetScopes(std::string_view name, std::vector<ScopeEntry>& out) const;
  // HRESULT of ERROR_NOT_FOUND when the catalog has no scope with that path.
  HRESULT GetScopeByPath(std::string_view name, std::string_view path, ScopeEntry& out) const;
  HRESULT AddScope(std::string_view name, std::string_view path, bool excluded);
  HRESULT RemoveScope(std::string_view name, std::string_view path);
  HRESULT GetCachedProperties(std::string_view name, std::vector<CachedProperty>& out) const;

  // The service (the indexer program).
  bool IsRunning() const;
  HRESULT Start();
  HRESULT Stop();
  void SetIndexerProgram(std::filesystem::path program) { program_ = std::move(program); }
  void SetStopTimeout(std::chrono::milliseconds t) { stopTimeout_ = t; }

  // Single catalogs: a stopped catalog is neither crawled nor followed.
  HRESULT StartCatalog(std::string_view name);
  HRESULT StopCatalog(std::string_view name);
  HRESULT IsCatalogRunning(std::string_view name, bool& running) const;
  HRESULT IsCatalogStopped(std::string_view name, bool& stopped) const;
  // Queues a rescan of one scope (empty: all scopes); the indexer carries it out.
  HRESULT Rescan(std::string_view name, std::string_view scope, bool full);

  // The index-th catalog (from 0) whose scopes take in `path`: S_OK with its name, S_FALSE
  // when there are no more.
  HRESULT LocateCatalog(std::string_view path, std::size_t index, std::string& name) const;
  HRESULT GetState(std::string_view name, CatalogState& out) const;
  // Nothing to report for a catalog without an index yet; the lack of watches only while
  // the service runs.
  HRESULT GetProblems(std::string_view name, CatalogProblems& out) const;

  Registry& registry() const { return registry_; }
  const std::filesystem::path& root() const { return root_; }

 private:
  HRESULT CheckName(std::string_view name) const;

  Registry& registry_;
  std::filesystem::path root_;
  std::filesystem::path program_;
  std::chrono::milliseconds stopTimeout_{30000};
};

// Registers the administration object's class so that callers create it by CLSID.
void RegisterAdminClass(ClassRegistry& classes, Registry& registry,
                        const std::filesystem::path& root);

}  // namespace qv::platform::indexing
