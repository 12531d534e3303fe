// Property cache snapshots in files: written by a process that loaded a cache, mapped by the
// next process that searches the same state of the catalog (property_snapshot_format.h).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

#include "platform/indexing/like_pattern.h"
#include "platform/indexing/property_cache.h"
#include "platform/indexing/property_snapshot_format.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;
using snapshot::SnapshotHeader;

constexpr std::uint64_t Padded(std::uint64_t n) { return (n + 7) / 8 * 8; }

// Writes all of `bytes`, or says why not.
bool WriteAll(int fd, const void* bytes, std::size_t n) {
  const auto* p = static_cast<const char*>(bytes);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = EIO;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// A section and the zeros that bring it to a multiple of 8 bytes.
bool WriteSection(int fd, const void* bytes, std::size_t n) {
  static constexpr char kZeros[8] = {};
  return WriteAll(fd, bytes, n) && WriteAll(fd, kZeros, Padded(n) - n);
}

template <typename T>
bool WriteSpan(int fd, std::span<const T> s) {
  return WriteSection(fd, s.data(), s.size_bytes());
}

// Reads sections of a mapped file in order, each at a multiple of 8 bytes.
class SectionReader {
 public:
  SectionReader(const char* base, std::uint64_t size, std::uint64_t at)
      : base_(base), size_(size), at_(at) {}
  template <typename T>
  bool Take(std::uint64_t count, std::span<const T>& out) {
    if (count > (size_ - at_) / sizeof(T)) return false;
    out = {reinterpret_cast<const T*>(base_ + at_), static_cast<std::size_t>(count)};
    at_ = Padded(at_ + count * sizeof(T));
    return at_ <= size_;
  }
  bool Bytes(std::uint64_t n, const char*& out) {
    if (n > size_ - at_) return false;
    out = base_ + at_;
    at_ += n;
    return true;
  }
  void Align() { at_ = std::min(Padded(at_), size_); }
  std::uint64_t at() const { return at_; }

 private:
  const char* base_;
  std::uint64_t size_;
  std::uint64_t at_;
};

// A writer that died while writing left its new file under a temporary name, as large as a
// snapshot: one older than any write in progress could be is removed.
void RemoveLeftovers(const fs::path& folder, std::string_view prefix) {
  constexpr auto kOldest = std::chrono::minutes(10);
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(prefix) || !it->is_regular_file(ec)) continue;
    const auto written = fs::last_write_time(it->path(), ec);
    if (!ec && now - written > kOldest) fs::remove(it->path(), ec);
  }
}

// Whether every byte is a result: -1, 0, 1 or 2 for a pattern (2: no value), and -1, 0 or
// 1 for a whole condition. Eight at a time: a fresh search checks a byte per row for every
// result kept.
bool AllResults(std::span<const std::int8_t> known, bool condition) {
  constexpr std::uint64_t kLow = 0x7f7f7f7f7f7f7f7full, kHigh = 0x8080808080808080ull;
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  std::uint64_t outside = 0, three = 0;
  std::size_t i = 0;
  for (; i + 8 <= known.size(); i += 8) {
    std::uint64_t x = 0;
    std::memcpy(&x, known.data() + i, sizeof x);
    // Each byte plus one (without carrying into the next) must be 0 to 3 (to 2 for a
    // condition: no byte with both low bits set).
    const std::uint64_t up = ((x & kLow) + kOnes) ^ (x & kHigh);
    outside |= up & ~(kOnes * 3);
    three |= up & (up >> 1) & kOnes;
  }
  for (; i < known.size(); ++i) {
    const auto up = static_cast<std::uint8_t>(known[i] + 1);
    outside |= up > 3;
    three |= up == 3;
  }
  return outside == 0 && (!condition || three == 0);
}

}  // namespace

PropertyCache::Mapping::~Mapping() {
  if (at) ::munmap(at, size);
}

