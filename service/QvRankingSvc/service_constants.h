#pragma once
// The ranking service's names, method numbers, results and events, in one place.
#include <chrono>
#include <cstdint>
#include <string_view>

#include "common/guid.h"
#include "common/hresult.h"

namespace qv::service {

inline constexpr std::string_view kServiceName = "QvRankingSvc";
inline constexpr std::string_view kDisplayName = "Quillon Vesper Service";
inline constexpr std::string_view kServiceDescription =
    "Provides support for ongoing ranking of local documents, E-mails and visited Web pages";
inline constexpr std::string_view kListenerName = "Quillon Ranking Listener";
inline constexpr Guid APPID_QvRankingSvc =
    MakeGuid(0x9D797461, 0x1352, 0x412D, 0xA4, 0x63, 0xB4, 0xE4, 0x74, 0xB7, 0xF2, 0x41);
inline constexpr Guid IID_AsyncIKivListener =
    MakeGuid(0x5C8518E5, 0x586C, 0x4CF3, 0xB3, 0x85, 0x12, 0x09, 0xF6, 0xB5, 0x10, 0xF8);
inline constexpr Guid LIBID_KivSvcLib =
    MakeGuid(0x8F402B36, 0xBD94, 0x43FF, 0xA5, 0x32, 0x19, 0x36, 0xF6, 0x40, 0xDE, 0x27);

// The service's files in the user's runtime folder: the socket clients call, and the lock
// whose holder is the one running service.
inline constexpr std::string_view kSocketFileName = "ranking-service.sock";
inline constexpr std::string_view kLockFileName = "ranking-service.lock";

// Method numbers: the interface's slots after IUnknown, in order; Stop is the service's own.
enum class Method : std::uint32_t {
  UpdatePending = 1,
  CfgVerify = 2,
  DeleteStale = 3,
  OtlProfile = 4,
  OtlStopScope = 5,
  Stop = 100,  // asks the service to stop in order (QvRankingSvc --stop)
};

inline constexpr HRESULT E_PENDING = MakeHr(0x8000000A);
// Queueing while the catalog worker is not running: nobody would serve the request.
inline constexpr HRESULT kWorkerNotRunning = HresultFromWin32(1062);  // ERROR_SERVICE_NOT_ACTIVE

inline constexpr std::size_t kCatalogQueueLimit = 64;
inline constexpr std::chrono::milliseconds kWorkerStopWait{10'000};

// Events, all in category 2 under the system's source.
inline constexpr std::uint32_t kEventWorkerFailed = 0xC0000012;     // error: code, text
inline constexpr std::uint32_t kEventWorkerAbandoned = 0xC0000013;  // warning: none
inline constexpr std::uint32_t kEventCatalogCallFailed = 0xC0000025;  // warning: code, text
// A process of another user reached the service's socket: socket path, uid, pid.
inline constexpr std::uint32_t kEventForeignCallerRefused = 0xC0000070;

}  // namespace qv::service
