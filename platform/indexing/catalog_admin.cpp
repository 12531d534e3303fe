#include "platform/indexing/catalog_admin.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <thread>

#include "common/utf.h"
#include "platform/fs/log_rotation.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/stem_tokenizer.h"
#include "platform/indexing/tree_delete.h"

extern char** environ;

namespace qv::platform::indexing {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kStartTimeout = std::chrono::seconds(10);

HRESULT Win(std::int32_t code) { return HresultFromWin32(code); }

std::filesystem::path DefaultIndexerProgram() {
  if (const char* p = std::getenv("QV_INDEXER"); p && *p) return p;
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path() / "qvindexer";
}

}  // namespace

std::filesystem::path ServiceFolder(const std::filesystem::path& root) {
  return root / "indexing";
}
std::filesystem::path ServiceLockPath(const std::filesystem::path& root) {
  return ServiceFolder(root) / "service.lock";
}
std::filesystem::path StopRequestPath(const std::filesystem::path& root) {
  return ServiceFolder(root) / "stop.request";
}

CatalogAdmin::CatalogAdmin(Registry& registry, std::filesystem::path root)
    : registry_(registry), root_(std::move(root)), program_(DefaultIndexerProgram()) {}

HRESULT CatalogAdmin::CheckName(std::string_view name) const {
  return IsPlainCatalogName(name) ? S_OK : E_INVALIDARG;
}

HRESULT CatalogAdmin::FindCatalog(std::string_view name) const {
  if (Failed(CheckName(name))) return E_INVALIDARG;
  return registry_.KeyExists(Hive::LocalMachine, CatalogKey(name)) ? S_OK
                                                                    : Win(win32::ERROR_NOT_FOUND);
}

HRESULT CatalogAdmin::ListCatalogs(std::vector<std::string>& out) const {
  out.clear();
  std::vector<std::string> keys;
  const auto rc = registry_.EnumKeys(Hive::LocalMachine, kCatalogsKey, keys);
  if (rc == win32::ERROR_FILE_NOT_FOUND) return S_OK;
  if (rc != 0) return Win(rc);
  for (auto& k : keys) {
    if (IsPlainCatalogName(k)) out.push_back(std::move(k));
  }
  return S_OK;
}

HRESULT CatalogAdmin::AddCatalog(std::string_view name, const std::filesystem::path& location) {
  if (Failed(CheckName(name)) || !location.is_absolute()) return E_INVALIDARG;
  if (Succeeded(FindCatalog(name))) return Win(win32::ERROR_ALREADY_EXISTS);
  auto rc = registry_.SetValue(Hive::LocalMachine, CatalogKey(name), kLocationValue,
                               RegValue::Sz(location.lexically_normal().string()));
  if (rc != 0) return Win(rc);
  rc = registry_.CreateKey(Hive::LocalMachine, ScopesKey(name));
  if (rc != 0) return Win(rc);
  rc = registry_.CreateKey(Hive::LocalMachine, PropertiesKey(name));
  return Win(rc);
}

HRESULT CatalogAdmin::RemoveCatalog(std::string_view name) {
  HRESULT hr = FindCatalog(name);
  if (Failed(hr)) return hr;
  std::filesystem::path location;
  if (Succeeded(GetLocation(name, location))) {
    hr = DeleteTree(location / kIndexFolder);
    if (Failed(hr)) return hr;
  }
  return Win(registry_.DeleteKey(Hive::LocalMachine, CatalogKey(name)));
}

HRESULT CatalogAdmin::GetLocation(std::string_view name, std::filesystem::path& out) const {
  HRESULT hr = FindCatalog(name);
  if (Failed(hr)) return hr;
  RegValue v;
  const auto rc = registry_.GetValue(Hive::LocalMachine, CatalogKey(name), kLocationValue, v);
  if (rc != 0) return Win(rc);
  if ((v.type != RegType::Sz && v.type != RegType::ExpandSz) || v.text.empty() ||
      v.text.front() != '/') {
    return Win(win32::ERROR_BADKEY);
  }
  out = std::filesystem::path(v.text).lexically_normal();
  return S_OK;
}

