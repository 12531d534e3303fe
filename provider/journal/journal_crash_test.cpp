// Writers that die in the middle of LogEntry, and writers that race for one day file, in
// separate processes.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "context/test_context.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_paths.h"
#include "provider/journal/unique_fd.h"

namespace qv::journal {
namespace {

constexpr DATE kStart = 45700.25;  // 2025-02-12 06:00 UTC, the same local day in any zone near UTC

std::string Title(int writer, int n) {
  return "entry-" + std::to_string(writer) + "-" + std::to_string(n);
}

// Runs in the child: appends entries until `count` are written (or forever when 0) and
// reports each finished one's marker on `out`, one per line. Never returns.
[[noreturn]] void WriteEntries(const Context& ctx, int writer, int count, int out) {
  Journal journal(ctx, nullptr);
  const std::string url = "/home/user/doc-" + std::to_string(writer) + ".txt";
  for (int n = 0; count == 0 || n < count; ++n) {
    EntryFields f;
    f.url = url;
    f.start = kStart + n * 1e-6;
    f.end = f.start + 1e-4;
    f.workingTime = 3;
    const std::string title = Title(writer, n);
    f.title = title;
    std::string marker;
    if (journal.LogEntry(f, &marker) != S_OK) ::_exit(2);
    const std::string line = marker + "\n";
    for (std::size_t done = 0; done < line.size();) {
      const ssize_t w = ::write(out, line.data() + done, line.size() - done);
      if (w <= 0) ::_exit(3);
      done += static_cast<std::size_t>(w);
    }
  }
  ::_exit(0);
}

struct Child {
  pid_t pid = -1;
  UniqueFd pipe;
  std::string buffered;
  std::vector<std::string> markers;  // complete lines only

  // Reads what is there; false at end of file.
  bool Pump() {
    char buf[4096];
    const ssize_t n = ::read(pipe.get(), buf, sizeof buf);
    if (n <= 0) return false;
    buffered.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = buffered.find('\n')) != std::string::npos;) {
      markers.push_back(buffered.substr(0, nl));
      buffered.erase(0, nl + 1);
    }
    return true;
  }
  void Drain() {
    while (Pump()) {
    }
  }
};

Child Spawn(const Context& ctx, int writer, int count) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    WriteEntries(ctx, writer, count, fds[1]);
  }
  ::close(fds[1]);
  Child c;
  c.pid = pid;
  c.pipe.Reset(fds[0]);
  return c;
}

// Reads the child's reports for about `ms` milliseconds while it keeps writing.
void PumpFor(Child& c, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    pollfd p{c.pipe.get(), POLLIN, 0};
    if (::poll(&p, 1, 1) > 0 && !c.Pump()) return;
  }
}

struct DayFileWalk {
  std::size_t records = 0;
  DayFileTail tail = DayFileTail::Clean;
  std::size_t skipped = 0;
};

DayFileWalk WalkDayFile(const std::filesystem::path& file) {
  std::vector<std::uint8_t> image;
  EXPECT_EQ(ReadDayFileImage(file, image), S_OK);
  EXPECT_EQ(CheckDayFileHeader(image), S_OK);
  DayFileWalk w;
  DayFileReader reader(image, dayfile::kFileHeaderSize);
  DayFileRecord r;
  while (reader.Next(r)) ++w.records;
  w.tail = reader.tail();
  w.skipped = reader.skippedBytes();
  return w;
}

class JournalCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) oldTz_ = tz;
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
  void TearDown() override {
    if (oldTz_) ::setenv("TZ", oldTz_->c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }

  // Every reported entry is found whole through its marker.
  void ExpectReadable(const std::vector<std::string>& markers, int writer) {
    Journal reader(test_.ctx(), nullptr);
    for (std::size_t n = 0; n < markers.size(); ++n) {
      std::string text;
      std::uint32_t attn = 0;
      ASSERT_EQ(reader.GetSearchContents(markers[n], &text, nullptr, &attn, nullptr, nullptr), S_OK)
          << markers[n];
      EXPECT_NE(text.find(" \r\n" + Title(writer, static_cast<int>(n)) + " \r\n"),
                std::string::npos)
          << text;
      EXPECT_EQ(attn, 15u);
    }
  }

  std::filesystem::path DayFile() const {
    return DayFolder(JournalRoot(test_.root()), CivilDay{2025, 2, 12}) / kDayFileName;
  }

  TestContext test_;
  std::optional<std::string> oldTz_;
};

