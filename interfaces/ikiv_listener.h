#pragma once
// IKivListener: the ranking service's entry for updates that met a locked file, and for the
// catalog maintenance that needs the service.
#include <string>

#include "interfaces/ibase_activation.h"

namespace qv {

inline constexpr Guid CLSID_KivListener =
    MakeGuid(0x5ABA3600, 0xBCAC, 0x4D7E, 0xAB, 0x6B, 0xC2, 0x05, 0x55, 0xA6, 0x0D, 0x00);
inline constexpr Guid IID_IKivListener =
    MakeGuid(0x1C4DC0D7, 0x6A49, 0x4FB7, 0xB7, 0x88, 0x6A, 0x90, 0x52, 0x97, 0x9E, 0x46);

class IKivListener : public virtual platform::ComObject {
 public:
  // The ten values of the update that met the lock, unchanged; ulRetry counts the attempts.
  virtual HRESULT UpdatePending(const std::string* bstrFile, ULONG nUnits, ULONG nVisits,
                                DATE dtStart, DATE dtFinish, ULONG ulWorkingTime,
                                ULONG ulActiveTime, ULONG lScope, ULONG ulRetry,
                                const std::string* bstrSearchKey) = 0;
  // Queues a check of the shared catalogs of a data folder; returns once queued.
  virtual HRESULT CfgVerify(const std::string* bstrDir, VARIANT_BOOL bRescan) = 0;
  // Deletes a stale shortcut file on behalf of the indexer.
  virtual HRESULT DeleteStale(const std::string* bstrFile) = 0;
  // Queues the set-up of the private mail catalogs of a mail profile; returns once queued.
  virtual HRESULT OtlProfile(const std::string* ProfileName, const std::string* ScopeRoot,
                             const std::string* PSTs) = 0;
  // Takes the mail catalogs that cover a folder out of service.
  virtual HRESULT OtlStopScope(const std::string* Directory) = 0;
};

}  // namespace qv
