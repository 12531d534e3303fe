// The store: hive files read whole on every call, written whole under a lock.
#include "platform/registry/registry.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>

#include "common/hresult.h"
#include "platform/fs/private_files.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/reg_names.h"
#include "platform/registry/reg_tree.h"

namespace qv::platform {

// The last text read of each hive and its parse: a reader whose file still holds the same
// bytes skips parsing. Keyed by content, not by inode and time stamps, which a quick
// rewrite can leave unchanged.
struct RegistryCache {
  struct Entry {
    std::string text;
    std::shared_ptr<const RegKey> tree;
  };
  std::mutex mutex;
  std::array<Entry, 3> entries;
};

namespace {

namespace fs = std::filesystem;
using Parts = std::vector<std::string_view>;
// Edits a freshly read hive; sets `changed` when there is anything to write.
using Edit = std::function<std::int32_t(RegKey& root, bool& changed)>;

constexpr std::string_view kTempInfix = ".tmp-";  // <hive>.reg.tmp-XXXXXX

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now, reporting the error that close may carry for written data.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

std::size_t Index(Hive h) { return static_cast<std::size_t>(h); }

void SetError(RegParseError* err, std::int32_t code, std::string message) {
  if (err) *err = {code, 0, std::move(message)};
}

// The whole hive file; a missing file is an empty hive.
std::int32_t ReadHiveText(const fs::path& file, std::string& out, RegParseError* err) {
  out.clear();
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return 0;
    const std::int32_t rc = Win32FromErrno(errno);
    SetError(err, rc, std::string("cannot open the file: ") + std::strerror(errno));
    return rc;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Win32FromErrno(errno);
  if (!S_ISREG(st.st_mode)) {
    SetError(err, win32::ERROR_BADDB, "not a regular file");
    return win32::ERROR_BADDB;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxHiveBytes) {
    SetError(err, win32::ERROR_BADDB, kHiveTooLarge);
    return win32::ERROR_BADDB;
  }
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (true) {
    if (got == out.size()) {
      // The file may have grown since fstat (someone else writing it in place).
      if (out.size() > kMaxHiveBytes) {
        SetError(err, win32::ERROR_BADDB, kHiveTooLarge);
        return win32::ERROR_BADDB;
      }
      out.resize(out.size() + 4096);
    }
    const ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::int32_t rc = Win32FromErrno(errno);
      SetError(err, rc, std::string("cannot read the file: ") + std::strerror(errno));
      return rc;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return 0;
}

std::int32_t Load(const fs::path& file, Hive hive, RegistryCache& cache,
                  std::shared_ptr<const RegKey>& tree, RegParseError* err = nullptr) {
  std::string text;
  if (const std::int32_t rc = ReadHiveText(file, text, err); rc != 0) return rc;
  RegistryCache::Entry& entry = cache.entries[Index(hive)];
  {
    std::lock_guard lock(cache.mutex);
    if (entry.tree && entry.text == text) {
      tree = entry.tree;
      return 0;
    }
  }
  auto root = std::make_shared<RegKey>(std::string(HiveName(hive)));
  if (const std::int32_t rc = ParseRegText(text, hive, *root, err); rc != 0) return rc;
  std::lock_guard lock(cache.mutex);
  entry.text = std::move(text);
  entry.tree = root;
  tree = std::move(root);
  return 0;
}

template <class Key>  // RegKey or const RegKey
Key* FindKey(Key& root, const Parts& parts) {
  Key* k = &root;
  for (const std::string_view part : parts) {
    k = k->FindSubkey(part);
    if (k == nullptr) return nullptr;
  }
  return k;
}

std::int32_t WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Win32FromErrno(errno);
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Temporary files of writers that died before their rename. Only called under the hive's
// lock, when no live writer can own one.
void RemoveStaleTemps(const fs::path& dir, const std::string& fileName) {
  const std::string prefix = fileName + std::string(kTempInfix);
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(prefix)) fs::remove(it->path(), ec);
  }
}

// Temporary file beside the hive, fsync, rename over it, fsync the folder: readers see the
// old file or the new one, and a crash leaves one of them.
std::int32_t ReplaceFile(const fs::path& dir, const fs::path& file, std::string_view text) {
  std::string tmp = file.string() + std::string(kTempInfix) + "XXXXXX";
  Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
  if (!fd) return Win32FromErrno(errno);
  std::int32_t rc = 0;
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0 && ::fchmod(fd.get(), st.st_mode & kPrivateFileMode) != 0) {
    rc = Win32FromErrno(errno);
  }
  if (rc == 0) rc = WriteAll(fd.get(), text);
  if (rc == 0 && ::fsync(fd.get()) != 0) rc = Win32FromErrno(errno);
  if (rc == 0 && fd.Close() != 0) rc = Win32FromErrno(errno);
  if (rc == 0 && ::rename(tmp.c_str(), file.c_str()) != 0) rc = Win32FromErrno(errno);
  if (rc != 0) {
    ::unlink(tmp.c_str());
    return rc;
  }
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd || ::fsync(dirFd.get()) != 0) return Win32FromErrno(errno);
  return 0;
}

