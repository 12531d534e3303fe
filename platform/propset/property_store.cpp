#include "platform/propset/property_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <span>
#include <cerrno>
#include <utility>
#include <vector>

namespace qv::platform {
namespace {

constexpr char kAttributePrefix[] = "user.quillon.";
// Asked for when opening, to learn whether the file system keeps user attributes at all.
constexpr char kProbeAttribute[] = "user.quillon.probe";
// A ranking record is a few hundred bytes; larger sets take the growing path.
constexpr std::size_t kInitialReadBuffer = 1024;

// Owns a descriptor until it is handed over.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

HRESULT OpenError(int err) {
  switch (err) {
    case ENOENT: return STG_E_FILENOTFOUND;
    case ENOTDIR:
    case ELOOP: return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return STG_E_ACCESSDENIED;
    case ETXTBSY: return STG_E_SHAREVIOLATION;  // a running program's image
    case ENAMETOOLONG: return STG_E_INVALIDNAME;
    case ENOMEM: return STG_E_INSUFFICIENTMEMORY;
    default: return HresultFromErrno(err);
  }
}

// Errors of the attribute calls that are not about a missing attribute.
HRESULT AttributeError(int err) {
  switch (err) {
    case ENOTSUP: return STG_E_INVALIDFUNCTION;
    case EACCES:
    case EPERM:
    case EROFS: return STG_E_ACCESSDENIED;
    case ENOSPC:
    case EDQUOT:
    case E2BIG: return STG_E_MEDIUMFULL;
    case ENOMEM: return STG_E_INSUFFICIENTMEMORY;
    default: return HresultFromErrno(err);
  }
}

std::size_t PropertyCount(const PropertySet& set) {
  std::size_t n = 1 + (set.names.empty() ? 0 : 1);  // code page, dictionary
  for (const auto& [propid, value] : set.values) {
    if (propid != PID_CODEPAGE && propid != PID_DICTIONARY) ++n;
  }
  return n;
}

}  // namespace

std::string PropertySetAttributeName(const Guid& fmtid) {
  return kAttributePrefix + FormatGuid(fmtid);
}

HRESULT PropertyStorage::Open(const std::filesystem::path& file, Mode mode,
                              std::unique_ptr<PropertyStorage>& out) {
  out.reset();
  // Only regular files are opened: opening a device node, even for a moment, can rewind a
  // tape or hang up a line, and a FIFO's open wakes its reader. So the kind is known first.
  struct stat before {};
  if (::stat(file.c_str(), &before) != 0) return OpenError(errno);
  if (S_ISDIR(before.st_mode)) return STG_E_ACCESSDENIED;
  if (!S_ISREG(before.st_mode)) return STG_E_INVALIDFUNCTION;
  return Open(file, mode,
              KnownFile{static_cast<std::uint64_t>(before.st_dev),
                        static_cast<std::uint64_t>(before.st_ino)},
              out);
}

HRESULT PropertyStorage::Open(const std::filesystem::path& file, Mode mode, KnownFile known,
                              std::unique_ptr<PropertyStorage>& out) {
  out.reset();
  // O_NONBLOCK keeps a FIFO or device swapped in after the stat from blocking the open; the
  // check below refuses it.
  const int openFlags =
      (mode == Mode::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  UniqueFd fd(::open(file.c_str(), openFlags));
  if (fd.get() < 0) return OpenError(errno);

  // One statx tells what was opened and, where the file system reports them, the inode
  // flags callers ask about next.
  struct statx st {};
  if (::statx(fd.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_INO, &st) != 0) {
    return HresultFromErrno(errno);
  }
  if (S_ISDIR(st.stx_mode)) return STG_E_ACCESSDENIED;
  if (!S_ISREG(st.stx_mode)) return STG_E_INVALIDFUNCTION;
  // Swapped for another file between the stat and the open: the caller's checks were made
  // on the one it named, so it is told the file was busy and may try again.
  if (static_cast<std::uint64_t>(makedev(st.stx_dev_major, st.stx_dev_minor)) != known.device ||
      static_cast<std::uint64_t>(st.stx_ino) != known.inode) {
    return STG_E_SHAREVIOLATION;
  }
  std::optional<InodeFlags> flags;
  constexpr std::uint64_t kBoth = STATX_ATTR_ENCRYPTED | STATX_ATTR_NODUMP;
  if ((st.stx_attributes_mask & kBoth) == kBoth) {
    flags = InodeFlags{(st.stx_attributes & STATX_ATTR_ENCRYPTED) != 0,
                       (st.stx_attributes & STATX_ATTR_NODUMP) != 0};
  }

  // A reader learns here whether the file system keeps user attributes; a writer learns it
  // from its first read or write, which map the error the same way, and saves the call.
  if (mode == Mode::Read && ::fgetxattr(fd.get(), kProbeAttribute, nullptr, 0) < 0 &&
      errno != ENODATA) {
    return AttributeError(errno);
  }

  if (mode == Mode::ReadWriteExclusive) {
    // Whole file, write lock, never waiting. OFD locks belong to this open file description,
    // so a second open in the same process conflicts as another process would, and closing
    // our descriptor releases the lock.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
      const int err = errno;
      if (err == EAGAIN || err == EACCES) return STG_E_LOCKVIOLATION;
      return HresultFromErrno(err);
    }
  }
  // The constructor is private; make_unique cannot reach it.
  out.reset(new PropertyStorage(fd.release(), mode, flags));
  return S_OK;
}

PropertyStorage::~PropertyStorage() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

// Reads attribute `name` into `buffer`, which already proved `tried` bytes too small: the
// value grew or is larger than a first guess, so its size is asked for and the read tried
// again, up to the largest stream a reader takes.
HRESULT ReadGrown(int fd, const char* name, std::size_t tried, std::vector<std::uint8_t>& buffer) {
  for (;;) {
    if (tried >= kMaxPropertySetStream) return STG_E_DOCFILECORRUPT;
    const ssize_t needed = ::fgetxattr(fd, name, nullptr, 0);
    if (needed < 0) {
      if (errno == ENODATA) return STG_E_FILENOTFOUND;
      return AttributeError(errno);
    }
    const std::size_t next = std::max(static_cast<std::size_t>(needed), tried * 2);
    buffer.resize(std::min(next, kMaxPropertySetStream));
    tried = buffer.size();
    const ssize_t n = ::fgetxattr(fd, name, buffer.data(), buffer.size());
    if (n >= 0) {
      buffer.resize(static_cast<std::size_t>(n));
      return S_OK;
    }
    if (errno == ENODATA) return STG_E_FILENOTFOUND;
    if (errno != ERANGE) return AttributeError(errno);
  }
}

}  // namespace

