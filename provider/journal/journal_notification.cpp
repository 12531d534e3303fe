#include "provider/journal/journal_notification.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace qv::journal {
namespace {

void StoreLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint16_t LoadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

std::optional<SystemTime> LocalSystemTimeOf(DATE utc) {
  if (!IsValidDate(utc)) return std::nullopt;
  // Dates are days in a double, so midnight may come out a hair before it: round to the
  // millisecond first, then count whole seconds downwards (23:59:59.9 is still that day).
  const double ms = std::round(DateToUnixSeconds(utc) * 1000.0);
  const double whole = std::floor(ms / 1000.0);
  const time_t t = static_cast<time_t>(whole);
  tm local{};
  if (!localtime_r(&t, &local)) return std::nullopt;
  if (local.tm_year + 1900 < 1601 || local.tm_year + 1900 > 30827) return std::nullopt;
  SystemTime st;
  st.year = static_cast<std::uint16_t>(local.tm_year + 1900);
  st.month = static_cast<std::uint16_t>(local.tm_mon + 1);
  st.dayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
  st.day = static_cast<std::uint16_t>(local.tm_mday);
  st.hour = static_cast<std::uint16_t>(local.tm_hour);
  st.minute = static_cast<std::uint16_t>(local.tm_min);
  st.second = static_cast<std::uint16_t>(local.tm_sec);
  st.milliseconds = static_cast<std::uint16_t>(ms - whole * 1000.0);
  return st;
}

NotificationBlock EncodeNotification(const Guid& entry, const SystemTime& s) {
  NotificationBlock block{};
  const auto guid = GuidToBytes(entry);
  std::copy(guid.begin(), guid.end(), block.begin());
  const std::uint16_t fields[8] = {s.year, s.month, s.dayOfWeek, s.day,
                                   s.hour, s.minute, s.second, s.milliseconds};
  for (std::size_t i = 0; i < 8; ++i) StoreLe16(block.data() + kGuidByteLength + 2 * i, fields[i]);
  return block;
}

std::optional<Notification> DecodeNotification(std::span<const std::uint8_t> block) {
  if (block.size() != kNotificationSize) return std::nullopt;
  Notification n;
  n.entry = GuidFromBytes(block.first<kGuidByteLength>());
  std::uint16_t f[8];
  for (std::size_t i = 0; i < 8; ++i) f[i] = LoadLe16(block.data() + kGuidByteLength + 2 * i);
  n.localStart = SystemTime{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
  return n;
}

}  // namespace qv::journal