HRESULT PropertyCache::Save(const fs::path& file, const ChangeStamp& stamp,
                            const LikeMemo* memo) const {
  if (stamp.empty() || stamp.instance.size() >= snapshot::kInstanceSize) return E_INVALIDARG;
  // The LIKE results of single patterns and of the whole plans asked most.
  std::vector<std::pair<std::string_view, std::span<const std::int8_t>>> likes;
  if (memo && memo->snapshot == this) {
    for (const auto& [key, known] : memo->results) {
      if (KeptWithSnapshot(*memo, key, columns_.size()) && known.size() == ids_.size()) {
        likes.emplace_back(key, known);
      }
    }
  }
  SnapshotHeader h;
  h.flags = textHasNul_ ? snapshot::kTextHasNul : 0;
  std::memcpy(h.instance.data(), stamp.instance.data(), stamp.instance.size());
  h.changes = stamp.changes;
  h.file = stamp.file;
  h.rows = ids_.size();
  h.cells = cells_.size();
  h.textBytes = text_.size();
  h.rowOfIdSize = rowOfId_.size();
  h.columns = columns_.size();
  std::string columns;
  for (const Column& c : columns_) {
    const auto n = static_cast<std::uint32_t>(c.expr.size());
    columns.append(reinterpret_cast<const char*>(&n), sizeof n);
    columns += c.expr;
    columns += static_cast<char>((c.allText ? snapshot::kAllText : 0) |
                                 (c.allInteger ? snapshot::kAllInteger : 0) |
                                 (c.allNumber ? snapshot::kAllNumber : 0) |
                                 (c.reals.empty() ? 0 : snapshot::kEveryRowReal));
  }
  std::uint64_t size = snapshot::kHeaderSize + Padded(columns.size()) + ids_.size_bytes() +
                       tokens_.size_bytes() + present_.size_bytes() +
                       Padded(first_.size_bytes()) + Padded(pathOrder_.size_bytes()) +
                       Padded(rowOfId_.size_bytes()) + cells_.size_bytes() + text_.size();
  for (const Column& c : columns_) size += c.reals.size_bytes();
  size = Padded(size);
  for (const auto& [key, all] : likes) size += Padded(sizeof(std::uint32_t) + key.size()) + Padded(all.size());
  h.likeResults = likes.size();
  if (size > snapshot::kMaxFileSize) return S_FALSE;  // no process would map it
  h.fileSize = size;

  // A new file beside the old one, complete and on disk before it takes the name: a reader
  // finds the old snapshot or the new one, never a part.
  const std::string prefix = "." + file.filename().string() + ".";
  RemoveLeftovers(file.parent_path(), prefix);
  std::string temp = (file.parent_path() / (prefix + "XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // 0600
  if (fd < 0) return HresultFromErrno(errno);
  bool ok = WriteAll(fd, &h, sizeof h) && WriteSection(fd, columns.data(), columns.size()) &&
            WriteSpan(fd, ids_) && WriteSpan(fd, tokens_) && WriteSpan(fd, present_) &&
            WriteSpan(fd, first_) && WriteSpan(fd, pathOrder_) && WriteSpan(fd, rowOfId_) &&
            WriteSpan(fd, cells_);
  for (const Column& c : columns_) ok = ok && WriteSpan(fd, c.reals);
  ok = ok && WriteSection(fd, text_.data(), text_.size());
  for (const auto& [key, all] : likes) {
    std::string head(sizeof(std::uint32_t), '\0');
    const auto n = static_cast<std::uint32_t>(key.size());
    std::memcpy(head.data(), &n, sizeof n);
    head += key;
    ok = ok && WriteSection(fd, head.data(), head.size()) &&
         WriteSection(fd, all.data(), all.size());
  }
  ok = ok && ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  // The folder is not flushed after the rename: a snapshot lost in a crash is only missed,
  // and one that survives it is checked against the catalog's stamp like any other.
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    const int why = ok ? errno : error;
    ::unlink(temp.c_str());
    return HresultFromErrno(why ? why : EIO);
  }
  return S_OK;
}

HRESULT PropertyCache::Open(const fs::path& file, const ChangeStamp& stamp,
                            std::span<const PropColumn> props, std::int64_t version,
                            std::shared_ptr<const PropertyCache>& out, LikeMemo* memo) {
  if (stamp.empty()) return S_FALSE;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return S_FALSE;  // none (or none this process may read): loaded as before
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    return S_FALSE;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  SnapshotHeader h;
  if (size < snapshot::kHeaderSize || ::pread(fd, &h, sizeof h, 0) != sizeof h) {
    return STG_E_DOCFILECORRUPT;
  }
  if (h.magic != snapshot::kMagic || h.version != snapshot::kVersion) return S_FALSE;
  // Another state of the catalog, or another catalog: nothing wrong, just not this one.
  if (h.changes != stamp.changes || h.file != stamp.file || h.instance.back() != 0 ||
      std::string_view(h.instance.data()) != stamp.instance) {
    return S_FALSE;
  }
  const std::vector<std::string> exprs = ColumnExprs(props);
  if (h.columns != exprs.size()) return S_FALSE;
  if (h.fileSize != size || size > snapshot::kMaxFileSize || h.rows > UINT32_MAX ||
      h.cells > UINT32_MAX || h.rowOfIdSize > UINT32_MAX || exprs.size() > kMaxColumns) {
    return STG_E_DOCFILECORRUPT;
  }
  void* at = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (at == MAP_FAILED) return HresultFromErrno(errno);
  auto cache = std::make_shared<PropertyCache>();
  cache->mapping_ = std::make_unique<Mapping>();
  cache->mapping_->at = at;
  cache->mapping_->size = static_cast<std::size_t>(size);

  SectionReader r(static_cast<const char*>(at), size, snapshot::kHeaderSize);
  cache->columns_.resize(exprs.size());
  std::vector<bool> dense(exprs.size());
  for (std::size_t c = 0; c < exprs.size(); ++c) {
    const char* p = nullptr;
    std::uint32_t n = 0;
    if (!r.Bytes(sizeof n, p)) return STG_E_DOCFILECORRUPT;
    std::memcpy(&n, p, sizeof n);
    if (!r.Bytes(n, p)) return STG_E_DOCFILECORRUPT;
    if (std::string_view(p, n) != exprs[c]) return S_FALSE;  // other properties
    const char* flags = nullptr;
    if (!r.Bytes(1, flags)) return STG_E_DOCFILECORRUPT;
    Column& col = cache->columns_[c];
    col.expr = exprs[c];
    col.allText = *flags & snapshot::kAllText;
    col.allInteger = *flags & snapshot::kAllInteger;
    col.allNumber = *flags & snapshot::kAllNumber;
    dense[c] = *flags & snapshot::kEveryRowReal;
  }
  r.Align();
  PropertyCache& k = *cache;
  if (!r.Take(h.rows, k.ids_) || !r.Take(h.rows, k.tokens_) || !r.Take(h.rows, k.present_) ||
      !r.Take(h.rows, k.first_) || !r.Take(h.rows, k.pathOrder_) ||
      !r.Take(h.rowOfIdSize, k.rowOfId_) || !r.Take(h.cells, k.cells_)) {
    return STG_E_DOCFILECORRUPT;
  }
  for (std::size_t c = 0; c < exprs.size(); ++c) {
    k.columns_[c].everyRowReal = dense[c];
    if (dense[c] && !r.Take(h.rows, k.columns_[c].reals)) return STG_E_DOCFILECORRUPT;
  }
  const char* text = nullptr;
  if (!r.Bytes(h.textBytes, text)) return STG_E_DOCFILECORRUPT;
  r.Align();
  k.text_ = std::string_view(text, static_cast<std::size_t>(h.textBytes));
  k.textHasNul_ = h.flags & snapshot::kTextHasNul;
  std::map<std::string, std::vector<std::int8_t>> likes;
  for (std::uint64_t i = 0; i < h.likeResults; ++i) {
    const char* p = nullptr;
    std::uint32_t n = 0;
    if (!r.Bytes(sizeof n, p)) return STG_E_DOCFILECORRUPT;
    std::memcpy(&n, p, sizeof n);
    if (!r.Bytes(n, p)) return STG_E_DOCFILECORRUPT;
    std::string key(p, n);
    r.Align();
    std::span<const std::int8_t> known;
    if ((LikeKeyColumn(key, exprs.size()) < 0 && !IsPlanKey(key)) || !r.Take(h.rows, known)) {
      return STG_E_DOCFILECORRUPT;
    }
    if (!AllResults(known, IsPlanKey(key))) return STG_E_DOCFILECORRUPT;
    likes[std::move(key)].assign(known.begin(), known.end());
  }
  if (r.at() != size || !k.HoldsTogether()) return STG_E_DOCFILECORRUPT;
  k.dataVersion_ = version;
  if (memo) {
    memo->results = std::move(likes);
    memo->plans.clear();
    for (const auto& [key, known] : memo->results) {
      // Kept by the process that wrote them: they stay kept, though this one has not asked
      // them yet (their conditions come with the first query that does).
      if (IsPlanKey(key)) memo->plans[key].uses = kPlanUsesToKeep;
    }
    memo->snapshot = cache.get();
  }
  out = std::move(cache);
  return S_OK;
}

// One pass over the rows without early exits, so that it runs without mispredicted
// branches: a fresh search checks some megabytes of tables before its first answer.
bool PropertyCache::HoldsTogether() const {
  const std::size_t rows = ids_.size();
  const std::size_t ncols = columns_.size();
  const std::uint64_t beyond = ncols >= 64 ? 0 : ~std::uint64_t{0} << ncols;
  std::uint64_t everyRow = 0;  // the columns said to have a real number in every row
  for (std::size_t c = 0; c < ncols; ++c) {
    if (!columns_[c].reals.empty()) everyRow |= std::uint64_t{1} << c;
  }
  const std::uint64_t cells = cells_.size();
  const std::uint64_t ids = rowOfId_.size();
  const bool byTable = ids > 0;  // Find answers from the table where there is one
  std::vector<std::uint64_t> taken((rows + 63) / 64);
  bool bad = false;
  std::int64_t lengths = 0;  // the rank divides by a length: none may be negative
  std::uint64_t stray = 0;   // bits of columns there are not, or missing where every row has one
  std::int64_t before = INT64_MIN;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::int64_t id = ids_[r];
    bad |= r > 0 && id <= before;  // ids ascend
    before = id;
    lengths |= tokens_[r];
    const std::uint64_t present = present_[r];
    stray |= (present & beyond) | (~present & everyRow);
    // The row's values lie within the values (the count of its bits only near the end).
    const std::uint64_t first = first_[r];
    if (first + ncols > cells) bad |= first + static_cast<std::uint64_t>(CountBits(present)) > cells;
    // The table finds the row at its id.
    if (byTable) {
      const std::uint64_t at = static_cast<std::uint64_t>(id) < ids ? static_cast<std::uint64_t>(id) : 0;
      bad |= at != static_cast<std::uint64_t>(id) || rowOfId_[at] != r;
    }
    // Every row its own place in path order, so that rows of the snapshot order totally.
    // (Whether the places follow the paths' bytes is not checked: that would compare every
    // path; see RowHeap::placesByText.)
    const std::uint32_t place = pathOrder_[r];
    const std::size_t slot = place < rows ? place : 0;
    const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
    bad |= place >= rows || (taken[slot / 64] & bit) != 0;
    taken[slot / 64] |= bit;
  }
  // No entry of the table but those of the rows names a row.
  std::size_t named = 0;
  for (const std::uint32_t row : rowOfId_) named += row != UINT32_MAX;
  bad |= byTable && named != rows;
  return !bad && lengths >= 0 && stray == 0;
}

}  // namespace qv::platform::indexing
