#pragma once
// Events and limits of visit recording.
#include <chrono>
#include <cstdint>

#include "common/hresult.h"

namespace qv::tracer {

inline constexpr std::uint32_t kEventVisitNotRecorded = 0xC0000057;
inline constexpr std::uint32_t kEventJournalFailed = 0xC000005B;
inline constexpr std::uint32_t kEventRankFailed = 0xC000005C;
inline constexpr std::uint32_t kEventMailObjectFailed = 0xC000005D;
inline constexpr std::uint32_t kEventMailReadFailed = 0xC000005E;
inline constexpr std::uint32_t kEventMailWriteFailed = 0xC000005F;

// The running object table answers "not running".
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeHr(0x800401E3);
// How long the recorder waits for the mail add-in's read or write.
inline constexpr std::chrono::milliseconds kMailCallLimit{5000};
// Mail identifiers that stand for a folder, not an item.
inline constexpr std::string_view kOutlookFolderPrefix = "outlook:\\";
inline constexpr std::string_view kMailRankingRotPrefix = "!Qv.OtlRanking.";

}  // namespace qv::tracer
