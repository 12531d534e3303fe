#pragma once
// IKivFileRanking: the ranking record kept on a file.
#include <string>

#include "interfaces/ibase_activation.h"

namespace qv {

inline constexpr Guid CLSID_FileRanking =
    MakeGuid(0x9C2D9A10, 0xA30E, 0x4406, 0x94, 0x06, 0xD7, 0x9C, 0x60, 0x28, 0x62, 0xCE);
inline constexpr Guid IID_IKivFileRanking =
    MakeGuid(0x66E147D3, 0x5AD8, 0x4BDE, 0x86, 0x91, 0xAB, 0x9E, 0x26, 0x18, 0xAF, 0x41);
inline constexpr const char* kProgIdFileRanking = "Pelion.FileRanking.1";
inline constexpr const char* kProgIdFileRankingIndependent = "Pelion.FileRanking";

// BSTR parameters: a null pointer stands for a null BSTR.
class IKivFileRanking : public virtual platform::ComObject {
 public:
  virtual HRESULT UpdateRank(const std::string* bstrFile, ULONG nUnits, ULONG nVisits,
                             DATE dtStart, DATE dtFinish, ULONG ulWorkingTime,
                             ULONG ulActiveTime, ULONG lScope, ULONG ulRetry,
                             const std::string* bstrSearchKey) = 0;
  virtual HRESULT IsLockViolation(ULONG hr) = 0;
  virtual HRESULT IsUpdateable(const std::string* bstrFile) = 0;
  virtual HRESULT AccessCheck(const std::string* bstrFile, VARIANT_BOOL bCOMClient) = 0;
  virtual HRESULT GetStatistics(const std::string* bstrFile, VARIANT_BOOL* pbValidSet,
                                std::string* bstrSearchKey, ULONG* pWorkingTime,
                                ULONG* pActiveTime, ULONG* pVisits, DATE* pFirstVisit,
                                DATE* pLastVisit, float* pfActivation,
                                ULONG* pForgetingScale) = 0;
  virtual HRESULT GetRankingSet(const std::string* bstrFile, VARIANT_BOOL* pbValidSet,
                                Guid* pSearchKey, ULONG* pdwScope, ULONG* plWorkingTime,
                                ULONG* plActiveTime, ULONG* plVisits, DATE* pdFirstVisitStart,
                                DATE* pdLastVisitEnd, ULONG* plLvT, ULONG* plLvN,
                                DATE* pdBlVisitEnd, ULONG* plBlT, ULONG* plBlN) = 0;
  virtual HRESULT DeleteRank(const std::string* bstrFile) = 0;
  virtual HRESULT get_CurrentScope(ULONG* pVal) = 0;
  // *pbstrSearchKey: an empty string stands for a null BSTR on entry.
  virtual HRESULT PreRank(const std::string* bstrFile, ULONG* pulScope,
                          std::string* pbstrSearchKey, VARIANT_BOOL* pSetNotFound) = 0;
};

}  // namespace qv
