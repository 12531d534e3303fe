#pragma once
// The announcement of a new journal entry to the journal view windows of its day: a
// 32-byte block with the entry's GUID and the local start time of the visit, sent as
// WM_COPYDATA to every message-only window of class "QvJournalNotifications" whose window
// name is the entry's day key.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/guid.h"
#include "common/oledate.h"

namespace qv::journal {

inline constexpr std::string_view kNotificationWindowClass = "QvJournalNotifications";
inline constexpr std::size_t kNotificationSize = 32;
inline constexpr std::uint64_t kNotificationDwData = 0;
inline constexpr std::chrono::milliseconds kNotificationTimeout{5000};

// A calendar moment in the SYSTEMTIME layout (day of week 0 = Sunday).
struct SystemTime {
  std::uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
  std::uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
  friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

// The local time (current time zone) of a UTC date; nullopt for a date that is not valid.
// Its day is the day the journal files the entry under.
std::optional<SystemTime> LocalSystemTimeOf(DATE utc);
inline CivilDay DayOf(const SystemTime& t) { return CivilDay{t.year, t.month, t.day}; }

using NotificationBlock = std::array<std::uint8_t, kNotificationSize>;

// GUID (16 bytes as COM lays it out), then the eight 16-bit SYSTEMTIME fields, little-endian.
NotificationBlock EncodeNotification(const Guid& entry, const SystemTime& localStart);
// For receivers: nullopt unless the block is exactly 32 bytes.
struct Notification {
  Guid entry;
  SystemTime localStart;
};
std::optional<Notification> DecodeNotification(std::span<const std::uint8_t> block);

// Delivers a new entry's notification to the day's listening windows. Delivery is best
// effort: a window that does not answer does not stop the others, and nothing is reported
// back to the journal.
class JournalNotifier {
 public:
  virtual ~JournalNotifier() = default;
  virtual void Notify(std::string_view dayKey, const NotificationBlock& block) = 0;
};

}  // namespace qv::journal
