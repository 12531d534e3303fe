// LogEntry throughput against the floor of what it must write: the same record bytes
// appended to a file, measured in the same run. Also the cost of a writer that knows
// nothing of the day file yet (as a new Journal object per visit does), and of reading one
// entry back for the indexer.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/guid.h"
#include "context/test_context.h"
#include "platform/propset/property_set.h"
#include "provider/journal/day_file.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_paths.h"

namespace {

using namespace qv;
using namespace qv::journal;

constexpr DATE kStart = 46000.5;  // 2025-12-09 12:00 UTC

EntryFields WebVisit(int n) {
  EntryFields f;
  f.url = "https://www.example.org/articles/how-the-journal-keeps-its-day-files.html";
  f.start = kStart + n * 1e-7;
  f.end = f.start + 95.0 / 86400.0;
  f.workingTime = 42;
  f.activeTime = 61;
  f.type = kTypeWebPage;
  f.cachedUrl = "history:/0042/articles/how-the-journal-keeps-its-day-files.html";
  f.searchKey = "{3108EFA7-0C78-4930-8542-237B2C341ED2}";
  f.title = "How the journal keeps its day files";
  return f;
}

void BM_LogEntry(benchmark::State& state) {
  TestContext tc;
  Journal journal(tc.ctx(), nullptr);
  int n = 0;
  for (auto _ : state) {
    if (journal.LogEntry(WebVisit(n++), nullptr) != S_OK) state.SkipWithError("LogEntry failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEntry);

// The bytes LogEntry writes for one entry, written the plainest way: the record appended to
// the day file (opened per entry, as each entry is a separate call) and an empty marker.
void BM_RawAppendSameBytes(benchmark::State& state) {
  TestContext tc;
  // The same folder LogEntry uses, so both meet the same file system placement.
  const std::filesystem::path folder = DayFolder(JournalRoot(tc.root()), CivilDay{2025, 12, 9});
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "Journal.q6d";
  Guid id;
  NewGuid(id);
  const std::vector<std::uint8_t> record =
      EncodeDayFileRecord(platform::SerializePropertySet(MakeEntrySet(id, WebVisit(0))));
  int n = 0;
  for (auto _ : state) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size())) {
      state.SkipWithError("append failed");
    }
    ::close(fd);
    const std::string marker = (folder / ("m" + std::to_string(n++) + ".q6j")).string();
    const int m = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::close(m);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["record_bytes"] = static_cast<double>(record.size());
}
BENCHMARK(BM_RawAppendSameBytes);

// A new Journal object for every entry must check the whole day file once: the cost grows
// with the entries the day already holds (state.range(0)).
void BM_LogEntryFreshWriter(benchmark::State& state) {
  TestContext tc;
  {
    Journal filler(tc.ctx(), nullptr);
    for (int n = 0; n < state.range(0); ++n) filler.LogEntry(WebVisit(n), nullptr);
  }
  int n = 0;
  for (auto _ : state) {
    Journal journal(tc.ctx(), nullptr);
    if (journal.LogEntry(WebVisit(n++), nullptr) != S_OK) state.SkipWithError("LogEntry failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEntryFreshWriter)->Arg(0)->Arg(100)->Arg(1000);

// The indexer reads one entry through its marker from a day of state.range(0) entries.
void BM_GetSearchContents(benchmark::State& state) {
  TestContext tc;
  Journal journal(tc.ctx(), nullptr);
  std::string marker;
  for (int n = 0; n < state.range(0); ++n) journal.LogEntry(WebVisit(n), &marker);
  std::string text, description;
  std::uint32_t pst = 0, attn = 0, duration = 0;
  for (auto _ : state) {
    if (journal.GetSearchContents(marker, &text, &pst, &attn, &duration, &description) != S_OK) {
      state.SkipWithError("GetSearchContents failed");
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetSearchContents)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
