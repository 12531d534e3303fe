#include "platform/process/named_event.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace qv::platform {

namespace {

// "Local\NAME" names an object of this session: NAME.event in the session's folder.
HRESULT EventPath(const std::filesystem::path& folder, std::string_view name,
                  std::filesystem::path& path) {
  if (const auto slash = name.rfind('\\'); slash != std::string_view::npos) {
    name.remove_prefix(slash + 1);
  }
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
    return E_INVALIDARG;
  }
  path = folder / (std::string(name) + ".event");
  return S_OK;
}

// A write lock over the first byte: the mark of a live creator.
struct flock WholeLock(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  return lock;
}

bool HeldByOther(int fd) {
  struct flock probe = WholeLock(F_WRLCK);
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
  return probe.l_type != F_UNLCK;
}

}  // namespace

HRESULT NamedEvent::Create(const std::filesystem::path& folder, std::string_view name,
                           bool signalled, std::unique_ptr<NamedEvent>& out) {
  std::filesystem::path path;
  if (const HRESULT hr = EventPath(folder, name, path); Failed(hr)) return hr;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return HresultFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return E_ACCESSDENIED;
  }
  struct flock lock = WholeLock(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    const int err = errno;
    ::close(fd);
    return err == EAGAIN || err == EACCES ? HresultFromWin32(win32::ERROR_ALREADY_EXISTS)
                                          : HresultFromErrno(err);
  }
  std::unique_ptr<NamedEvent> event(new NamedEvent(fd, true));
  if (const HRESULT hr = event->Write(signalled ? '1' : '0'); Failed(hr)) return hr;
  out = std::move(event);
  return S_OK;
}

HRESULT NamedEvent::Open(const std::filesystem::path& folder, std::string_view name,
                         std::unique_ptr<NamedEvent>& out) {
  std::filesystem::path path;
  if (const HRESULT hr = EventPath(folder, name, path); Failed(hr)) return hr;
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    return errno == ENOENT ? HresultFromWin32(win32::ERROR_FILE_NOT_FOUND) : HresultFromErrno(errno);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return E_ACCESSDENIED;
  }
  if (!HeldByOther(fd)) {  // left behind by a creator that has gone
    ::close(fd);
    return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
  }
  out.reset(new NamedEvent(fd, false));
  return S_OK;
}

NamedEvent::~NamedEvent() {
  if (owner_) {
    // The state goes with its creator: an opener that still looks sees no live event.
    (void)Write('0');
  }
  ::close(fd_);  // releases the creator's lock
}

HRESULT NamedEvent::Write(char state) {
  if (::pwrite(fd_, &state, 1, 0) != 1) return HresultFromErrno(errno != 0 ? errno : EIO);
  return S_OK;
}

HRESULT NamedEvent::Set() { return Write('1'); }
HRESULT NamedEvent::Reset() { return Write('0'); }

bool NamedEvent::IsSet() const {
  char state = 0;
  return ::pread(fd_, &state, 1, 0) == 1 && state == '1';
}

bool NamedEvent::Alive() const { return owner_ || HeldByOther(fd_); }

}  // namespace qv::platform
