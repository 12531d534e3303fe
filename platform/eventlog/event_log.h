#pragma once
// The Application event log: JSON lines appended to QV_ROOT/eventlog/Application.log, each
// event written with a single write(2) on an O_APPEND descriptor so that concurrent writers
// never interleave. The log rotates at kLogSizeLimit, keeping one previous file beside it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/clock.h"

namespace qv::platform {

enum class EventType : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

struct EventRecord {
  FileTime time = 0;
  std::string source;
  EventType type = EventType::Error;
  std::uint16_t category = 0;
  std::uint32_t eventId = 0;
  std::vector<std::string> strings;  // at most kMaxInsertionStrings
};

inline constexpr std::size_t kMaxInsertionStrings = 32;

class EventLog {
 public:
  EventLog(std::filesystem::path root, const Clock& clock);
  // Registers, reports and deregisters in one go; a failure to write is swallowed, since
  // reporting never changes the result of the operation that reports.
  void Report(std::string_view source, EventType type, std::uint16_t category,
              std::uint32_t eventId, const std::vector<std::string>& strings) const;
  // Every event in the log and its previous file, oldest first; lines that do not parse are
  // skipped.
  std::vector<EventRecord> ReadAll() const;
  std::filesystem::path path() const;

 private:
  std::filesystem::path root_;
  const Clock& clock_;
};

}  // namespace qv::platform