HRESULT CatalogAdmin::GetScopes(std::string_view name, std::vector<ScopeEntry>& out) const {
  out.clear();
  HRESULT hr = FindCatalog(name);
  if (Failed(hr)) return hr;
  std::vector<std::pair<std::string, RegValue>> values;
  const auto rc = registry_.EnumValues(Hive::LocalMachine, ScopesKey(name), values);
  if (rc == win32::ERROR_FILE_NOT_FOUND) return S_OK;
  if (rc != 0) return Win(rc);
  for (const auto& [path, value] : values) {
    bool excluded = false;
    if (path.empty() || value.type != RegType::Sz || !ParseScopeData(value.text, excluded)) {
      continue;
    }
    out.push_back({path, excluded});
  }
  return S_OK;
}

HRESULT CatalogAdmin::GetScopeByPath(std::string_view name, std::string_view path,
                                     ScopeEntry& out) const {
  std::vector<ScopeEntry> scopes;
  HRESULT hr = GetScopes(name, scopes);
  if (Failed(hr)) return hr;
  const std::string want = NormalizeScopePath(path);
  for (const auto& s : scopes) {
    if (s.path == path || (!want.empty() && NormalizeScopePath(s.path) == want)) {
      out = s;
      return S_OK;
    }
  }
  return Win(win32::ERROR_NOT_FOUND);
}

HRESULT CatalogAdmin::AddScope(std::string_view name, std::string_view path, bool excluded) {
  HRESULT hr = FindCatalog(name);
  if (Failed(hr)) return hr;
  if (path.empty() || path.front() != '/') return E_INVALIDARG;
  return Win(registry_.SetValue(Hive::LocalMachine, ScopesKey(name), path,
                                RegValue::Sz(excluded ? kExcludedScopeData : kIncludedScopeData)));
}

HRESULT CatalogAdmin::RemoveScope(std::string_view name, std::string_view path) {
  HRESULT hr = FindCatalog(name);
  if (Failed(hr)) return hr;
  ScopeEntry entry;
  hr = GetScopeByPath(name, path, entry);
  if (Failed(hr)) return hr;
  return Win(registry_.DeleteValue(Hive::LocalMachine, ScopesKey(name), entry.path));
}

HRESULT CatalogAdmin::GetCachedProperties(std::string_view name,
                                          std::vector<CachedProperty>& out) const {
  out.clear();
  HRESULT hr = FindCatalog(name);
  if (Failed(hr)) return hr;
  std::vector<std::pair<std::string, RegValue>> values;
  const auto rc = registry_.EnumValues(Hive::LocalMachine, PropertiesKey(name), values);
  if (rc == win32::ERROR_FILE_NOT_FOUND) return S_OK;
  if (rc != 0) return Win(rc);
  for (const auto& [valueName, value] : values) {
    CachedProperty p;
    if (value.type == RegType::Sz && ParseCachedProperty(valueName, value.text, p)) {
      const std::string key = p.Key();
      if (std::none_of(out.begin(), out.end(), [&](const auto& q) { return q.Key() == key; })) {
        out.push_back(std::move(p));
      }
    }
  }
  return S_OK;
}

