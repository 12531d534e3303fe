#pragma once
// The message protocol into the tracer's two windows, for every message that comes from
// outside the tracer, and the visit message carried by WM_COPYDATA.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/messaging/message_ids.h"

namespace qv::hooks {

// The tracer's hidden top-level window and its message-only event window.
inline constexpr std::string_view kTracerWindowClass = "QvTracerWindow";
inline constexpr std::string_view kTracerWindowTitle = "QvTracer";
inline constexpr std::string_view kTracerEventWindowClass = "QvTracerEventWindow";
// The runtime manager's window, told when the tracer records a visit.
inline constexpr std::string_view kHostWindowClass = "QvHostWindow";

// To "QvTracerWindow".
inline constexpr std::uint32_t KIVM_LOCK_STATE = platform::WM_USER + 2;
inline constexpr std::uint32_t KIVM_SHUTDOWN = platform::WM_USER + 3;
inline constexpr std::uint32_t KIVM_INPUT = platform::WM_USER + 4;
// To "QvTracerEventWindow" (besides WM_COPYDATA).
inline constexpr std::uint32_t KIVM_END_MAIL_VISITS = platform::WM_USER + 151;
// From the tracer to "QvHostWindow": wParam 1 recording begins, 2 recording ended.
inline constexpr std::uint32_t KIVM_TRACER_BUSY = platform::WM_USER + 152;
inline constexpr std::uint64_t kTracerBusyBegin = 1;
inline constexpr std::uint64_t kTracerBusyEnd = 2;
// Signalled by the tracer while no mail visit waits to be recorded; the mail add-in waits on
// it at its shutdown, after KIVM_END_MAIL_VISITS.
inline constexpr std::string_view kMailVisitsEventName =
    "Local\\QV-F0EED634-879D-4b07-BC43-77911E085926";

// KIVM_LOCK_STATE wParam.
inline constexpr std::uint64_t kLockStateLocked = 0;
inline constexpr std::uint64_t kLockStateUnlocked = 1;
inline constexpr std::uint64_t kLockStateScreenSaverStarted = 2;
inline constexpr std::uint64_t kLockStateScreenSaverStopped = 3;

// KIVM_INPUT wParam.
inline constexpr std::uint64_t kInputKeyboard = 0;
inline constexpr std::uint64_t kInputMouse = 1;

// Visit operations: the low word of the copy data's dwData.
inline constexpr std::uint32_t KIV_VISIT_START = 0;
inline constexpr std::uint32_t KIV_VISIT_END = 1;
inline constexpr std::uint32_t KIV_VISIT_UPDATE = 2;

// Visit flags: the high word of dwData.
inline constexpr std::uint32_t KIV_VF_TRACK = 0x01;
inline constexpr std::uint32_t KIV_VF_NOTRACK = 0x02;
inline constexpr std::uint32_t KIV_VF_NORANK = 0x10;
inline constexpr std::uint32_t KIV_VF_NOJOURNAL = 0x20;
inline constexpr std::uint32_t kVisitTrackingMask = 0x0F;   // bits 0-3
inline constexpr std::uint32_t kVisitRecordingMask = 0xF0;  // bits 4-7

constexpr std::uint64_t VisitDwData(std::uint32_t operation, std::uint32_t flags) {
  return (static_cast<std::uint64_t>(flags & 0xFFFFu) << 16) | (operation & 0xFFFFu);
}
constexpr std::uint32_t VisitOperation(std::uint64_t dwData) { return dwData & 0xFFFFu; }
constexpr std::uint32_t VisitFlags(std::uint64_t dwData) { return (dwData >> 16) & 0xFFFFu; }

// The tracer reads an identifier only from blocks of 3..0xFFFD bytes with a non-null
// pointer, taking cbData / 2 - 1 UTF-16 characters.
inline constexpr std::size_t kMinVisitDataBytes = 3;
inline constexpr std::size_t kMaxVisitDataBytes = 0xFFFD;
// So the longest item string a visit call accepts, in UTF-16 units without the NUL.
inline constexpr std::size_t kMaxVisitItemChars = kMaxVisitDataBytes / 2 - 1;

// Every visit message waits at most this long.
inline constexpr std::uint32_t kVisitSendTimeoutMs = 5000;

// HRESULT of a second KivInstallInputHooks while both hooks are installed.
inline constexpr std::int32_t kHooksAlreadyInstalled = static_cast<std::int32_t>(0x800401FC);

}  // namespace qv::hooks
