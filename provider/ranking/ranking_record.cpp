#include "provider/ranking/ranking_record.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "platform/propset/property_set_format.h"
#include "platform/propset/property_store.h"

namespace qv::ranking {

using platform::PropVariant;

namespace {

std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t LoadU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(LoadU32(p)) | static_cast<std::uint64_t>(LoadU32(p + 4)) << 32;
}
void StoreU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void StoreU64(std::uint8_t* p, std::uint64_t v) {
  StoreU32(p, static_cast<std::uint32_t>(v));
  StoreU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// The size of each value, by PROPID from the first: the key, then numbers and dates.
constexpr std::size_t ValueSize(std::uint32_t pid) {
  switch (pid) {
    case kPidSearchKey: return kGuidByteLength;
    case kPidFirstVisitStart:
    case kPidLastVisitEnd:
    case kPidBlendedEnd: return 8;
    default: return 4;
  }
}

}  // namespace

RankingRecordLayout::RankingRecordLayout()
    : attribute_(platform::PropertySetAttributeName(kRankingFmtid)),
      stream_(platform::SerializePropertySet(MakeRankingPropertySet(Guid{}, RankingSet{}))) {
  namespace f = platform::propset_format;
  // The layout is learnt from the general codec's own stream: its one section's table says
  // where each value is.
  auto u32 = [&](std::size_t at) {
    if (at + 4 > stream_.size()) throw std::logic_error("ranking record layout");
    return LoadU32(stream_.data() + at);
  };
  const std::size_t section = u32(f::kStreamHeaderSize + kGuidByteLength);
  const std::uint32_t count = u32(section + 4);
  std::vector<Span> values;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = section + f::kSectionHeaderSize + i * f::kTableEntrySize;
    const std::uint32_t pid = u32(entry);
    if (pid < kFirstRankingPid || pid > kLastRankingPid) continue;
    const std::size_t at = section + u32(entry + 4) + f::kTypeFieldSize;
    if (at + ValueSize(pid) > stream_.size()) throw std::logic_error("ranking record layout");
    at_[pid - kFirstRankingPid] = at;
    values.push_back({at, ValueSize(pid)});
  }
  if (values.size() != kValues) throw std::logic_error("ranking record layout");
  std::sort(values.begin(), values.end(), [](const Span& a, const Span& b) { return a.at < b.at; });
  std::size_t from = 0;
  for (const Span& v : values) {
    if (v.at > from) fixed_.push_back({from, v.at - from});
    from = v.at + v.size;
  }
  if (from < stream_.size()) fixed_.push_back({from, stream_.size() - from});
}

const RankingRecordLayout& RankingRecordLayout::Ours() {
  static const RankingRecordLayout layout;
  return layout;
}

void RankingRecordLayout::Encode(const Guid& key, const RankingSet& s,
                                 std::vector<std::uint8_t>& out) const {
  out.assign(stream_.begin(), stream_.end());
  auto at = [&](std::uint32_t pid) { return out.data() + at_[pid - kFirstRankingPid]; };
  const auto keyBytes = GuidToBytes(key);
  std::memcpy(at(kPidSearchKey), keyBytes.data(), keyBytes.size());
  StoreU32(at(kPidScope), s.scope);
  StoreU32(at(kPidWorkingTime), s.workingTime);
  StoreU32(at(kPidActiveTime), s.activeTime);
  StoreU32(at(kPidVisits), s.visits);
  StoreU64(at(kPidFirstVisitStart), std::bit_cast<std::uint64_t>(s.firstVisitStart));
  StoreU64(at(kPidLastVisitEnd), std::bit_cast<std::uint64_t>(s.last.end));
  StoreU32(at(kPidLastVisitT), s.last.t);
  StoreU32(at(kPidLastVisitN), s.last.n);
  StoreU64(at(kPidBlendedEnd), std::bit_cast<std::uint64_t>(s.blended.end));
  StoreU32(at(kPidBlendedT), s.blended.t);
  StoreU32(at(kPidBlendedN), s.blended.n);
}

