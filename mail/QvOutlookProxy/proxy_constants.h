#pragma once
// The mail proxy's identity and limits.
#include <chrono>
#include <string_view>

#include "common/guid.h"

namespace qv::mail {

inline constexpr Guid CLSID_CIProxy = {0x6681E2F0, 0xF78D, 0x4345,
                                       {0xAD, 0x66, 0x73, 0x78, 0x7A, 0x42, 0x7F, 0xF7}};
inline constexpr Guid LIBID_QvOutlookProxy = {0x096BE06B, 0x7BB2, 0x4337,
                                              {0x8B, 0xE1, 0x2B, 0x8B, 0x1A, 0xDB, 0xBA, 0x4D}};
inline constexpr Guid APPID_QvOutlookProxy = {0xEC5F66C7, 0xA25E, 0x4207,
                                              {0xBD, 0x30, 0x4D, 0xA1, 0xE9, 0xD8, 0xB9, 0x22}};
inline constexpr Guid IID_IKivCIProxy = {0x83B2B146, 0x1FE6, 0x4213,
                                         {0x89, 0x9C, 0x6B, 0x46, 0x4F, 0x50, 0xE6, 0x76}};
inline constexpr std::string_view kProxyProgId = "QvOutlookProxy.CIProxy.1";
inline constexpr std::string_view kProxyProgIdIndependent = "QvOutlookProxy.CIProxy";
inline constexpr std::string_view kProxyAppName = "QvOutlookProxy.EXE";
inline constexpr std::string_view kProxyClassName = "CIProxy";

// The running program's class object: what a client asks to add or remove scopes.
inline constexpr std::string_view kProxyClassObjectName = "!Qv.Class.QvOutlookProxy.CIProxy";

// How long a forwarded call waits for the add-in before it is cancelled (E_ABORT).
inline constexpr std::chrono::milliseconds kAddInCallLimit{5000};
// When the watchdog cancels a forwarded call that is still running.
inline constexpr std::chrono::milliseconds kWatchdogLimit{7000};
// How long the program stays after its last object went, in case another arrives.
inline constexpr std::chrono::milliseconds kIdleExitDelay{5000};

}  // namespace qv::mail