TEST_F(JournalCrashTest, AWriterKilledMidAppendLosesNoEarlierEntry) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::size_t reported = 0;
  for (int round = 0; round < 8; ++round) {
    Child child = Spawn(test_.ctx(), round, 0);
    // Let the writer get going, then kill it at a random moment.
    while (child.markers.empty() && child.Pump()) {
    }
    PumpFor(child, std::uniform_int_distribution<int>(0, 40)(random));
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << status;
    child.Drain();
    ASSERT_FALSE(child.markers.empty()) << "round " << round;
    ExpectReadable(child.markers, round);

    // Every reported entry is in the file, and at most one more (written but not yet
    // reported when the kill came); a torn one is cut off; nothing is damaged.
    const DayFileWalk before = WalkDayFile(DayFile());
    EXPECT_GE(before.records, reported + child.markers.size());
    EXPECT_LE(before.records, reported + child.markers.size() + 1);
    EXPECT_NE(before.tail, DayFileTail::Damaged);
    EXPECT_EQ(before.skipped, 0u);
    reported = before.records;

    // The next writer follows cleanly.
    Journal next(test_.ctx(), nullptr);
    EntryFields f;
    f.url = "/after/the/crash";
    f.start = kStart;
    f.end = kStart;
    std::string marker, text;
    ASSERT_EQ(next.LogEntry(f, &marker), S_OK);
    ASSERT_EQ(next.GetSearchContents(marker, &text, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(text, "/after/the/crash \r\n");
    const DayFileWalk after = WalkDayFile(DayFile());
    EXPECT_EQ(after.records, reported + 1);
    EXPECT_EQ(after.tail, DayFileTail::Clean);
    reported = after.records;
  }
}

TEST_F(JournalCrashTest, AWriterKilledInsideARecordLeavesATailTheNextOneCuts) {
  // Stand-in for a kill inside write(2): the file ends in a strict prefix of a record.
  Journal journal(test_.ctx(), nullptr);
  EntryFields f;
  f.url = "/doc";
  f.start = kStart;
  f.end = kStart;
  std::string first;
  ASSERT_EQ(journal.LogEntry(f, &first), S_OK);
  const auto sizeBefore = std::filesystem::file_size(DayFile());
  const std::vector<std::uint8_t> lost = EncodeDayFileRecord(std::vector<std::uint8_t>(200, 0xAB));
  {
    std::ofstream out(DayFile(), std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(lost.data()), 77);
  }
  EXPECT_EQ(WalkDayFile(DayFile()).tail, DayFileTail::Torn);

  Journal other(test_.ctx(), nullptr);  // knows nothing about the file yet
  std::string second;
  ASSERT_EQ(other.LogEntry(f, &second), S_OK);
  const DayFileWalk w = WalkDayFile(DayFile());
  EXPECT_EQ(w.records, 2u);
  EXPECT_EQ(w.tail, DayFileTail::Clean);
  EXPECT_EQ(w.skipped, 0u);
  EXPECT_GT(std::filesystem::file_size(DayFile()), sizeBefore);
  std::string text;
  EXPECT_EQ(other.GetSearchContents(first, &text, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(other.GetSearchContents(second, &text, nullptr, nullptr, nullptr, nullptr), S_OK);
}

TEST_F(JournalCrashTest, TwoProcessesAppendingToOneDayLoseNothing) {
  constexpr int kPerWriter = 300;
  Child children[2] = {Spawn(test_.ctx(), 0, kPerWriter), Spawn(test_.ctx(), 1, kPerWriter)};
  bool open[2] = {true, true};
  while (open[0] || open[1]) {
    pollfd p[2] = {{children[0].pipe.get(), POLLIN, 0}, {children[1].pipe.get(), POLLIN, 0}};
    ASSERT_GE(::poll(p, 2, 10'000), 0);
    for (int i = 0; i < 2; ++i) {
      if (open[i] && (p[i].revents & (POLLIN | POLLHUP))) open[i] = children[i].Pump();
    }
  }
  std::set<std::string> distinct;
  for (int i = 0; i < 2; ++i) {
    int status = 0;
    ::waitpid(children[i].pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << i << ": " << status;
    ASSERT_EQ(children[i].markers.size(), static_cast<std::size_t>(kPerWriter));
    ExpectReadable(children[i].markers, i);
    distinct.insert(children[i].markers.begin(), children[i].markers.end());
  }
  EXPECT_EQ(distinct.size(), 2u * kPerWriter);
  const DayFileWalk w = WalkDayFile(DayFile());
  EXPECT_EQ(w.records, 2u * kPerWriter);
  EXPECT_EQ(w.tail, DayFileTail::Clean);
  EXPECT_EQ(w.skipped, 0u);
}

}  // namespace
}  // namespace qv::journal
