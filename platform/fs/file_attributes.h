#pragma once
// What the system asks of a file and its volume: the Windows notions of read-only,
// encrypted and not-content-indexed files, and of fixed, remote, CD-ROM and read-only
// volumes, answered from stat(2), the inode flags and statfs(2).
#include <sys/types.h>

#include <filesystem>

#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::platform {

struct FileAttributes {
  bool directory = false;
  bool regular = false;           // a regular file (not a device, FIFO, socket or folder)
  bool readOnly = false;          // no write permission bits, or the user may not write it
  bool encrypted = false;         // fscrypt-encrypted inode
  bool notContentIndexed = false; // the no-dump inode flag (chattr +d): left out of indexing
  FileTime lastWrite = 0;
  FileTime lastChange = 0;        // inode change time (ctime)
  std::uint64_t size = 0;
  std::uint32_t mode = 0;         // st_mode
  bool ownedByUser = false;       // owned by the effective user
  std::uint64_t device = 0;       // st_dev and st_ino: which file was looked at
  std::uint64_t inode = 0;
  // The mount the file was found on, by an id the kernel never hands out twice; 0 when the
  // kernel does not give one.
  std::uint64_t mountId = 0;
};

// The Win32-style failure of stat (ERROR_FILE_NOT_FOUND, ...) as an HRESULT. Only a regular
// file is opened for its inode flags: opening a device node can have effects of its own.
HRESULT GetFileAttributes(const std::filesystem::path& file, FileAttributes& out);
// The same without the inode flags (encrypted, no-dump), which need the file opened; read
// them later from an open descriptor with ReadInodeFlags.
HRESULT StatFile(const std::filesystem::path& file, FileAttributes& out);
// The same judged for the given user (ownedByUser), for a caller that knows its user.
HRESULT StatFile(const std::filesystem::path& file, FileAttributes& out, uid_t user);
void ReadInodeFlags(int fd, FileAttributes& out);
// Times from an open descriptor.
HRESULT StatTimes(int fd, FileAttributes& out);
HRESULT SetLastWriteTime(int fd, FileTime t);
// A time no later than the change time the kernel stamps on a change made after this call.
// The stamp comes from the kernel's coarse clock, and some file systems keep it only to the
// second, so the coarse clock less a second is such a time. It lets a caller that only needs
// to know whether a coming change is stamped after some moment skip a stat of the result.
FileTime ChangeTimeLowerBound();

enum class DriveType {
  Unknown,     // nothing mounted there, or a pseudo file system (proc, sysfs, ...)
  Fixed,       // a local disk file system
  Remote,      // NFS, SMB/CIFS, sshfs and other network file systems
  CdRom,       // ISO 9660 and UDF
};

struct VolumeInfo {
  DriveType type = DriveType::Unknown;
  bool readOnly = false;        // mounted read-only
  bool persistentAcls = true;   // false for FAT and exFAT, which keep no permissions
};

HRESULT GetVolumeInfo(const std::filesystem::path& file, VolumeInfo& out);

// Extensions the shell treats as programs (compared without case).
bool HasProgramExtension(const std::filesystem::path& file);

// Sets the last-write time only (the access time is left alone).
HRESULT SetLastWriteTime(const std::filesystem::path& file, FileTime t);

}  // namespace qv::platform
