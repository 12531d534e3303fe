#pragma once
// Small file helpers of the URL cache and the web history: bounded whole-file reads, atomic
// replacement, exclusive creation by linking a finished temporary file, and a writers' lock.
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace qv::platform {

// True when `file` lies below `folder`, both lexically (no ".." leading out) and after
// resolving symbolic links.
bool IsBelowFolder(const std::filesystem::path& folder, const std::filesystem::path& file);

// An owned descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The whole file, when it is not larger than `maxBytes` (ERROR_INVALID_DATA otherwise).
// Win32 codes; ERROR_FILE_NOT_FOUND for a missing file.
std::int32_t ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes,
                           std::vector<std::uint8_t>& out);

// Writes `bytes` over the contents of the existing `file` (a copy made by CreateEntryFile) and
// flushes them to disk. A failed or short write is an error; the file then holds some unknown
// part of the bytes, for the caller to delete.
std::int32_t OverwriteFile(const std::filesystem::path& file, std::span<const std::uint8_t> bytes);

// Writes `bytes` to a new temporary file beside `target`, flushed to disk. The temporary
// file's name starts with ".tmp-", so folder scans that look for real files pass it over.
std::int32_t WriteTempFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                           std::filesystem::path& temp);
// Replaces `target` with `bytes` in one rename.
std::int32_t ReplaceFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);
// Creates `target` holding `bytes` only if it does not exist yet: the bytes go to a
// temporary file that is then linked in, so the file appears complete or not at all.
// ERROR_FILE_EXISTS when another writer was first; its file is left alone.
std::int32_t CreateFileExclusive(const std::filesystem::path& target,
                                 std::span<const std::uint8_t> bytes);

// An exclusive lock on a lock file (flock), waited for; released when the object goes.
class FileLock {
 public:
  // Win32 code in `error` when the lock file cannot be opened or locked.
  FileLock(const std::filesystem::path& lockFile, std::int32_t& error);
  bool locked() const { return static_cast<bool>(fd_); }

 private:
  Fd fd_;
};

}  // namespace qv::platform
