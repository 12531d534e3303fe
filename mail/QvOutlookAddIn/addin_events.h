#pragma once
// The add-in's event identifiers for its ranking data and store shortcuts, in one place.
#include <cstdint>

#include "context/event_report.h"

namespace qv::mail::addin {

// The add-in writes its events under the tracer's category: it reports what the user did.
inline constexpr std::uint16_t kAddInCategory = kCategoryTracer;

inline constexpr std::uint32_t kEventSettingsUnreadable = 0xC0000317;   // store's Settings
inline constexpr std::uint32_t kEventFolderIdFailed = 0xC0000318;       // default folder ids
inline constexpr std::uint32_t kEventRootFolderIdFailed = 0xC0000319;   // root-folder entries
inline constexpr std::uint32_t kEventReceiveFolderFailed = 0xC000031A;  // the Inbox
inline constexpr std::uint32_t kEventShortcutFailed = 0xC000031C;       // path, open, times
inline constexpr std::uint32_t kEventBucketFolderFailed = 0xC000031D;
inline constexpr std::uint32_t kEventPendingWriteFailed = 0xC000031E;
inline constexpr std::uint32_t kEventPendingReadFailed = 0xC000031F;
inline constexpr std::uint32_t kEventShortcutCutFailed = 0xC0000320;
inline constexpr std::uint32_t kEventItemWriteFailed = 0xC0000321;
inline constexpr std::uint32_t kEventShortcutDeleteFailed = 0xC0000322;
inline constexpr std::uint32_t kEventDirWalkFailed = 0xC0000326;
inline constexpr std::uint32_t kEventDirWalkDeleteFailed = 0xC0000327;

}  // namespace qv::mail::addin
