#include "provider/ranking/base_activation.h"

#include <limits>

#include "context/event_report.h"
#include "context/registry_values.h"
#include "common/scope_hash.h"
#include "common/utf.h"

namespace qv {
namespace {

constexpr std::string_view kMethodCurrentScope = "Pelion.BaseActivation::CurrentScope";
constexpr std::string_view kMethodGetActivation = "Pelion.BaseActivation::GetActivation";
constexpr std::string_view kMethodGetCurrentActivation =
    "Pelion.BaseActivation::GetCurrentActivation";
constexpr std::string_view kMethodCalcRankingSet = "Pelion.BaseActivation::CalcRankingSet";

bool TripleEmpty(const ranking::Triple& t) { return t.end == 0.0 || t.t == 0 || t.n == 0; }

// A merged unit count saturates instead of wrapping to a small number.
std::uint32_t AddUnits(std::uint32_t a, std::uint32_t b) {
  const std::uint64_t sum = static_cast<std::uint64_t>(a) + b;
  return sum > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                         : static_cast<std::uint32_t>(sum);
}

// Activation of a triple at `at`, 0 when `include` is false.
HRESULT ActivationAt(const ranking::Triple& t, DATE at, bool include, double& out) {
  out = 0.0;
  if (!include) return S_OK;
  std::int32_t e = 0;
  const HRESULT hr = ranking::ElapsedSeconds(t.end, at, e);
  if (Failed(hr)) return hr;
  out = ranking::TripleActivation(static_cast<std::uint32_t>(e), t.t, t.n);
  return S_OK;
}

}  // namespace

HRESULT BaseActivation::ComputeScope(ULONG& out) const {
  using platform::Hive;
  auto& reg = ctx_.registry;
  if (const std::int32_t rc = reg.CreateKey(Hive::CurrentUser, kVesperKey); rc != 0) {
    return HresultFromWin32(rc);
  }
  std::string identity;
  platform::RegValue v;
  const std::int32_t rc = reg.GetValue(Hive::CurrentUser, kVesperKey, ranking::kIdentityValue, v);
  if (rc == 0 && v.type == platform::RegType::Sz) {
    // The value is read into a buffer of 256 characters, terminator included.
    if (Utf8ToUtf16(v.text).size() >= ranking::kIdentityMaxChars) {
      return HresultFromWin32(win32::ERROR_MORE_DATA);
    }
    identity = v.text;
  } else if (rc != 0 && rc != win32::ERROR_FILE_NOT_FOUND) {
    return HresultFromWin32(rc);
  }
  if (identity.empty()) {
    if (const HRESULT hr = ctx_.userName(identity); Failed(hr)) return hr;
    if (identity.empty()) return E_FAIL;
    if (Utf8ToUtf16(identity).size() >= ranking::kIdentityMaxChars) {
      return HresultFromWin32(win32::ERROR_INSUFFICIENT_BUFFER);
    }
    if (const std::int32_t w = reg.SetValue(Hive::CurrentUser, kVesperKey, ranking::kIdentityValue,
                                            platform::RegValue::Sz(identity));
        w != 0) {
      return HresultFromWin32(w);
    }
  }
  out = ScopeHash(identity);
  return S_OK;
}

HRESULT BaseActivation::get_CurrentScope(ULONG* pVal) {
  HRESULT hr = E_INVALIDARG;
  if (pVal) {
    ULONG scope = 0;
    hr = ComputeScope(scope);
    if (Succeeded(hr)) *pVal = scope;
  }
  if (Failed(hr)) ReportProviderError(ctx_, kMethodCurrentScope, hr);
  return hr;
}

HRESULT BaseActivation::Activation(DATE t, DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn,
                                   ULONG bt, double& out) const {
  double last = 0.0, blended = 0.0;
  HRESULT hr = ActivationAt({lv, lt, ln}, t, lv > 0.0 && lv < t && ln != 0 && lt != 0, last);
  if (Failed(hr)) return hr;
  hr = ActivationAt({be, bt, bn}, t, be > 0.0 && be < t && bn != 0 && bt != 0, blended);
  if (Failed(hr)) return hr;
  out = last + blended;
  return S_OK;
}

HRESULT BaseActivation::GetActivation(DATE t, DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn,
                                      ULONG bt, float* activation) {
  double a = 0.0;
  HRESULT hr = activation ? Activation(t, lv, ln, lt, be, bn, bt, a) : E_POINTER;
  if (Failed(hr)) {
    ReportProviderError(ctx_, kMethodGetActivation, hr);
    return hr;
  }
  *activation = static_cast<float>(a);
  return S_OK;
}

HRESULT BaseActivation::GetCurrentActivation(DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn,
                                             ULONG bt, float* activation) {
  const DATE now = ctx_.clock.NowDate();
  if (!IsValidDate(now)) {
    ReportProviderError(ctx_, kMethodGetCurrentActivation, E_INVALIDARG);
    return E_INVALIDARG;
  }
  return GetActivation(now, lv, ln, lt, be, bn, bt, activation);
}

HRESULT BaseActivation::GetActivationScale(float fActivation, ULONG* pnScale) {
  if (!pnScale) return E_POINTER;
  // Not above 0.01 (NaN included): the caller's preset value stays, an empty bar.
  if (!(static_cast<double>(fActivation) > ranking::kMinScaledActivation)) return S_OK;
  *pnScale = ranking::ActivationScale(fActivation);
  return S_OK;
}

HRESULT BaseActivation::InterfaceSupportsErrorInfo(const Guid& riid) {
  return riid == IID_IBaseActivation ? S_OK : S_FALSE;
}

HRESULT BaseActivation::Fold(ULONG scope, ULONG nUnits, ULONG nVisits, DATE start, DATE end,
                             ULONG working, ULONG active, VARIANT_BOOL bCreateSet, bool stats,
                             ranking::RankingSet& s) {
  using ranking::Triple;
  std::int32_t d = 0;
  if (const HRESULT hr = ranking::ElapsedSeconds(start, end, d); Failed(hr)) return hr;
  if (d < 1 || nUnits == 0 || nVisits == 0) return E_INVALIDARG;

  if (!stats) {
    s.workingTime = s.activeTime = s.visits = 0;
    s.firstVisitStart = 0.0;
  }
  const Triple visit{end, static_cast<std::uint32_t>(d), nUnits};

  if (bCreateSet == VARIANT_TRUE || s.scope != scope || s.last.end == 0.0) {
    s.scope = scope;
    if (stats) {
      s.workingTime = working / 10;
      s.activeTime = active / 10;
      s.visits = nVisits;
      s.firstVisitStart = start;
    }
    s.last = visit;
    s.blended.end = 0.0;  // BlendedN keeps its value; an empty triple ignores it
    s.blended.t = 0;
    return S_OK;
  }

  if (stats) {
    s.workingTime += working / 10;
    s.activeTime += active / 10;
    s.visits += nVisits;
    if (s.firstVisitStart == 0.0 || start < s.firstVisitStart) s.firstVisitStart = start;
  }

  Triple older;
  if (end > s.last.end) {
    older = s.last;
    s.last = visit;
  } else {
    older = visit;  // a late report: blended, the last visit stays
  }
  if (older.end == 0.0 || static_cast<std::int32_t>(older.t) < 1 ||
      static_cast<std::int32_t>(older.n) < 1) {
    return S_OK;
  }
  if (TripleEmpty(s.blended)) {
    s.blended = older;
    return S_OK;
  }

  const DATE h = ctx_.clock.NowDate() + 1.0;
  if (!IsValidDate(h)) return E_INVALIDARG;
  const Triple& b = s.blended;
  Triple merged;
  merged.end = older.end > b.end ? older.end : b.end;
  merged.n = AddUnits(b.n, older.n);
  DATE startB = b.end - b.t * (1.0 / kSecondsPerDay);
  DATE startO = older.end - older.t * (1.0 / kSecondsPerDay);
  if (startB < 0.0) startB = 0.0;
  if (startO < 0.0) startO = 0.0;
  std::int32_t mt = 0;
  if (!(startB > 0.0 && startO > 0.0) ||
      Failed(ranking::ElapsedSeconds(startB <= startO ? startB : startO, merged.end, mt)) ||
      mt < 1) {
    s.blended = older;
    return S_OK;
  }
  merged.t = static_cast<std::uint32_t>(mt);

  double aB = 0, aO = 0, aM = 0;
  HRESULT hr = ActivationAt(b, h, b.end > 0.0 && b.end < h && b.t != 0 && b.n != 0, aB);
  if (Succeeded(hr)) hr = ActivationAt(older, h, older.end < h, aO);
  if (Succeeded(hr)) hr = ActivationAt(merged, h, merged.end < h, aM);
  if (Failed(hr)) return hr;

  // Ties go to the merger, then to the older visit alone, then to the stored blend.
  if (aM == 0.0 && aO == 0.0 && aB == 0.0) {
    s.blended = Triple{};
  } else if (aM >= aO && aM >= aB) {
    s.blended = merged;
  } else if (aO >= aM && aO >= aB) {
    s.blended = older;
  }
  return S_OK;
}

HRESULT BaseActivation::CalcRankingSet(ULONG scope, ULONG nUnits, ULONG nVisits, DATE start,
                                       DATE end, ULONG working, ULONG active,
                                       VARIANT_BOOL bCreateSet, ranking::RankingSet& set) {
  const bool stats = !ReadFlag(ctx_.registry, platform::Hive::LocalMachine, kVesperKey,
                               ranking::kDisableStatisticsValue);
  return CalcRankingSet(scope, nUnits, nVisits, start, end, working, active, bCreateSet, stats,
                        set);
}

HRESULT BaseActivation::CalcRankingSet(ULONG scope, ULONG nUnits, ULONG nVisits, DATE start,
                                       DATE end, ULONG working, ULONG active,
                                       VARIANT_BOOL bCreateSet, bool keepStatistics,
                                       ranking::RankingSet& set) {
  const HRESULT hr =
      Fold(scope, nUnits, nVisits, start, end, working, active, bCreateSet, keepStatistics, set);
  if (Failed(hr)) ReportProviderError(ctx_, kMethodCalcRankingSet, hr);
  return hr;
}

HRESULT BaseActivation::CalcRankingSet(ULONG ulCurrentScope, ULONG nUnits, ULONG nVisits,
                                       DATE start, DATE end, ULONG WorkingTime, ULONG ActiveTime,
                                       VARIANT_BOOL bCreateSet, ULONG* pScope,
                                       ULONG* pWorkingTime, ULONG* pActiveTime, ULONG* pVisits,
                                       DATE* pFirstVisitStart, DATE* pLastVisitEnd,
                                       ULONG* pLastVisitT, ULONG* pLastVisitN, DATE* pBlendedEnd,
                                       ULONG* pBlendedT, ULONG* pBlendedN) {
  if (!pScope || !pWorkingTime || !pActiveTime || !pVisits || !pFirstVisitStart ||
      !pLastVisitEnd || !pLastVisitT || !pLastVisitN || !pBlendedEnd || !pBlendedT ||
      !pBlendedN) {
    ReportProviderError(ctx_, kMethodCalcRankingSet, E_INVALIDARG);
    return E_INVALIDARG;
  }
  ranking::RankingSet s{*pScope,
                        *pWorkingTime,
                        *pActiveTime,
                        *pVisits,
                        *pFirstVisitStart,
                        {*pLastVisitEnd, *pLastVisitT, *pLastVisitN},
                        {*pBlendedEnd, *pBlendedT, *pBlendedN}};
  const HRESULT hr =
      CalcRankingSet(ulCurrentScope, nUnits, nVisits, start, end, WorkingTime, ActiveTime,
                     bCreateSet, s);
  // Invalid visits fail before anything changes. A later failure leaves the set partly
  // updated, as in the caller's variables; callers store the fields only on success.
  *pScope = s.scope;
  *pWorkingTime = s.workingTime;
  *pActiveTime = s.activeTime;
  *pVisits = s.visits;
  *pFirstVisitStart = s.firstVisitStart;
  *pLastVisitEnd = s.last.end;
  *pLastVisitT = s.last.t;
  *pLastVisitN = s.last.n;
  *pBlendedEnd = s.blended.end;
  *pBlendedT = s.blended.t;
  *pBlendedN = s.blended.n;
  return hr;
}

void RegisterBaseActivation(Context& ctx) {
  ctx.classes.Register(CLSID_BaseActivation, kProgIdBaseActivation,
                       kProgIdBaseActivationIndependent,
                       [&ctx](std::shared_ptr<platform::ComObject>& out) {
                         out = std::make_shared<BaseActivation>(ctx);
                         return S_OK;
                       });
}

}  // namespace qv
