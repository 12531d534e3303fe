#include "platform/eventlog/event_log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "common/temp_dir.h"
#include "common/utf.h"
#include "platform/eventlog/json_line.h"
#include "platform/fs/log_rotation.h"
#include "platform/fs/umask_guard.h"

namespace qv::platform {
namespace {

TEST(EventLog, RoundTripsAwkwardStringsAndKeepsOrder) {
  TempDir dir;
  ManualClock clock;
  clock.SetNowDate(*ParseIsoDate("2026-12-07T10:00:00Z"));
  EventLog log(dir.path(), clock);
  log.Report("Quillon Vesper", EventType::Error, 2, 0xC000001F,
             {"Pelion.BaseActivation::CalcRankingSet", "0x80070057", "quote \" back \\ nl \n\x01"});
  log.Report("Quillon Vesper", EventType::Warning, 1, 0xC0000410, {});
  const auto all = log.ReadAll();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].eventId, 0xC000001Fu);
  EXPECT_EQ(all[0].category, 2);
  EXPECT_EQ(all[0].type, EventType::Error);
  ASSERT_EQ(all[0].strings.size(), 3u);
  EXPECT_EQ(all[0].strings[2], "quote \" back \\ nl \n\x01");
  EXPECT_EQ(all[0].time, clock.Now());
  EXPECT_EQ(all[1].type, EventType::Warning);
  EXPECT_TRUE(all[1].strings.empty());
}

// A file name that is not UTF-8 keeps the line valid JSON (escaped as \udc80..\udcff) and
// comes back as the same bytes.
TEST(EventLog, FileNamesThatAreNotUtf8StayValidJsonAndComeBackExactly) {
  EventRecord rec;
  rec.source = "Quillon Vesper";
  const std::string name = "/home/u/caf\xE9 \xFF\xC3\xA9 \xE6\x97\xA5.txt";
  rec.strings = {name, "0x80030005"};
  const std::string line = FormatEventLine(rec);
  bool valid = false;
  Utf8ToUtf16(line, &valid);
  EXPECT_TRUE(valid) << line;
  EXPECT_NE(line.find("caf\\udce9 \\udcff\xC3\xA9 \xE6\x97\xA5"), std::string::npos) << line;
  EventRecord back;
  ASSERT_TRUE(ParseEventLine(line, back));
  EXPECT_EQ(back.strings, rec.strings);
  // Escapes other writers use for characters are read as those characters.
  ASSERT_TRUE(ParseEventLine(R"({"strings":["caf\u00e9 \u20ac"]})", back));
  EXPECT_EQ(back.strings.at(0), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_FALSE(ParseEventLine(R"({"strings":["\ud800"]})", back));
  EXPECT_FALSE(ParseEventLine(R"({"strings":["\u12x4"]})", back));
}

TEST(EventLog, KeepsAtMostThirtyTwoInsertionStrings) {
  TempDir dir;
  SystemClock clock;
  EventLog log(dir.path(), clock);
  log.Report("s", EventType::Information, 0, 1, std::vector<std::string>(40, "x"));
  EXPECT_EQ(log.ReadAll().at(0).strings.size(), kMaxInsertionStrings);
}

TEST(EventLog, SkipsLinesThatDoNotParse) {
  EventRecord rec;
  EXPECT_FALSE(ParseEventLine("{\"time\":\"garbage\"}", rec));
  EXPECT_FALSE(ParseEventLine("{\"strings\":[\"unterminated]}", rec));
  EXPECT_FALSE(ParseEventLine("", rec));
}

TEST(EventLog, ConcurrentWritersNeverInterleave) {
  TempDir dir;
  constexpr int kProcs = 4, kEach = 300;
  for (int p = 0; p < kProcs; ++p) {
    if (fork() == 0) {
      SystemClock clock;
      EventLog log(dir.path(), clock);
      for (int i = 0; i < kEach; ++i) {
        log.Report("w", EventType::Information, 0, static_cast<std::uint32_t>(p),
                   {std::to_string(i), std::string(500, 'a' + p)});
      }
      _exit(0);
    }
  }
  for (int p = 0; p < kProcs; ++p) {
    int status = 0;
    wait(&status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SystemClock clock;
  const auto all = EventLog(dir.path(), clock).ReadAll();
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kProcs * kEach));
  std::set<std::pair<std::uint32_t, std::string>> seen;
  for (const auto& r : all) {
    ASSERT_EQ(r.strings.size(), 2u);
    EXPECT_EQ(r.strings[1], std::string(500, static_cast<char>('a' + r.eventId)));
    seen.insert({r.eventId, r.strings[0]});
  }
  EXPECT_EQ(seen.size(), all.size());
}

TEST(EventLog, IsTheUsersAloneAndRotatesAtItsLimitKeepingThePreviousEvents) {
  TempDir dir;
  UmaskGuard guard(022);
  SystemClock clock;
  EventLog log(dir.path() / "root", clock);
  log.Report("s", EventType::Warning, 0, 1, {"before"});
  EXPECT_EQ(ModeOf(log.path().c_str()), 0600);
  EXPECT_EQ(ModeOf(log.path().parent_path().c_str()), 0700);
  EXPECT_EQ(ModeOf((dir.path() / "root").c_str()), 0700);

  // A log at its limit: the next event begins a new one, and both are read.
  {
    std::ofstream out(log.path(), std::ios::app);
    const std::string filler = "not an event\n";
    for (std::uint64_t n = 0; n < kLogSizeLimit; n += filler.size()) out << filler;
  }
  log.Report("s", EventType::Warning, 0, 2, {"after"});
  EXPECT_LT(std::filesystem::file_size(log.path()), 1000u);
  EXPECT_GE(std::filesystem::file_size(PreviousLogPath(log.path())), kLogSizeLimit);
  EXPECT_EQ(ModeOf(log.path().c_str()), 0600);
  const auto all = log.ReadAll();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].strings, std::vector<std::string>{"before"});
  EXPECT_EQ(all[1].strings, std::vector<std::string>{"after"});
}

}  // namespace
}  // namespace qv::platform
