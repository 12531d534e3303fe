#include "mail/QvOutlookAddIn/pending_record.h"

#include <bit>
#include <cstring>

namespace qv::mail::addin {
namespace {

using ranking::RankingSet;
namespace pm = platform::mail;

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutF64(std::uint8_t* p, double d) {
  const auto v = std::bit_cast<std::uint64_t>(d);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetU32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
double GetF64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return std::bit_cast<double>(v);
}

}  // namespace

PendingRecord EncodePendingRecord(const RankingSet& s) {
  PendingRecord r{};
  PutU32(&r[0], s.scope);
  PutU32(&r[4], s.workingTime);
  PutU32(&r[8], s.activeTime);
  PutU32(&r[12], s.visits);
  PutF64(&r[16], s.firstVisitStart);
  PutF64(&r[24], s.last.end);
  PutU32(&r[32], s.last.t);
  PutU32(&r[36], s.last.n);
  PutF64(&r[40], s.blended.end);
  PutU32(&r[48], s.blended.t);
  PutU32(&r[52], s.blended.n);
  return r;
}

HRESULT DecodePendingRecord(std::span<const std::uint8_t> b, RankingSet& out) {
  if (b.size() != kPendingRecordSize) return STG_E_READFAULT;
  RankingSet s;
  s.scope = GetU32(&b[0]);
  s.workingTime = GetU32(&b[4]);
  s.activeTime = GetU32(&b[8]);
  s.visits = GetU32(&b[12]);
  s.firstVisitStart = GetF64(&b[16]);
  s.last.end = GetF64(&b[24]);
  s.last.t = GetU32(&b[32]);
  s.last.n = GetU32(&b[36]);
  s.blended.end = GetF64(&b[40]);
  s.blended.t = GetU32(&b[48]);
  s.blended.n = GetU32(&b[52]);
  out = s;
  return S_OK;
}

pm::NamedId RankingNamedId(ranking::RankingPropId pid) {
  return pm::NamedId{ranking::kRankingFmtid, static_cast<std::uint32_t>(pid)};
}

void SetRankingProperties(pm::Message& m, const RankingSet& s) {
  using namespace ranking;
  auto l = [&](RankingPropId pid, std::uint32_t v) {
    m.named[RankingNamedId(pid)] = static_cast<std::int32_t>(v);
  };
  auto d = [&](RankingPropId pid, double v) { m.named[RankingNamedId(pid)] = v; };
  l(kPidScope, s.scope);
  l(kPidWorkingTime, s.workingTime);
  l(kPidActiveTime, s.activeTime);
  l(kPidVisits, s.visits);
  d(kPidFirstVisitStart, s.firstVisitStart);
  d(kPidLastVisitEnd, s.last.end);
  l(kPidLastVisitT, s.last.t);
  l(kPidLastVisitN, s.last.n);
  d(kPidBlendedEnd, s.blended.end);
  l(kPidBlendedT, s.blended.t);
  l(kPidBlendedN, s.blended.n);
}

HRESULT GetRankingProperties(const pm::Message& m, RankingSet& out) {
  using namespace ranking;
  bool ok = true;
  auto l = [&](RankingPropId pid, std::uint32_t& v) {
    const auto it = m.named.find(RankingNamedId(pid));
    if (it == m.named.end() || !std::holds_alternative<std::int32_t>(it->second)) {
      ok = false;
      return;
    }
    v = static_cast<std::uint32_t>(std::get<std::int32_t>(it->second));
  };
  auto d = [&](RankingPropId pid, double& v) {
    const auto it = m.named.find(RankingNamedId(pid));
    if (it == m.named.end() || !std::holds_alternative<double>(it->second)) {
      ok = false;
      return;
    }
    v = std::get<double>(it->second);
  };
  RankingSet s;
  l(kPidScope, s.scope);
  l(kPidWorkingTime, s.workingTime);
  l(kPidActiveTime, s.activeTime);
  l(kPidVisits, s.visits);
  d(kPidFirstVisitStart, s.firstVisitStart);
  d(kPidLastVisitEnd, s.last.end);
  l(kPidLastVisitT, s.last.t);
  l(kPidLastVisitN, s.last.n);
  d(kPidBlendedEnd, s.blended.end);
  l(kPidBlendedT, s.blended.t);
  l(kPidBlendedN, s.blended.n);
  if (!ok) return S_FALSE;
  out = s;
  return S_OK;
}

}  // namespace qv::mail::addin
