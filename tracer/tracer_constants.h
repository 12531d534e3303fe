#pragma once
// The tracer's fixed names, limits and event identifiers, in one place.
#include <chrono>
#include <cstdint>
#include <string_view>

#include "platform/messaging/message_ids.h"

namespace qv::tracer {

// The runtime manager passes this on the command line; without it the tracer does not run.
inline constexpr std::string_view kStartMarker = "QV-5E0A9F27-3B61-4c8d-9E42-A17C0D6B3F58";
// The start gate; its existence marks a running tracer in the logon session.
inline constexpr std::string_view kStartGateName = "Local\\KIV-54EEF7A8-E4B2-4d95-8564-3374F0A403E7";

// InactivityTimeout (seconds) under the user's Vesper key: 10..300, default 20.
inline constexpr std::string_view kInactivityTimeoutValue = "InactivityTimeout";
inline constexpr std::uint32_t kDefaultInactivitySeconds = 20;
inline constexpr std::uint32_t kMinInactivitySeconds = 10;
inline constexpr std::uint32_t kMaxInactivitySeconds = 300;
inline constexpr std::uintptr_t kInactivityTimerId = 1;

// Times in 100 ns units, as FILETIME counts them.
inline constexpr std::uint64_t kTicksPerSecond = 10'000'000;
inline constexpr std::uint64_t kInputCap = 15'000'000;            // 1.5 s per input event
inline constexpr std::uint64_t kBucketFullTotal = 600'000'000;    // 60 s
inline constexpr std::uint64_t kBucketWakeTotal = 300'000'000;    // 30 s
inline constexpr std::size_t kBucketEntries = 30;
inline constexpr std::size_t kBucketWakeEntries = 10;
inline constexpr std::uint64_t kAccountingInterval = 10'000'000;  // passes at most once a second
inline constexpr std::uint32_t kMissingPassesLimit = 3;

// A finished visit is recorded only with at least 2 units (0.4 s) of working time and 1 s of
// duration.
inline constexpr std::uint64_t kTicksPerUnit = 2'000'000;
inline constexpr std::uint64_t kMinUnits = 2;
inline constexpr std::uint64_t kMinDuration = 10'000'000;
// A file URL longer than this is refused.
inline constexpr std::size_t kMaxUrlChars = 2084;
// Schemes are read up to this many characters.
inline constexpr std::size_t kMaxSchemeChars = 32;

// A recorder records what is queued at shutdown for at most this long; the rest is logged.
inline constexpr std::chrono::milliseconds kRecorderDrainBound{20000};
// After the drain bound, workers get this much longer to end (downloads are cancelled); a
// shutdown that still waits then logs what is left and ends without them.
inline constexpr std::chrono::milliseconds kWorkerStopWait{5000};
inline constexpr std::size_t kRecorderQueueLimit = 64;
inline constexpr std::int32_t kRecorderQueueFull = static_cast<std::int32_t>(0x80020013);

// Main window messages of the tracer itself.
inline constexpr std::uint32_t KIVM_STOP = platform::WM_USER + 1;
// Event window messages of the tracer itself.
inline constexpr std::uint32_t KIVM_BROWSER_PANE = platform::WM_USER + 101;
inline constexpr std::uint32_t KIVM_DOCUMENT_OPENED = platform::WM_USER + 102;
inline constexpr std::uint32_t KIVM_TITLE_CHANGED = platform::WM_USER + 103;
inline constexpr std::uint32_t KIVM_DOCUMENT_CLOSED = platform::WM_USER + 104;
inline constexpr std::uint32_t KIVM_WINDOW_GONE = platform::WM_USER + 105;
// A detected item for a known window (wParam = window, lParam = the detection's number).
inline constexpr std::uint32_t KIVM_ITEM_DETECTED = platform::WM_USER + 106;
// WinEvents waiting for the main thread.
inline constexpr std::uint32_t KIVM_WINEVENTS = platform::WM_APP + 1;

// WM_POWERBROADCAST codes.
inline constexpr std::uint64_t PBT_APMSUSPEND = 4;
inline constexpr std::uint64_t PBT_APMRESUMECRITICAL = 6;
inline constexpr std::uint64_t PBT_APMRESUMESUSPEND = 7;

// Visit kinds, in falling precedence.
inline constexpr std::int32_t kKindReported = 0;
inline constexpr std::int32_t kKindBrowserPane = 1;
inline constexpr std::int32_t kKindDocument = 2;

// Event identifiers (category 1).
inline constexpr std::uint32_t kEvPlatformCheck = 0xC0000010;
inline constexpr std::uint32_t kEvSetupFailed = 0xC0000012;
inline constexpr std::uint32_t kEvThreadsTerminated = 0xC0000013;
inline constexpr std::uint32_t kEvFatalStop = 0xC0000014;
inline constexpr std::uint32_t kEvRemoveHooks = 0xC0000015;
inline constexpr std::uint32_t kEvNoLastInput = 0xC0000016;
// Information: the tracer stops for a reason from outside its windows (a signal, the display
// or the session gone); the one string says which.
inline constexpr std::uint32_t kEvStopRequested = 0xC0000017;
inline constexpr std::uint32_t kEvEventWindow = 0xC0000051;
inline constexpr std::uint32_t kEvVisitCopy = 0xC0000052;
inline constexpr std::uint32_t kEvUnknownOperation = 0xC0000053;
inline constexpr std::uint32_t kEvVisitStart = 0xC0000054;
inline constexpr std::uint32_t kEvVisitEnd = 0xC0000055;
inline constexpr std::uint32_t kEvVisitUpdate = 0xC0000056;
inline constexpr std::uint32_t kEvVisitQueue = 0xC0000057;
inline constexpr std::uint32_t kEvRecorderStart = 0xC0000058;
inline constexpr std::uint32_t kEvCriticalResumeDrop = 0xC0000059;
inline constexpr std::uint32_t kEvAccountingStart = 0xC000006C;

}  // namespace qv::tracer
