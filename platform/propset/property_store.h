#pragma once
// Property sets kept beside a file's data, in its extended attribute user.quillon.{FMTID}.
// A writer opens the file for writing and takes an open-file-description lock on it
// (F_OFD_SETLK, never waiting); meeting another holder's lock gives STG_E_LOCKVIOLATION.
// Readers take no lock. Each set is replaced whole by one fsetxattr, so a reader sees the
// old or the new set, never a mixture.
#include <filesystem>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "platform/propset/property_set.h"

namespace qv::platform {

std::string PropertySetAttributeName(const Guid& fmtid);

class PropertyStorage {
 public:
  enum class Mode { Read, ReadWriteExclusive };

  // Read: O_RDONLY, no lock. ReadWriteExclusive: O_RDWR plus the writer's lock.
  // Missing file: STG_E_FILENOTFOUND; a missing folder on the way: STG_E_PATHNOTFOUND;
  // permission, a read-only volume or a directory: STG_E_ACCESSDENIED; a held lock:
  // STG_E_LOCKVIOLATION; a file system without user extended attributes, or a FIFO, socket
  // or device: STG_E_INVALIDFUNCTION. The kind of file is learnt from stat before the open,
  // so anything but a regular file is never opened; a file replaced between the two gives
  // STG_E_SHAREVIOLATION.
  static HRESULT Open(const std::filesystem::path& file, Mode mode,
                      std::unique_ptr<PropertyStorage>& out);
  // The same for a caller that has just found `file` to be the regular file (device, inode)
  // by its own stat: that stat stands in for Open's, and a file found different once opened
  // gives STG_E_SHAREVIOLATION as above.
  struct KnownFile {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
  };
  static HRESULT Open(const std::filesystem::path& file, Mode mode, KnownFile known,
                      std::unique_ptr<PropertyStorage>& out);
  ~PropertyStorage();
  PropertyStorage(const PropertyStorage&) = delete;
  PropertyStorage& operator=(const PropertyStorage&) = delete;

  // STG_E_FILENOTFOUND when the file has no such set; STG_E_DOCFILECORRUPT (or the
  // parser's code) when the stored bytes are not a property set or hold another FMTID.
  HRESULT Read(const Guid& fmtid, PropertySet& out) const;
  // The stored stream of a set, unparsed, for a caller with a codec of its own: `attribute`
  // is PropertySetAttributeName of the FMTID, and `out` keeps its room from call to call.
  // STG_E_FILENOTFOUND when there is no such set; the other errors are Read's, less the
  // parser's. `out` is empty after any failure.
  HRESULT ReadStream(const std::string& attribute, std::vector<std::uint8_t>& out) const;
  // Stores `stream` as the set under `attribute` in one step, as Write does; the caller
  // vouches that it is a property set of that FMTID. Needs ReadWriteExclusive.
  HRESULT WriteStream(const std::string& attribute, std::span<const std::uint8_t> stream);
  // Replaces the set named by set.fmtid in one step. Needs ReadWriteExclusive. A set the
  // reader would refuse (too many properties, too large a stream) gives
  // STG_E_INVALIDPARAMETER; one larger than the file system keeps, STG_E_MEDIUMFULL. Either
  // way the stored set stays as it was.
  HRESULT Write(const PropertySet& set);
  // STG_E_FILENOTFOUND when there is no such set. Needs ReadWriteExclusive.
  HRESULT Remove(const Guid& fmtid);

  int fd() const { return fd_; }
  Mode mode() const { return mode_; }

  // The encrypted and no-dump inode flags as the file system reported them when the file
  // was opened; empty when it does not report them that way (ask FS_IOC_GETFLAGS then).
  struct InodeFlags {
    bool encrypted = false;
    bool noDump = false;
  };
  const std::optional<InodeFlags>& inodeFlags() const { return inodeFlags_; }

 private:
  PropertyStorage(int fd, Mode mode, std::optional<InodeFlags> flags)
      : fd_(fd), mode_(mode), inodeFlags_(flags) {}
  int fd_;
  Mode mode_;
  std::optional<InodeFlags> inodeFlags_;
};

}  // namespace qv::platform
