// Reads arbitrary text as a line of the event log, which every program of the user appends
// to and which may be cut short by a crash. A line that reads must write back as a line that
// reads, and from then on the same line each time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/eventlog/json_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  EventRecord rec;
  if (!ParseEventLine(line, rec)) return 0;
  const std::string once = FormatEventLine(rec);
  if (once.empty() || once.back() != '\n' || once.find('\n') != once.size() - 1) __builtin_trap();
  EventRecord again;
  if (!ParseEventLine(once, again)) __builtin_trap();
  const std::string twice = FormatEventLine(again);
  EventRecord third;
  if (!ParseEventLine(twice, third) || FormatEventLine(third) != twice) __builtin_trap();
  return 0;
}
