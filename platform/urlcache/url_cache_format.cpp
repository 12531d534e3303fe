#include "platform/urlcache/url_cache_format.h"

#include <cstdio>
#include <cstring>

namespace qv::platform::urlcache_format {
namespace {

class Writer {
 public:
  void Bytes(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Str(std::string_view s) {
    U32(static_cast<std::uint32_t>(s.size()));
    Bytes(s);
  }
  std::vector<std::uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
  bool Magic(std::string_view m) {
    if (b_.size() - pos_ < m.size()) return false;
    const bool ok = std::memcmp(b_.data() + pos_, m.data(), m.size()) == 0;
    pos_ += m.size();
    return ok;
  }
  bool U32(std::uint32_t& v) {
    if (b_.size() - pos_ < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{b_[pos_ + i]} << (8 * i);
    pos_ += 4;
    return true;
  }
  bool U64(std::uint64_t& v) {
    if (b_.size() - pos_ < 8) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v |= std::uint64_t{b_[pos_ + i]} << (8 * i);
    pos_ += 8;
    return true;
  }
  bool I64(std::int64_t& v) {
    std::uint64_t u;
    if (!U64(u)) return false;
    v = static_cast<std::int64_t>(u);
    return true;
  }
  bool Str(std::string& s, std::size_t max = kMaxIndexFile) {
    std::uint32_t n;
    if (!U32(n) || n > b_.size() - pos_ || n > max) return false;
    s.assign(reinterpret_cast<const char*>(b_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  std::size_t Remaining() const { return b_.size() - pos_; }

 private:
  std::span<const std::uint8_t> b_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string IndexFileName(std::string_view url, int probe) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : url) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  char buf[40];
  if (probe > 0) {
    std::snprintf(buf, sizeof buf, "%016llx-%d", static_cast<unsigned long long>(h), probe);
  } else {
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  }
  return buf + std::string(kEntryExtension);
}

std::vector<std::uint8_t> SerializeEntry(const StoredEntry& s) {
  Writer w;
  w.Bytes(kEntryMagic);
  w.U32(kVersion);
  const CacheEntry& e = s.entry;
  w.Str(e.url);
  w.Str(e.originalUrl);
  w.Str(s.copy);
  w.Str(e.headers);
  w.U64(e.size);
  w.U64(e.lastSync);
  w.U64(e.lastModified);
  w.U64(e.expires);
  w.U32(static_cast<std::uint32_t>(e.groups.size()));
  for (CacheGroupId g : e.groups) w.U64(static_cast<std::uint64_t>(g));
  return w.Take();
}

bool ParseEntry(std::span<const std::uint8_t> bytes, StoredEntry& out) {
  if (bytes.size() > kMaxIndexFile) return false;
  Reader r(bytes);
  std::uint32_t version = 0, groups = 0;
  StoredEntry s;
  CacheEntry& e = s.entry;
  if (!r.Magic(kEntryMagic) || !r.U32(version) || version != kVersion) return false;
  if (!r.Str(e.url) || !r.Str(e.originalUrl) || !r.Str(s.copy) || !r.Str(e.headers)) return false;
  if (!r.U64(e.size) || !r.U64(e.lastSync) || !r.U64(e.lastModified) || !r.U64(e.expires)) {
    return false;
  }
  if (!r.U32(groups) || groups > r.Remaining() / 8) return false;
  e.groups.resize(groups);
  for (auto& g : e.groups) {
    if (!r.I64(g)) return false;
  }
  if (e.url.empty() || r.Remaining() != 0) return false;
  out = std::move(s);
  return true;
}

std::vector<std::uint8_t> SerializeGroups(const StoredGroups& g) {
  Writer w;
  w.Bytes(kGroupsMagic);
  w.U32(kVersion);
  w.U64(static_cast<std::uint64_t>(g.nextId));
  w.U32(static_cast<std::uint32_t>(g.groups.size()));
  for (const auto& grp : g.groups) {
    w.U64(static_cast<std::uint64_t>(grp.id));
    w.Str(grp.name);
  }
  return w.Take();
}

bool ParseGroups(std::span<const std::uint8_t> bytes, StoredGroups& out) {
  if (bytes.size() > kMaxIndexFile) return false;
  Reader r(bytes);
  std::uint32_t version = 0, count = 0;
  StoredGroups g;
  if (!r.Magic(kGroupsMagic) || !r.U32(version) || version != kVersion) return false;
  if (!r.I64(g.nextId) || !r.U32(count) || count > r.Remaining() / 12) return false;
  g.groups.resize(count);
  for (auto& grp : g.groups) {
    if (!r.I64(grp.id) || !r.Str(grp.name, kMaxGroupName)) return false;
  }
  if (r.Remaining() != 0) return false;
  out = std::move(g);
  return true;
}

}  // namespace qv::platform::urlcache_format
