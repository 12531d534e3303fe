#include "platform/urlcache/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/hresult.h"
#include "platform/fs/private_files.h"

namespace qv::platform {
namespace {

std::int32_t LastError() { return Win32FromErrno(errno); }

std::int32_t WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    done += static_cast<std::size_t>(n);
  }
  return win32::ERROR_SUCCESS;
}

}  // namespace

bool IsBelowFolder(const std::filesystem::path& folder, const std::filesystem::path& file) {
  namespace fs = std::filesystem;
  const fs::path rel = file.lexically_normal().lexically_relative(folder.lexically_normal());
  if (rel.empty()) return false;
  for (const auto& part : rel) {
    if (part == ".." || part == ".") return false;
  }
  // No link below the folder may lead elsewhere; the folder itself is the installation's.
  fs::path p = folder;
  for (const auto& part : rel) {
    if (part.empty()) continue;
    p /= part;
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT;  // nothing there to lead out
    if (S_ISLNK(st.st_mode)) return false;
  }
  return true;
}

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

std::int32_t ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes,
                           std::vector<std::uint8_t>& out) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return LastError();
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return LastError();
  if (!S_ISREG(st.st_mode)) return win32::ERROR_ACCESS_DENIED;
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return win32::ERROR_INVALID_DATA;
  out.assign(static_cast<std::size_t>(st.st_size), 0);
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) break;  // shrank meanwhile
    done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return win32::ERROR_SUCCESS;
}

std::int32_t OverwriteFile(const std::filesystem::path& file, std::span<const std::uint8_t> bytes) {
  Fd fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return LastError();
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return LastError();
  if (!S_ISREG(st.st_mode)) return win32::ERROR_ACCESS_DENIED;
  if (const auto err = WriteAll(fd.get(), bytes); err != 0) return err;
  if (::fsync(fd.get()) != 0) return LastError();
  return win32::ERROR_SUCCESS;
}

std::int32_t WriteTempFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                           std::filesystem::path& temp) {
  std::string name = (target.parent_path() / (".tmp-" + target.filename().string() + "-XXXXXX"));
  Fd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd) return LastError();
  std::int32_t err = WriteAll(fd.get(), bytes);
  if (err == 0 && ::fsync(fd.get()) != 0) err = LastError();
  if (err != 0) {
    ::unlink(name.c_str());
    return err;
  }
  temp = name;
  return win32::ERROR_SUCCESS;
}

std::int32_t ReplaceFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
  std::filesystem::path temp;
  if (const auto err = WriteTempFile(target, bytes, temp); err != 0) return err;
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const auto err = LastError();
    ::unlink(temp.c_str());
    return err;
  }
  return win32::ERROR_SUCCESS;
}

std::int32_t CreateFileExclusive(const std::filesystem::path& target,
                                 std::span<const std::uint8_t> bytes) {
  std::filesystem::path temp;
  if (const auto err = WriteTempFile(target, bytes, temp); err != 0) return err;
  // link() never replaces: of two writers exactly one succeeds, and the loser removes only
  // its own temporary file.
  int rc = ::link(temp.c_str(), target.c_str());
  int linkErrno = errno;
  if (rc != 0 && (linkErrno == EPERM || linkErrno == ENOTSUP || linkErrno == ENOSYS)) {
    // File systems without hard links: a rename that refuses to replace does the same.
    rc = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    linkErrno = errno;
    if (rc == 0) return win32::ERROR_SUCCESS;
  }
  ::unlink(temp.c_str());
  if (rc == 0) return win32::ERROR_SUCCESS;
  return linkErrno == EEXIST ? win32::ERROR_FILE_EXISTS : Win32FromErrno(linkErrno);
}

FileLock::FileLock(const std::filesystem::path& lockFile, std::int32_t& error) {
  Fd fd(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFileMode));
  if (!fd) {
    error = LastError();
    return;
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = LastError();
      return;
    }
  }
  error = win32::ERROR_SUCCESS;
  fd_ = std::move(fd);
}

}  // namespace qv::platform
