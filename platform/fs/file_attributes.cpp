#include "platform/fs/file_attributes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/statvfs.h>  // ST_RDONLY for statfs f_flags
#include <unistd.h>

#include <cerrno>

#include "common/utf.h"

namespace qv::platform {
namespace {

// File system magic numbers not all kernels' headers carry.
constexpr long kCifsMagic = 0xFF534D42;
constexpr long kSmb2Magic = 0xFE534D42;
constexpr long kFuseMagic = 0x65735546;
constexpr long kCephMagic = 0x00C36400;
constexpr long kAfsFsMagic = 0x6B414653;
constexpr long kUdfMagic = 0x15013346;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kV9fsMagic = 0x01021997;
// statx's mount id that is never reused (Linux 6.8); older kernels leave it out of stx_mask.
constexpr unsigned kStatxMountIdUnique = 0x00004000U;

}  // namespace

HRESULT GetFileAttributes(const std::filesystem::path& file, FileAttributes& out) {
  if (const HRESULT hr = StatFile(file, out); Failed(hr)) return hr;
  if (out.regular) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) {
      ReadInodeFlags(fd, out);
      ::close(fd);
    }
  }
  return S_OK;
}

void ReadInodeFlags(int fd, FileAttributes& out) {
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    out.encrypted = (flags & FS_ENCRYPT_FL) != 0;
    out.notContentIndexed = (flags & FS_NODUMP_FL) != 0;
  }
}

HRESULT StatTimes(int fd, FileAttributes& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return HresultFromErrno(errno);
  out.lastWrite = TimespecToFileTime(st.st_mtim);
  out.lastChange = TimespecToFileTime(st.st_ctim);
  return S_OK;
}

FileTime ChangeTimeLowerBound() {
  // Not the process's Clock: this is compared with the kernel's own stamps, so it must be
  // read from the clock the kernel stamps them with.
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return TimespecToFileTime(now) - kFileTimeTicksPerSecond;
}

HRESULT SetLastWriteTime(int fd, FileTime t) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = FileTimeToTimespec(t);
  if (::futimens(fd, times) != 0) return HresultFromErrno(errno);
  return S_OK;
}

HRESULT StatFile(const std::filesystem::path& file, FileAttributes& out) {
  return StatFile(file, out, ::geteuid());
}

HRESULT StatFile(const std::filesystem::path& file, FileAttributes& out, uid_t user) {
  struct statx st {};
  if (::statx(AT_FDCWD, file.c_str(), 0, STATX_BASIC_STATS | kStatxMountIdUnique, &st) != 0) {
    return HresultFromErrno(errno);
  }
  const auto time = [](const statx_timestamp& t) {
    return TimespecToFileTime(timespec{static_cast<time_t>(t.tv_sec), t.tv_nsec});
  };
  out = FileAttributes{};
  out.directory = S_ISDIR(st.stx_mode);
  out.regular = S_ISREG(st.stx_mode);
  out.size = st.stx_size;
  out.lastWrite = time(st.stx_mtime);
  out.lastChange = time(st.stx_ctime);
  // Root may write anything; the permission bits still say whether the user meant the file
  // to be read-only, as the read-only attribute does.
  out.mode = st.stx_mode;
  out.ownedByUser = st.stx_uid == user;
  out.device = static_cast<std::uint64_t>(makedev(st.stx_dev_major, st.stx_dev_minor));
  out.inode = st.stx_ino;
  if (st.stx_mask & kStatxMountIdUnique) out.mountId = st.stx_mnt_id;
  // The owner with the write bit may write (the common case, without asking the kernel).
  out.readOnly = (st.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                 (!(out.ownedByUser && (st.stx_mode & S_IWUSR)) &&
                  ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0);
  return S_OK;
}

HRESULT GetVolumeInfo(const std::filesystem::path& file, VolumeInfo& out) {
  struct statfs fs {};
  if (::statfs(file.c_str(), &fs) != 0) return HresultFromErrno(errno);
  out = VolumeInfo{};
  out.readOnly = (fs.f_flags & ST_RDONLY) != 0;
  const long magic = static_cast<long>(fs.f_type);
  switch (magic) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case kCifsMagic:
    case kSmb2Magic:
    case kFuseMagic:  // sshfs and most FUSE mounts are remote or virtual
    case kCephMagic:
    case kAfsFsMagic:
    case kV9fsMagic:
    case CODA_SUPER_MAGIC:
      out.type = DriveType::Remote;
      break;
    case ISOFS_SUPER_MAGIC:
    case kUdfMagic:
      out.type = DriveType::CdRom;
      break;
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case SECURITYFS_MAGIC:
    case PIPEFS_MAGIC:
    case SOCKFS_MAGIC:
      out.type = DriveType::Unknown;
      break;
    case MSDOS_SUPER_MAGIC:
    case kExfatMagic:
      out.type = DriveType::Fixed;
      out.persistentAcls = false;
      break;
    default:
      out.type = DriveType::Fixed;
  }
  return S_OK;
}

bool HasProgramExtension(const std::filesystem::path& file) {
  const std::string ext = AsciiLower(file.extension().string());
  for (const char* e : {".exe", ".com", ".bat", ".cmd", ".pif", ".scf", ".scr"}) {
    if (ext == e) return true;
  }
  return false;
}

HRESULT SetLastWriteTime(const std::filesystem::path& file, FileTime t) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = FileTimeToTimespec(t);
  if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) return HresultFromErrno(errno);
  return S_OK;
}

}  // namespace qv::platform
