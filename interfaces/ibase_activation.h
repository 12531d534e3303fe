#pragma once
// IBaseActivation: the arithmetic of usage-based ranking.
#include <cstdint>

#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"
#include "platform/com/class_registry.h"

namespace qv {

using ULONG = std::uint32_t;
using VARIANT_BOOL = std::int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr Guid CLSID_BaseActivation =
    MakeGuid(0x3108EFA7, 0x0C78, 0x4930, 0x85, 0x42, 0x23, 0x7B, 0x2C, 0x34, 0x1E, 0xD2);
inline constexpr Guid IID_IBaseActivation =
    MakeGuid(0xF50C0653, 0x2E97, 0x41AB, 0xB2, 0xC8, 0x39, 0x7A, 0xBD, 0x75, 0x62, 0xA5);
inline constexpr Guid LIBID_PelionLib =
    MakeGuid(0x9B04B200, 0x06AF, 0x469B, 0x9B, 0x52, 0xC7, 0x3E, 0xD1, 0xF1, 0x40, 0xC8);
inline constexpr Guid APPID_Pelion =
    MakeGuid(0xFB1F10AA, 0x48B7, 0x44A8, 0xAF, 0xBA, 0x3A, 0xBF, 0x55, 0x8E, 0x4D, 0x59);
inline constexpr const char* kProgIdBaseActivation = "Pelion.BaseActivation.1";
inline constexpr const char* kProgIdBaseActivationIndependent = "Pelion.BaseActivation";

class IBaseActivation : public virtual platform::ComObject {
 public:
  virtual HRESULT get_CurrentScope(ULONG* pVal) = 0;
  // (lv, ln, lt): last-visit end, units, span; (be, bn, bt): the blended triple.
  virtual HRESULT GetActivation(DATE t, DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn, ULONG bt,
                                float* activation) = 0;
  virtual HRESULT GetCurrentActivation(DATE lv, ULONG ln, ULONG lt, DATE be, ULONG bn, ULONG bt,
                                       float* activation) = 0;
  // Leaves *pnScale untouched for activations not above 0.01: callers preset it to 0.
  virtual HRESULT GetActivationScale(float fActivation, ULONG* pnScale) = 0;
  virtual HRESULT CalcRankingSet(ULONG ulCurrentScope, ULONG nUnits, ULONG nVisits, DATE start,
                                 DATE end, ULONG WorkingTime, ULONG ActiveTime,
                                 VARIANT_BOOL bCreateSet, ULONG* pScope, ULONG* pWorkingTime,
                                 ULONG* pActiveTime, ULONG* pVisits, DATE* pFirstVisitStart,
                                 DATE* pLastVisitEnd, ULONG* pLastVisitT, ULONG* pLastVisitN,
                                 DATE* pBlendedEnd, ULONG* pBlendedT, ULONG* pBlendedN) = 0;
  // S_OK for IID_IBaseActivation, S_FALSE for any other interface.
  virtual HRESULT InterfaceSupportsErrorInfo(const Guid& riid) = 0;
};

}  // namespace qv
