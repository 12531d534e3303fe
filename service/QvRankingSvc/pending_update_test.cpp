#include "service/QvRankingSvc/pending_update.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "context/registry_values.h"
#include "context/test_context.h"
#include "platform/scheduler/job_table.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvUpdate/update_args.h"

namespace qv::service {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using platform::Hive;
using platform::RegValue;

constexpr const char* kKey = "{3108EFA7-0C78-4930-8542-237B2C341ED2}";
const fs::path kUpdater = "/opt/quillon vesper/bin/QvUpdate";

class PendingUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRankingClasses(tc_.ctx());
    update_.file = MakeFile("locked.txt");
    update_.units = 5;
    update_.visits = 1;
    update_.start = 38000.5;
    update_.finish = 38000.75;
    update_.workingTime = 1200;
    update_.activeTime = 1000;
    update_.scope = 0xABCD1234;
    caller_.uid = ::geteuid();
    caller_.gid = ::getegid();
  }
  std::string MakeFile(const std::string& name) {
    const std::string path = (tc_.root() / name).string();
    std::ofstream(path) << "text";
    return path;
  }
  HRESULT Schedule() { return SchedulePendingUpdate(tc_.ctx(), update_, caller_, kUpdater); }
  std::vector<platform::ScheduledJob> Jobs() {
    std::vector<platform::ScheduledJob> jobs;
    EXPECT_EQ(platform::JobTable(platform::JobTable::FolderUnder(tc_.root())).List(jobs), S_OK);
    return jobs;
  }
  void SetFiles(std::string_view name, const RegValue& v) {
    ASSERT_EQ(tc_.registry().SetValue(Hive::LocalMachine, kFilesKey, name, v), 0);
  }

  TestContext tc_;
  PendingUpdate update_;
  Caller caller_;
};

TEST_F(PendingUpdateTest, JobCarriesEveryValueAsTheUtilityReadsIt) {
  update_.retry = 39;
  update_.searchKey = kKey;
  ASSERT_EQ(Schedule(), S_OK);
  const auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].uid, ::geteuid());
  const std::vector<std::string> expected{
      kUpdater.string(), "\"" + update_.file + "\"", "5", "1", "40e28e10", "0", "40e28e18", "0",
      "4b0", "3e8", "abcd1234", "28", kKey};
  EXPECT_EQ(jobs[0].argv, expected);
  EXPECT_EQ(UpdaterCommandLine(jobs[0].argv),
            "\"/opt/quillon vesper/bin/QvUpdate\" \"" + update_.file +
                "\" 5 1 40e28e10 0 40e28e18 0 4b0 3e8 abcd1234 28 " + kKey);

  // What the utility makes of it is the update that was handed over, one retry on.
  std::vector<std::string_view> views(jobs[0].argv.begin(), jobs[0].argv.end());
  update::UpdateArgs back;
  ASSERT_EQ(update::ParseUpdateArgs(views, back), S_OK);
  EXPECT_EQ(back.file, update_.file);
  EXPECT_EQ(back.start, update_.start);
  EXPECT_EQ(back.finish, update_.finish);
  EXPECT_EQ(back.scope, update_.scope);
  EXPECT_EQ(back.retry, 40u);
  EXPECT_EQ(back.searchKey, update_.searchKey);
}

TEST_F(PendingUpdateTest, NamesWithQuotesAndBlanksReachTheUtilityUnchanged) {
  update_.file = MakeFile("\"odd\" name;\n$(x)\"");
  ASSERT_EQ(Schedule(), S_OK);
  const auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  std::vector<std::string_view> views(jobs[0].argv.begin(), jobs[0].argv.end());
  update::UpdateArgs back;
  ASSERT_EQ(update::ParseUpdateArgs(views, back), S_OK);
  EXPECT_EQ(back.file, update_.file);
}

TEST_F(PendingUpdateTest, SearchKeyOnlyAsAGuid) {
  // Empty, too long, or anything but a GUID: the job is built without it.
  for (const std::string& key :
       {std::string(), std::string(260, 'k'), std::string("{3108EFA7-0C78-4930-8542-237B2C341ED2} x"),
        std::string("x; rm -rf ~")}) {
    update_.searchKey = key;
    EXPECT_EQ(UpdaterArguments("/u", update_).size(), 12u) << key;
  }
  update_.searchKey.reset();
  EXPECT_EQ(UpdaterArguments("/u", update_).size(), 12u);
  update_.searchKey = kKey;
  EXPECT_EQ(UpdaterArguments("/u", update_).size(), 13u);
}

TEST_F(PendingUpdateTest, RetryLimitFromTheRegistryWithItsRange) {
  update_.retry = 40;
  EXPECT_EQ(Schedule(), S_FALSE);
  SetFiles(kUpdatePendingRetriesValue, RegValue::Dword(100));  // out of range: still 40
  EXPECT_EQ(Schedule(), S_FALSE);
  update_.retry = 39;
  EXPECT_EQ(Schedule(), S_OK);
  SetFiles(kUpdatePendingRetriesValue, RegValue::Dword(99));
  update_.retry = 98;
  EXPECT_EQ(Schedule(), S_OK);
  update_.retry = 99;
  EXPECT_EQ(Schedule(), S_FALSE);
  SetFiles(kUpdatePendingRetriesValue, RegValue::Dword(0));
  update_.retry = 0;
  EXPECT_EQ(Schedule(), S_FALSE);
  EXPECT_EQ(Jobs().size(), 2u);
  // Every update given up leaves a trace naming the file.
  const auto events = tc_.eventLog().ReadAll();
  ASSERT_EQ(events.size(), 4u);
  for (const auto& e : events) {
    EXPECT_EQ(e.eventId, kEventPendingUpdateDropped);
    EXPECT_EQ(e.strings.at(0), update_.file);
  }
  EXPECT_EQ(events[2].strings.at(1), "99");
}

