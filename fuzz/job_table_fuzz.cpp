// Reads arbitrary text as the job table, which outlives the service and may be damaged on
// disk. Every job the reader keeps must be one the writer can store, and the writer's text of
// those jobs must read back as exactly them, with nothing counted as damage.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/scheduler/job_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const JobTableText parsed = ParseJobTable(text);
  for (const auto& job : parsed.jobs) {
    if (!IsStorableJob(job)) __builtin_trap();
  }
  const JobTableText again = ParseJobTable(FormatJobTable(parsed.jobs));
  if (again.badLines != 0 || again.jobs != parsed.jobs) __builtin_trap();
  return 0;
}