bool RankingRecordLayout::Decode(std::span<const std::uint8_t> bytes, Guid& key,
                                 RankingSet& s) const {
  if (bytes.size() != stream_.size()) return false;
  for (const Span& f : fixed_) {
    if (std::memcmp(bytes.data() + f.at, stream_.data() + f.at, f.size) != 0) return false;
  }
  auto at = [&](std::uint32_t pid) { return bytes.data() + at_[pid - kFirstRankingPid]; };
  key = GuidFromBytes(std::span<const std::uint8_t, kGuidByteLength>(at(kPidSearchKey),
                                                                       kGuidByteLength));
  RankingSet r;
  r.scope = LoadU32(at(kPidScope));
  r.workingTime = LoadU32(at(kPidWorkingTime));
  r.activeTime = LoadU32(at(kPidActiveTime));
  r.visits = LoadU32(at(kPidVisits));
  r.firstVisitStart = std::bit_cast<double>(LoadU64(at(kPidFirstVisitStart)));
  r.last.end = std::bit_cast<double>(LoadU64(at(kPidLastVisitEnd)));
  r.last.t = LoadU32(at(kPidLastVisitT));
  r.last.n = LoadU32(at(kPidLastVisitN));
  r.blended.end = std::bit_cast<double>(LoadU64(at(kPidBlendedEnd)));
  r.blended.t = LoadU32(at(kPidBlendedT));
  r.blended.n = LoadU32(at(kPidBlendedN));
  s = r;
  return true;
}

platform::PropertySet MakeRankingPropertySet(const Guid& searchKey, const RankingSet& s) {
  platform::PropertySet ps;
  ps.fmtid = kRankingFmtid;
  ps.clsid = kRankingFmtid;
  ps.codePage = kRankingCodePage;
  ps.names[0] = std::string(kRankingSetName);
  ps.values[kPidSearchKey] = PropVariant::Clsid(searchKey);
  ps.values[kPidScope] = PropVariant::UI4(s.scope);
  ps.values[kPidWorkingTime] = PropVariant::UI4(s.workingTime);
  ps.values[kPidActiveTime] = PropVariant::UI4(s.activeTime);
  ps.values[kPidVisits] = PropVariant::UI4(s.visits);
  ps.values[kPidFirstVisitStart] = PropVariant::Date(s.firstVisitStart);
  ps.values[kPidLastVisitEnd] = PropVariant::Date(s.last.end);
  ps.values[kPidLastVisitT] = PropVariant::UI4(s.last.t);
  ps.values[kPidLastVisitN] = PropVariant::UI4(s.last.n);
  ps.values[kPidBlendedEnd] = PropVariant::Date(s.blended.end);
  ps.values[kPidBlendedT] = PropVariant::UI4(s.blended.t);
  ps.values[kPidBlendedN] = PropVariant::UI4(s.blended.n);
  return ps;
}

bool ReadRankingProperties(const platform::PropertySet& ps, Guid& key, RankingSet& s) {
  auto get = [&](std::uint32_t pid, std::uint16_t vt) -> const PropVariant* {
    auto it = ps.values.find(pid);
    return it != ps.values.end() && it->second.vt == vt ? &it->second : nullptr;
  };
  auto ui4 = [&](std::uint32_t pid, std::uint32_t& out) {
    const PropVariant* v = get(pid, platform::VT_UI4);
    if (v) out = v->ui4;
    return v != nullptr;
  };
  auto date = [&](std::uint32_t pid, DATE& out) {
    const PropVariant* v = get(pid, platform::VT_DATE);
    if (v) out = v->date;
    return v != nullptr;
  };
  const PropVariant* k = get(kPidSearchKey, platform::VT_CLSID);
  if (!k) return false;
  RankingSet r;
  if (!ui4(kPidScope, r.scope) || !ui4(kPidWorkingTime, r.workingTime) ||
      !ui4(kPidActiveTime, r.activeTime) || !ui4(kPidVisits, r.visits) ||
      !date(kPidFirstVisitStart, r.firstVisitStart) || !date(kPidLastVisitEnd, r.last.end) ||
      !ui4(kPidLastVisitT, r.last.t) || !ui4(kPidLastVisitN, r.last.n) ||
      !date(kPidBlendedEnd, r.blended.end) || !ui4(kPidBlendedT, r.blended.t) ||
      !ui4(kPidBlendedN, r.blended.n)) {
    return false;
  }
  key = k->clsid;
  s = r;
  return true;
}

}  // namespace qv::ranking