std::int32_t UpdateHive(const fs::path& root, Hive hive, RegistryCache& cache, const Edit& edit) {
  const fs::path dir = root / "registry";
  const std::string fileName = std::string(HiveName(hive)) + ".reg";
  const fs::path file = dir / fileName;
  std::error_code ec;
  ec = CreatePrivateFolders(dir);
  if (ec) return Win32FromErrno(ec.value());

  // The lock file is never removed: removing it would let two writers lock different files.
  const fs::path lockPath = dir / (std::string(HiveName(hive)) + ".lock");
  Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock) return Win32FromErrno(errno);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Win32FromErrno(errno);
  }
  RemoveStaleTemps(dir, fileName);

  std::string text;
  if (const std::int32_t rc = ReadHiveText(file, text, nullptr); rc != 0) return rc;
  auto tree = std::make_shared<RegKey>(std::string(HiveName(hive)));
  // A hive that does not parse is left alone, so that nothing in it is lost.
  if (const std::int32_t rc = ParseRegText(text, hive, *tree, nullptr); rc != 0) return rc;
  bool changed = false;
  if (const std::int32_t rc = edit(*tree, changed); rc != 0 || !changed) return rc;

  std::string out = FormatRegText(*tree);
  if (out.size() > kMaxHiveBytes) return win32::ERROR_NOT_ENOUGH_MEMORY;
  if (const std::int32_t rc = ReplaceFile(dir, file, out); rc != 0) return rc;
  std::lock_guard guard(cache.mutex);
  cache.entries[Index(hive)] = {std::move(out), std::move(tree)};
  return 0;
}

}  // namespace

Registry::Registry(std::filesystem::path root)
    : root_(std::move(root)), cache_(std::make_shared<RegistryCache>()) {}

std::filesystem::path Registry::HivePath(Hive hive) const {
  return root_ / "registry" / (std::string(HiveName(hive)) + ".reg");
}

std::int32_t Registry::CheckHive(Hive hive, std::string& detail) const {
  std::shared_ptr<const RegKey> tree;
  RegParseError err;
  const std::int32_t rc = Load(HivePath(hive), hive, *cache_, tree, &err);
  detail = rc == 0 ? std::string() : err.Describe();
  return rc;
}

std::int32_t Registry::GetValue(Hive hive, std::string_view key, std::string_view name,
                                RegValue& out) const {
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  if (const std::int32_t rc = CheckValueName(name); rc != 0) return rc;
  std::shared_ptr<const RegKey> tree;
  if (const std::int32_t rc = Load(HivePath(hive), hive, *cache_, tree); rc != 0) return rc;
  const RegKey* k = FindKey(*tree, parts);
  const RegValue* v = k ? k->FindValue(name) : nullptr;
  if (v == nullptr) return win32::ERROR_FILE_NOT_FOUND;
  out = *v;
  return 0;
}