HRESULT PropertyStorage::Read(const Guid& fmtid, PropertySet& out) const {
  const std::string name = PropertySetAttributeName(fmtid);
  // The first try reads into the stack: most sets fit.
  std::array<std::uint8_t, kInitialReadBuffer> first;
  std::vector<std::uint8_t> buffer;
  std::span<const std::uint8_t> bytes;
  if (const ssize_t n = ::fgetxattr(fd_, name.c_str(), first.data(), first.size()); n >= 0) {
    bytes = std::span<const std::uint8_t>(first.data(), static_cast<std::size_t>(n));
  } else {
    if (errno == ENODATA) return STG_E_FILENOTFOUND;
    if (errno != ERANGE) return AttributeError(errno);
    if (const HRESULT hr = ReadGrown(fd_, name.c_str(), first.size(), buffer); Failed(hr)) {
      return hr;
    }
    bytes = buffer;
  }

  PropertySet set;
  if (const HRESULT hr = ParsePropertySet(bytes, set); Failed(hr)) return hr;
  // The attribute's name and the set inside must agree.
  if (set.fmtid != fmtid) return STG_E_DOCFILECORRUPT;
  out = std::move(set);
  return S_OK;
}

HRESULT PropertyStorage::ReadStream(const std::string& attribute,
                                    std::vector<std::uint8_t>& out) const {
  out.resize(std::max(out.capacity(), kInitialReadBuffer));
  const std::size_t tried = out.size();
  if (const ssize_t n = ::fgetxattr(fd_, attribute.c_str(), out.data(), out.size()); n >= 0) {
    out.resize(static_cast<std::size_t>(n));
    return S_OK;
  }
  const int err = errno;
  out.clear();
  if (err == ENODATA) return STG_E_FILENOTFOUND;
  if (err != ERANGE) return AttributeError(err);
  const HRESULT hr = ReadGrown(fd_, attribute.c_str(), tried, out);
  if (Failed(hr)) out.clear();
  return hr;
}

HRESULT PropertyStorage::WriteStream(const std::string& attribute,
                                     std::span<const std::uint8_t> stream) {
  if (mode_ != Mode::ReadWriteExclusive) return STG_E_ACCESSDENIED;
  if (stream.size() > kMaxPropertySetStream) return STG_E_INVALIDPARAMETER;
  // One call replaces the whole value: readers see the old set or the new one.
  if (::fsetxattr(fd_, attribute.c_str(), stream.data(), stream.size(), 0) != 0) {
    return AttributeError(errno);
  }
  return S_OK;
}

HRESULT PropertyStorage::Write(const PropertySet& set) {
  if (mode_ != Mode::ReadWriteExclusive) return STG_E_ACCESSDENIED;
  // Never store what the reader would refuse.
  if (PropertyCount(set) > kMaxPropertiesPerSet || set.names.size() > kMaxPropertiesPerSet) {
    return STG_E_INVALIDPARAMETER;
  }
  return WriteStream(PropertySetAttributeName(set.fmtid), SerializePropertySet(set));
}

HRESULT PropertyStorage::Remove(const Guid& fmtid) {
  if (mode_ != Mode::ReadWriteExclusive) return STG_E_ACCESSDENIED;
  if (::fremovexattr(fd_, PropertySetAttributeName(fmtid).c_str()) != 0) {
    if (errno == ENODATA) return STG_E_FILENOTFOUND;
    return AttributeError(errno);
  }
  return S_OK;
}

}  // namespace qv::platform
