#include "provider/ranking/ranking_record.h"

namespace qv::ranking {

using platform::PropVariant;

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
