#pragma once
// BaseActivation: computes activations, bar values and the user's scope number, and folds
// visits into ranking sets. Keeps no state between calls; reads the clock and two registry
// values on every call that needs them.
#include "context/context.h"
#include "interfaces/ibase_activation.h"
#include "provider/ranking/ranking.h"

namespace qv {

class BaseActivation final : public IBaseActivation {
 public:
  explicit BaseActivation(const Context& ctx) : ctx_(ctx) {}

  HRESULT get_CurrentScope(ULONG* pVal) override;
  HRESULT GetActivation(DATE t, DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn, ULONG bt,
                        float* activation) override;
  HRESULT GetCurrentActivation(DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn, ULONG bt,
                               float* activation) override;
  HRESULT GetActivationScale(float fActivation, ULONG* pnScale) override;
  HRESULT CalcRankingSet(ULONG ulCurrentScope, ULONG nUnits, ULONG nVisits, DATE start, DATE end,
                         ULONG WorkingTime, ULONG ActiveTime, VARIANT_BOOL bCreateSet,
                         ULONG* pScope, ULONG* pWorkingTime, ULONG* pActiveTime, ULONG* pVisits,
                         DATE* pFirstVisitStart, DATE* pLastVisitEnd, ULONG* pLastVisitT,
                         ULONG* pLastVisitN, DATE* pBlendedEnd, ULONG* pBlendedT,
                         ULONG* pBlendedN) override;
  HRESULT InterfaceSupportsErrorInfo(const Guid& riid) override;

  // The same fold on a struct, for callers that hold the set as one value.
  HRESULT CalcRankingSet(ULONG ulCurrentScope, ULONG nUnits, ULONG nVisits, DATE start, DATE end,
                         ULONG workingTenths, ULONG activeTenths, VARIANT_BOOL bCreateSet,
                         ranking::RankingSet& set);
  // The same with the statistics switch given by a caller that keeps it.
  HRESULT CalcRankingSet(ULONG ulCurrentScope, ULONG nUnits, ULONG nVisits, DATE start, DATE end,
                         ULONG workingTenths, ULONG activeTenths, VARIANT_BOOL bCreateSet,
                         bool keepStatistics, ranking::RankingSet& set);

  // The scope computation without an event report (FileRanking's CurrentScope uses it).
  HRESULT ComputeScope(ULONG& out) const;

 private:
  // The activation at t, or the ElapsedSeconds failure (not reported here).
  HRESULT Activation(DATE t, DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn, ULONG bt,
                     double& out) const;
  HRESULT Fold(ULONG scope, ULONG nUnits, ULONG nVisits, DATE start, DATE end, ULONG working,
               ULONG active, VARIANT_BOOL bCreateSet, bool stats, ranking::RankingSet& s);

  const Context& ctx_;
};

// Registers BaseActivation under its CLSID and ProgIDs in ctx.classes.
void RegisterBaseActivation(Context& ctx);

}  // namespace qv
