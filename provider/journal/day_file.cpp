#include "provider/journal/day_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "provider/journal/crc32c.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/unique_fd.h"

namespace qv::journal {
namespace {

namespace fmt = dayfile;

std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void StoreLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t RecordCrc(std::span<const std::uint8_t> lengthBytes,
                        std::span<const std::uint8_t> payload) {
  return Crc32c(payload, Crc32c(lengthBytes));
}

}  // namespace

HRESULT CheckDayFileHeader(std::span<const std::uint8_t> image) {
  const std::vector<std::uint8_t> header = DayFileHeader();
  const std::size_t n = std::min(image.size(), header.size());
  if (!std::equal(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n), header.begin())) {
    return STG_E_INVALIDHEADER;
  }
  return image.size() < header.size() ? S_FALSE : S_OK;
}

DayFileReader::DayFileReader(std::span<const std::uint8_t> image, std::size_t start)
    : image_(image), pos_(std::min(start, image.size())) {}

bool DayFileReader::RecordAt(std::size_t pos, bool resyncing, DayFileRecord& out) {
  const std::size_t remaining = image_.size() - pos;
  if (remaining < fmt::kRecordHeaderSize) return false;
  const std::uint8_t* p = image_.data() + pos;
  const std::uint32_t length = LoadLe32(p);
  if (length == 0 || length > fmt::kMaxPayload || length > remaining - fmt::kRecordHeaderSize) {
    return false;
  }
  const std::span<const std::uint8_t> payload(p + fmt::kRecordHeaderSize, length);
  if (resyncing) {
    // Only a property-set stream can start here: byte order mark, version 0 or 1.
    if (length < 4 || payload[0] != fmt::kPayloadLead0 || payload[1] != fmt::kPayloadLead1 ||
        payload[2] > 1 || payload[3] != 0) {
      return false;
    }
    resyncWork_ += length;
  }
  if (RecordCrc({p, fmt::kLengthSize}, payload) != LoadLe32(p + fmt::kLengthSize)) return false;
  out.offset = pos;
  out.payload = payload;
  return true;
}

bool DayFileReader::LooksTorn(std::size_t pos) const {
  const auto rest = image_.subspan(pos);
  if (rest.size() < fmt::kLengthSize) return true;
  if (std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0; })) return true;
  const std::uint32_t length = LoadLe32(rest.data());
  return length != 0 && length <= fmt::kMaxPayload &&
         rest.size() < fmt::kRecordHeaderSize + std::size_t{length};
}

bool DayFileReader::Next(DayFileRecord& out) {
  if (pos_ >= image_.size()) {
    tail_ = DayFileTail::Clean;
    tailOffset_ = image_.size();
    return false;
  }
  if (RecordAt(pos_, false, out)) {
    pos_ += fmt::kRecordHeaderSize + out.payload.size();
    return true;
  }
  // Look for the next record that checks out; only if there is none is this the tail.
  for (std::size_t q = pos_ + 1;
       q + fmt::kRecordHeaderSize < image_.size() && resyncWork_ <= fmt::kMaxResyncWork; ++q) {
    if (RecordAt(q, true, out)) {
      skipped_ += q - pos_;
      pos_ = q + fmt::kRecordHeaderSize + out.payload.size();
      return true;
    }
  }
  // Behind more damage than the budget allows, nothing is known, so it is never "torn".
  tail_ = resyncWork_ <= fmt::kMaxResyncWork && LooksTorn(pos_) ? DayFileTail::Torn
                                                                 : DayFileTail::Damaged;
  tailOffset_ = pos_;
  pos_ = image_.size();
  return false;
}

std::vector<std::uint8_t> EncodeDayFileRecord(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> record(fmt::kRecordHeaderSize + payload.size());
  StoreLe32(record.data(), static_cast<std::uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), record.begin() + fmt::kRecordHeaderSize);
  StoreLe32(record.data() + fmt::kLengthSize,
            RecordCrc({record.data(), fmt::kLengthSize}, payload));
  return record;
}

std::vector<std::uint8_t> DayFileHeader() {
  std::vector<std::uint8_t> header(fmt::kFileHeaderSize);
  std::copy(fmt::kMagic.begin(), fmt::kMagic.end(), header.begin());
  StoreLe32(header.data() + fmt::kMagic.size(), fmt::kVersion);
  return header;
}

HRESULT ReadDayFileImage(const std::filesystem::path& file, std::vector<std::uint8_t>& out) {
  out.clear();
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      std::error_code ec;
      return std::filesystem::is_directory(file.parent_path(), ec) ? STG_E_FILENOTFOUND
                                                                   : STG_E_PATHNOTFOUND;
    }
    if (err == EACCES || err == EPERM) return STG_E_ACCESSDENIED;
    return HresultFromErrno(err);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return HresultFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return STG_E_ACCESSDENIED;
  if (static_cast<std::uint64_t>(st.st_size) > fmt::kMaxFileSize) return STG_E_INSUFFICIENTMEMORY;
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::pread(fd.get(), out.data() + got, out.size() - got,
                              static_cast<off_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      const HRESULT hr = HresultFromErrno(errno);
      out.clear();
      return hr;
    }
    if (n == 0) break;  // cut short by a writer repairing a torn tail meanwhile
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return S_OK;
}

}  // namespace qv::journal