TEST_F(PendingUpdateTest, DelayFromTheRegistryWithItsRange) {
  const auto delayOf = [&](std::optional<RegValue> v) {
    if (v) SetFiles(kUpdatePendingTimeoutValue, *v);
    return ReadPendingConfig(tc_.registry()).delayMs;
  };
  EXPECT_EQ(delayOf(std::nullopt), 300'000u);
  EXPECT_EQ(delayOf(RegValue::Dword(119)), 300'000u);
  EXPECT_EQ(delayOf(RegValue::Dword(3601)), 300'000u);
  EXPECT_EQ(delayOf(RegValue::Sz("120")), 300'000u);
  EXPECT_EQ(delayOf(RegValue::Dword(3600)), 3'600'000u);
  EXPECT_EQ(delayOf(RegValue::Dword(120)), 120'000u);

  // The job is due that long after the clock's now, and the value is read at every call.
  ASSERT_EQ(Schedule(), S_OK);
  SetFiles(kUpdatePendingTimeoutValue, RegValue::Dword(600));
  ASSERT_EQ(Schedule(), S_OK);
  const auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 2u);
  const SystemTime now = ToSystemTime(tc_.clock().Now());
  EXPECT_EQ(jobs[0].due - now, 120s);
  EXPECT_EQ(jobs[1].due - now, 600s);
}

TEST(JobTimeTest, WrapsPastMidnightOnce) {
  constexpr std::uint32_t k2358 = (23 * 60 + 58) * 60 * 1000;
  EXPECT_EQ(JobTimeOfDay(k2358, 300'000), 180'000u);
  EXPECT_EQ(JobTimeOfDay(kMillisecondsPerDay - 1, 1), 0u);
  EXPECT_EQ(JobTimeOfDay(0, 3'600'000), 3'600'000u);
  EXPECT_EQ(JobTimeOfDay(1000, 120'000), 121'000u);
}

TEST(LocalTimeTest, TimeOfDayFollowsTheLocalZone) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "UTC-2", 1);  // two hours east of UTC
  ::tzset();
  // 2025-12-09T21:58:00.250Z is 23:58:00.250 there.
  const FileTime ft = *DateToFileTime(*ParseIsoDate("2025-12-09T21:58:00.250Z"));
  const std::uint32_t ms = LocalMsOfDay(ft);
  if (old) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  EXPECT_EQ(ms, (23 * 60 + 58) * 60 * 1000 + 250u);
}

TEST_F(PendingUpdateTest, NameLengthCountsCharacters) {
  // Folders of "é" (2 bytes, 1 character) under the root, then a file name that brings the
  // whole to 259 characters: well over 259 bytes, within the limit.
  fs::path folder = tc_.root();
  if (CharacterCount(folder.string()) > 50) GTEST_SKIP() << "the temporary folder's path is too long";
  for (int i = 0; i < 2; ++i) {
    std::string part;
    for (int j = 0; j < 100; ++j) part += "\xc3\xa9";
    folder /= part;
  }
  fs::create_directories(folder);
  std::string name;
  while (CharacterCount((folder / name).string()) < 259) name += "\xc3\xa9";
  update_.file = (folder / name).string();
  std::ofstream(update_.file) << "text";
  ASSERT_EQ(CharacterCount(update_.file), 259u);
  ASSERT_GT(update_.file.size(), 400u);
  EXPECT_EQ(Schedule(), S_OK);
  update_.file = (folder / (name + "e")).string();
  std::ofstream(update_.file) << "text";
  EXPECT_EQ(Schedule(), E_INVALIDARG);
  EXPECT_EQ(Jobs().size(), 1u);
}

TEST_F(PendingUpdateTest, NoJobWithoutTheRightToWriteTheFile) {
  update_.file = (tc_.root() / "missing.txt").string();
  EXPECT_TRUE(Failed(Schedule()));
  update_.file = MakeFile("other-users.txt");
  caller_.uid = ::geteuid() + 1;  // the job would run with our rights, not the caller's
  EXPECT_EQ(Schedule(), E_ACCESSDENIED);
  caller_.uid = ::geteuid();
  if (::geteuid() != 0) {
    update_.file = MakeFile("read-only.txt");
    ASSERT_EQ(::chmod(update_.file.c_str(), 0400), 0);
    EXPECT_EQ(Schedule(), E_ACCESSDENIED);
  }
  tc_.classes().Unregister(CLSID_FileRanking);
  update_.file = MakeFile("fine.txt");
  EXPECT_EQ(Schedule(), REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(PendingUpdateTest, DamagedTableIsReportedAndItsGoodJobsKept) {
  ASSERT_EQ(Schedule(), S_OK);
  const fs::path table = platform::JobTable(platform::JobTable::FolderUnder(tc_.root())).path();
  std::ofstream(table, std::ios::app) << "not a job\n";
  ASSERT_EQ(Schedule(), S_OK);
  EXPECT_EQ(Jobs().size(), 2u);
  ASSERT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventJobTableDamaged});
  EXPECT_EQ(tc_.eventLog().ReadAll()[0].strings.at(1), "1");
}

}  // namespace
}  // namespace qv::service