std::int32_t Registry::SetValue(Hive hive, std::string_view key, std::string_view name,
                                const RegValue& value) {
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  if (const std::int32_t rc = CheckValueName(name); rc != 0) return rc;
  if (const std::int32_t rc = CheckValue(value); rc != 0) return rc;
  return UpdateHive(root_, hive, *cache_, [&](RegKey& root, bool& changed) {
    RegKey* k = &root;
    for (const std::string_view part : parts) {
      bool created = false;
      k = &k->AddSubkey(part, &created);
      changed |= created;
    }
    changed |= k->SetValue(name, value);
    return 0;
  });
}

std::int32_t Registry::DeleteValue(Hive hive, std::string_view key, std::string_view name) {
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  if (const std::int32_t rc = CheckValueName(name); rc != 0) return rc;
  return UpdateHive(root_, hive, *cache_, [&](RegKey& root, bool& changed) {
    RegKey* k = FindKey(root, parts);
    if (k == nullptr || !k->RemoveValue(name)) return win32::ERROR_FILE_NOT_FOUND;
    changed = true;
    return 0;
  });
}

std::int32_t Registry::CreateKey(Hive hive, std::string_view key) {
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  return UpdateHive(root_, hive, *cache_, [&](RegKey& root, bool& changed) {
    RegKey* k = &root;
    for (const std::string_view part : parts) {
      bool created = false;
      k = &k->AddSubkey(part, &created);
      changed |= created;
    }
    return 0;
  });
}

std::int32_t Registry::DeleteKey(Hive hive, std::string_view key) {
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  if (parts.empty()) return win32::ERROR_ACCESS_DENIED;  // a hive's root stays
  const std::string_view last = parts.back();
  parts.pop_back();
  return UpdateHive(root_, hive, *cache_, [&](RegKey& root, bool& changed) {
    RegKey* parent = FindKey(root, parts);
    if (parent == nullptr || !parent->RemoveSubkey(last)) return win32::ERROR_FILE_NOT_FOUND;
    changed = true;
    return 0;
  });
}

bool Registry::KeyExists(Hive hive, std::string_view key) const {
  Parts parts;
  if (SplitKeyPath(key, parts) != 0) return false;
  std::shared_ptr<const RegKey> tree;
  if (Load(HivePath(hive), hive, *cache_, tree) != 0) return false;
  return FindKey(*tree, parts) != nullptr;
}

std::int32_t Registry::EnumKeys(Hive hive, std::string_view key,
                                std::vector<std::string>& out) const {
  out.clear();
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  std::shared_ptr<const RegKey> tree;
  if (const std::int32_t rc = Load(HivePath(hive), hive, *cache_, tree); rc != 0) return rc;
  const RegKey* k = FindKey(*tree, parts);
  if (k == nullptr) return win32::ERROR_FILE_NOT_FOUND;
  for (const auto& sub : k->subkeys()) out.push_back(sub->name());
  return 0;
}

std::int32_t Registry::EnumValues(Hive hive, std::string_view key,
                                  std::vector<std::pair<std::string, RegValue>>& out) const {
  out.clear();
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  std::shared_ptr<const RegKey> tree;
  if (const std::int32_t rc = Load(HivePath(hive), hive, *cache_, tree); rc != 0) return rc;
  const RegKey* k = FindKey(*tree, parts);
  if (k == nullptr) return win32::ERROR_FILE_NOT_FOUND;
  out = k->values();
  return 0;
}

std::int32_t Registry::Export(Hive hive, std::string_view key, std::string& out) const {
  out.clear();
  Parts parts;
  if (const std::int32_t rc = SplitKeyPath(key, parts); rc != 0) return rc;
  std::shared_ptr<const RegKey> tree;
  if (const std::int32_t rc = Load(HivePath(hive), hive, *cache_, tree); rc != 0) return rc;
  // The path as stored, so that the export shows the first-written spelling.
  std::string path(tree->name());
  const RegKey* k = tree.get();
  for (const std::string_view part : parts) {
    k = k->FindSubkey(part);
    if (k == nullptr) return win32::ERROR_FILE_NOT_FOUND;
    path += '\\';
    path += k->name();
  }
  out = std::string(kRegFileHeader) + "\n\n";
  FormatRegKey(out, path, *k);
  return 0;
}

}  // namespace qv::platform