bool CatalogAdmin::IsRunning() const {
  const int fd = open(ServiceLockPath(root_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

HRESULT CatalogAdmin::Start() {
  if (IsRunning()) return S_OK;
  if (program_.empty() || access(program_.c_str(), X_OK) != 0) {
    return Win(win32::ERROR_FILE_NOT_FOUND);
  }
  std::error_code ec;
  ec = CreatePrivateFolders(ServiceFolder(root_));
  if (ec) return HresultFromErrno(ec.value());
  std::filesystem::remove(StopRequestPath(root_), ec);
  const std::string program = program_.string();
  const std::string rootArg = root_.string();
  const std::string log = (ServiceFolder(root_) / "indexer.log").string();
  // The service appends to its log for as long as it runs; each start rotates a full one.
  if (const int fd = OpenRotatedLog(log); fd >= 0) close(fd);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                             const_cast<char*>("--root"), const_cast<char*>(rootArg.c_str()),
                             const_cast<char*>("--detach"), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return HresultFromErrno(err);
  // The program forks its service and the first process exits once the service runs.
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return E_FAIL;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (!IsRunning()) {
    if (std::chrono::steady_clock::now() > deadline) return Win(win32::ERROR_TIMEOUT);
    std::this_thread::sleep_for(kPollInterval);
  }
  return S_OK;
}

HRESULT CatalogAdmin::Stop() {
  if (!IsRunning()) return S_OK;
  std::error_code ec;
  ec = CreatePrivateFolders(ServiceFolder(root_));
  const int fd = open(StopRequestPath(root_).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return HresultFromErrno(errno);
  close(fd);
  const auto deadline = std::chrono::steady_clock::now() + stopTimeout_;
  while (IsRunning()) {
    if (std::chrono::steady_clock::now() > deadline) return Win(win32::ERROR_TIMEOUT);
    std::this_thread::sleep_for(kPollInterval);
  }
  std::filesystem::remove(StopRequestPath(root_), ec);
  return S_OK;
}

namespace {
HRESULT OpenIndex(const CatalogAdmin& admin, std::string_view name,
                  std::unique_ptr<CatalogDb>& db) {
  std::filesystem::path location;
  HRESULT hr = admin.GetLocation(name, location);
  if (Failed(hr)) return hr;
  std::vector<CachedProperty> props;
  hr = admin.GetCachedProperties(name, props);
  if (Failed(hr)) return hr;
  return CatalogDb::Open(location, props, db, StemmingLanguages(admin.registry()));
}
}  // namespace

HRESULT CatalogAdmin::StartCatalog(std::string_view name) {
  std::unique_ptr<CatalogDb> db;
  HRESULT hr = OpenIndex(*this, name, db);
  if (Failed(hr)) return hr;
  return db->SetMeta("stopped", "0");
}

HRESULT CatalogAdmin::StopCatalog(std::string_view name) {
  std::unique_ptr<CatalogDb> db;
  HRESULT hr = OpenIndex(*this, name, db);
  if (Failed(hr)) return hr;
  return db->SetMeta("stopped", "1");
}

HRESULT CatalogAdmin::IsCatalogStopped(std::string_view name, bool& stopped) const {
  stopped = false;
  std::filesystem::path location;
  HRESULT hr = GetLocation(name, location);
  if (Failed(hr)) return hr;
  std::unique_ptr<CatalogDb> db;
  hr = CatalogDb::OpenForQuery(location, db);
  if (hr == STG_E_FILENOTFOUND) return S_OK;  // never started or stopped: not stopped
  if (Failed(hr)) return hr;
  std::string v;
  hr = db->GetMeta("stopped", v);
  if (Failed(hr)) return hr;
  stopped = v == "1";
  return S_OK;
}

HRESULT CatalogAdmin::IsCatalogRunning(std::string_view name, bool& running) const {
  bool stopped = false;
  const HRESULT hr = IsCatalogStopped(name, stopped);
  running = Succeeded(hr) && !stopped && IsRunning();
  return hr;
}

HRESULT CatalogAdmin::Rescan(std::string_view name, std::string_view scope, bool full) {
  std::unique_ptr<CatalogDb> db;
  HRESULT hr = OpenIndex(*this, name, db);
  if (Failed(hr)) return hr;
  return db->AddRequest(scope, full);
}

HRESULT CatalogAdmin::LocateCatalog(std::string_view path, std::size_t index,
                                    std::string& name) const {
  const std::string want = NormalizeScopePath(path);
  if (want.empty()) return E_INVALIDARG;
  std::vector<std::string> names;
  HRESULT hr = ListCatalogs(names);
  if (Failed(hr)) return hr;
  std::size_t found = 0;
  for (const auto& n : names) {
    std::vector<ScopeEntry> scopes;
    if (Failed(GetScopes(n, scopes))) continue;
    if (!ScopeSet(scopes).Covers(want)) continue;
    if (found++ == index) {
      name = n;
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT CatalogAdmin::GetState(std::string_view name, CatalogState& out) const {
  out = CatalogState{};
  std::filesystem::path location;
  HRESULT hr = GetLocation(name, location);
  if (Failed(hr)) return hr;
  std::unique_ptr<CatalogDb> db;
  hr = CatalogDb::OpenForQuery(location, db);
  if (hr == STG_E_FILENOTFOUND) {
    out.eState = CI_STATE_CONTENT_SCAN_REQUIRED;
    return S_OK;
  }
  if (Failed(hr)) return hr;
  std::int64_t total = 0, pending = 0;
  hr = db->Counts(total, pending);
  if (Failed(hr)) return hr;
  auto clamp = [](std::int64_t v) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, UINT32_MAX));
  };
  out.cTotalDocuments = clamp(total);
  out.cDocuments = clamp(pending);
  out.cFilteredDocuments = clamp(total - pending);
  std::string phase, complete;
  if (db->GetMeta("phase", phase) == S_OK && IsRunning()) {
    if (phase == "scanning") out.eState |= CI_STATE_SCANNING;
    if (phase == "recovering") out.eState |= CI_STATE_RECOVERING;
  }
  if (db->GetMeta("complete", complete) != S_OK) out.eState |= CI_STATE_CONTENT_SCAN_REQUIRED;
  std::uint64_t bytes = 0;
  for (const char* suffix : {"", "-wal"}) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(
        CatalogDb::DatabasePath(location).string() + suffix, ec);
    if (!ec) bytes += n;
  }
  out.dwIndexSize = clamp(static_cast<std::int64_t>(bytes >> 20));
  return S_OK;
}

HRESULT CatalogAdmin::GetProblems(std::string_view name, CatalogProblems& out) const {
  out = CatalogProblems{};
  std::filesystem::path location;
  HRESULT hr = GetLocation(name, location);
  if (Failed(hr)) return hr;
  std::unique_ptr<CatalogDb> db;
  hr = CatalogDb::OpenForQuery(location, db);
  if (hr == STG_E_FILENOTFOUND) return S_OK;
  if (Failed(hr)) return hr;
  std::string listed, total;
  if (Failed(hr = db->GetMeta(kMetaUnreadable, listed)) ||
      Failed(hr = db->GetMeta(kMetaUnreadableTotal, total))) {
    return hr;
  }
  for (std::size_t at = 0; at < listed.size();) {
    const std::size_t end = std::min(listed.find('\n', at), listed.size());
    if (end > at) out.unreadable.push_back(listed.substr(at, end - at));
    at = end + 1;
  }
  std::from_chars(total.data(), total.data() + total.size(), out.unreadableTotal);
  out.unreadableTotal =
      std::max<std::int64_t>(out.unreadableTotal, static_cast<std::int64_t>(out.unreadable.size()));
  if (IsRunning()) {
    if (Failed(hr = db->GetMeta(kMetaUnwatched, out.unwatched))) return hr;
  }
  return S_OK;
}

void RegisterAdminClass(ClassRegistry& classes, Registry& registry,
                        const std::filesystem::path& root) {
  classes.Register(kAdminClsid, "Microsoft.ISAdm", "",
                   [&registry, root](std::shared_ptr<ComObject>& out) {
                     out = std::make_shared<CatalogAdmin>(registry, root);
                     return S_OK;
                   });
}

}  // namespace qv::platform::indexing
