#include "provider/filters/shared_section.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qv::filters {

namespace {
constexpr std::int32_t kErrorAlreadyExists = 183;

HRESULT Map(int fd, std::size_t size, std::uint8_t*& out) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return HresultFromErrno(errno);
  out = static_cast<std::uint8_t*>(p);
  return S_OK;
}
}  // namespace

std::string SharedMemoryName(std::string_view sectionName) {
  std::string out = "/quillon-vesper-" + std::to_string(geteuid()) + "-";
  for (char c : sectionName.substr(0, 200)) {
    out += (c == '/' || c == '\\' || c == '\0') ? '-' : c;
  }
  return out;
}

SharedSection::~SharedSection() { Close(); }

SharedSection::SharedSection(SharedSection&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      shmName_(std::move(other.shmName_)) {
  other.shmName_.clear();
}

SharedSection& SharedSection::operator=(SharedSection&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    shmName_ = std::move(other.shmName_);
    other.shmName_.clear();
  }
  return *this;
}

void SharedSection::Close() {
  if (data_) munmap(data_, size_);
  if (!shmName_.empty()) shm_unlink(shmName_.c_str());
  data_ = nullptr;
  size_ = 0;
  shmName_.clear();
}

HRESULT SharedSection::Create(std::string_view name, std::size_t size, SharedSection& out) {
  out = SharedSection{};
  const std::string shm = SharedMemoryName(name);
  const int fd = shm_open(shm.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    return errno == EEXIST ? HresultFromWin32(kErrorAlreadyExists) : HresultFromErrno(errno);
  }
  out.shmName_ = shm;  // removed with `out` from here on
  // fchmod as well: the mode given to shm_open is narrowed by the umask, never widened.
  HRESULT hr = S_OK;
  if (fchmod(fd, 0600) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
    hr = HresultFromErrno(errno);
  } else {
    hr = Map(fd, size, out.data_);
    if (Succeeded(hr)) out.size_ = size;
  }
  close(fd);
  if (Failed(hr)) out.Close();
  return hr;
}

HRESULT SharedSection::Open(std::string_view name, std::size_t size, SharedSection& out) {
  out = SharedSection{};
  const std::string shm = SharedMemoryName(name);
  const int fd = shm_open(shm.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return HresultFromErrno(errno);
  struct stat st {};
  HRESULT hr = S_OK;
  if (fstat(fd, &st) != 0) {
    hr = HresultFromErrno(errno);
  } else if (st.st_uid != geteuid() || static_cast<std::size_t>(st.st_size) < size) {
    hr = E_ACCESSDENIED;
  } else {
    hr = Map(fd, size, out.data_);
    if (Succeeded(hr)) out.size_ = size;
  }
  close(fd);
  return hr;
}

}  // namespace qv::filters
