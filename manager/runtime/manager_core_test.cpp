// The manager's rules over fake services and a fake tracer: the state changes, the status
// poll and its problems, the verification and rescan periods, and the busy count.
#include "manager/runtime/manager_core.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qv::manager {
namespace {

class FakePorts : public ManagerPorts {
 public:
  RankingServiceStatus service = RankingServiceStatus::Running;
  IndexerStatus indexer = IndexerStatus::Running;
  bool tracerRuns = false;
  bool tracerStarts = true;  // a start brings up its window
  int starts = 0, stops = 0;
  bool timer = false;
  std::string folder = "/home/u/.local/share/qv/LocalAppData";
  std::vector<std::pair<std::string, bool>> verifies;
  HRESULT verifyResult = S_OK;

  RankingServiceStatus QueryRankingService() override { return service; }
  IndexerStatus QueryIndexer() override { return indexer; }
  bool TracerWindowExists() override { return tracerRuns; }
  HRESULT StartTracer() override {
    ++starts;
    tracerRuns = tracerStarts;
    return tracerStarts ? S_OK : E_FAIL;
  }
  void StopTracer(ManagerState, bool) override {
    ++stops;
    tracerRuns = false;
  }
  void SetPollTimer(bool running) override { timer = running; }
  std::string LocalAppDataFolder() override { return folder; }
  HRESULT BeginCfgVerify(const std::string& f, bool rescan) override {
    verifies.emplace_back(f, rescan);
    return verifyResult;
  }
};

class ManagerCoreTest : public ::testing::Test {
 protected:
  ManagerCoreTest() : registry_(dir_.path()) {}
  ManagerCore Make(ManagerConfig config = {}) { return ManagerCore(config, ports_, registry_, clock_); }

  TempDir dir_;
  platform::Registry registry_;
  ManualClock clock_{133'000'000'000'000'000ULL};
  FakePorts ports_;
};

TEST_F(ManagerCoreTest, StartRunsTheTracerOnlyWhenEnabled) {
  auto core = Make();
  core.Start();
  EXPECT_EQ(core.state(), ManagerState::Active);
  EXPECT_TRUE(ports_.tracerRuns);
  EXPECT_TRUE(ports_.timer);
  EXPECT_EQ(core.problem(), Problem::None);

  FakePorts other;
  ManagerConfig disabled;
  disabled.disabled = true;
  ManagerCore off(disabled, other, registry_, clock_);
  off.Start();
  EXPECT_EQ(off.state(), ManagerState::Disabled);
  EXPECT_EQ(other.starts, 0);
  EXPECT_FALSE(other.timer);
}

TEST_F(ManagerCoreTest, StateRules) {
  auto core = Make();
  core.Start();
  // The service is disabled: suspended, tracer stopped; the user's disable overrides that.
  ports_.service = RankingServiceStatus::StartDisabled;
  EXPECT_EQ(core.Poll(), Problem::ServiceDisabled);
  EXPECT_EQ(core.state(), ManagerState::Suspended);
  EXPECT_FALSE(ports_.tracerRuns);
  EXPECT_TRUE(ports_.timer);  // still polling, to resume
  core.Disable();
  EXPECT_EQ(core.state(), ManagerState::Disabled);
  EXPECT_FALSE(ports_.timer);
  platform::RegValue v;
  ASSERT_EQ(registry_.GetValue(platform::Hive::CurrentUser, kVesperKey, kDisabledValue, v), 0);
  EXPECT_EQ(v.dword, 1u);
  // A suspension does not end a disable; polls do nothing while disabled.
  core.ChangeState(ManagerState::Suspended);
  EXPECT_EQ(core.state(), ManagerState::Disabled);
  ports_.service = RankingServiceStatus::Running;
  const int starts = ports_.starts;
  core.Poll();
  EXPECT_EQ(core.state(), ManagerState::Disabled);
  EXPECT_EQ(ports_.starts, starts);
  // Only the enable does, and it starts the tracer and polls.
  core.Enable();
  EXPECT_EQ(core.state(), ManagerState::Active);
  EXPECT_TRUE(ports_.tracerRuns);
  EXPECT_EQ(core.problem(), Problem::None);
  ASSERT_EQ(registry_.GetValue(platform::Hive::CurrentUser, kVesperKey, kDisabledValue, v), 0);
  EXPECT_EQ(v.dword, 0u);
}

TEST_F(ManagerCoreTest, ServiceProblemsResumeASuspension) {
  auto core = Make();
  core.Start();
  ports_.service = RankingServiceStatus::StartDisabled;
  core.Poll();
  ASSERT_EQ(core.state(), ManagerState::Suspended);
  // Unreadable or no service manager: a problem shown while tracing goes on.
  ports_.service = RankingServiceStatus::Unreadable;
  EXPECT_EQ(core.Poll(), Problem::ServiceUnreadable);
  EXPECT_EQ(core.state(), ManagerState::Active);
  EXPECT_TRUE(ports_.tracerRuns);
  ports_.service = RankingServiceStatus::NoServiceManager;
  EXPECT_EQ(core.Poll(), Problem::NoServiceManager);
  EXPECT_EQ(core.state(), ManagerState::Active);
  // A stopped (not disabled) service is fine: the tracer queues for it.
  ports_.service = RankingServiceStatus::Stopped;
  EXPECT_EQ(core.Poll(), Problem::None);
}

TEST_F(ManagerCoreTest, VanishedTracerIsRestartedOnceAndALostOneEndsThePoll) {
  auto core = Make();
  core.Start();
  ports_.tracerRuns = false;  // it died
  EXPECT_EQ(core.Poll(), Problem::None);
  EXPECT_EQ(ports_.starts, 2);
  EXPECT_EQ(core.state(), ManagerState::Active);

  ports_.tracerRuns = false;
  ports_.tracerStarts = false;
  EXPECT_EQ(core.Poll(), Problem::TracerLost);
  EXPECT_EQ(core.state(), ManagerState::Suspended);
  EXPECT_EQ(ports_.starts, 3);
  // Further polls leave it suspended with the problem instead of restarting each time.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(core.Poll(), Problem::TracerLost);
    EXPECT_EQ(core.state(), ManagerState::Suspended);
  }
  EXPECT_EQ(ports_.starts, 3);
  // The user's enable tries again.
  ports_.tracerStarts = true;
  core.Enable();
  EXPECT_EQ(core.state(), ManagerState::Active);
  EXPECT_EQ(core.problem(), Problem::None);
  EXPECT_TRUE(ports_.tracerRuns);
}

TEST_F(ManagerCoreTest, IndexerStoppedAtOnePollVersusTwo) {
  auto core = Make();
  core.Start();
  ports_.indexer = IndexerStatus::Stopped;
  EXPECT_EQ(core.Poll(), Problem::None);
  ports_.indexer = IndexerStatus::Running;
  EXPECT_EQ(core.Poll(), Problem::None);
  ports_.indexer = IndexerStatus::Stopped;
  EXPECT_EQ(core.Poll(), Problem::None);  // the earlier stop was forgotten
  EXPECT_EQ(core.Poll(), Problem::IndexerStopped);
  EXPECT_EQ(core.state(), ManagerState::Active);
  ports_.indexer = IndexerStatus::Unreadable;
  EXPECT_EQ(core.Poll(), Problem::IndexerUnreadable);
  ports_.indexer = IndexerStatus::Running;
  EXPECT_EQ(core.Poll(), Problem::None);
}

TEST_F(ManagerCoreTest, BusyCountNeverNegativeAndResetWhenTheTracerRestarts) {
  auto core = Make();
  core.Start();
  core.Busy(2);
  EXPECT_EQ(core.busyCount(), 0u);
  core.Busy(1);
  core.Busy(1);
  core.Busy(0);
  EXPECT_EQ(core.busyCount(), 2u);
  EXPECT_EQ(core.Icon().icon, 1004u);
  // The tracer dies while recording: its end never comes, the restart clears the count.
  ports_.tracerRuns = false;
  core.Poll();
  EXPECT_EQ(core.busyCount(), 0u);
  EXPECT_EQ(core.Icon().icon, 1001u);
}

TEST(ChooseIconTest, EveryRowOfTheTable) {
  using S = ManagerState;
  using P = Problem;
  using B = BalloonType;
  EXPECT_EQ(ChooseIcon(S::Disabled, P::IndexerStopped, 3), (IconChoice{1002, 1002, B::Error}));
  EXPECT_EQ(ChooseIcon(S::Suspended, P::ServiceDisabled, 0), (IconChoice{1002, 2, B::Error}));
  EXPECT_EQ(ChooseIcon(S::Suspended, P::None, 0), (IconChoice{1002, 1002, B::Error}));
  EXPECT_EQ(ChooseIcon(S::Active, P::NoServiceManager, 5), (IconChoice{1003, 6, B::Warning}));
  EXPECT_EQ(ChooseIcon(S::Active, P::None, 1), (IconChoice{1004, 1004, B::Information}));
  EXPECT_EQ(ChooseIcon(S::Active, P::None, 0), (IconChoice{1001, 1001, B::Information}));
}

TEST_F(ManagerCoreTest, VerificationOncePerFolderUntilThePeriodForgetsIt) {
  ManagerConfig c;
  c.statusPollSeconds = 60;
  c.cfgVerifyPeriodMinutes = 3;  // 180 s: forgotten after the fourth tick's 240 s
  auto core = Make(c);
  core.Start();
  core.Tick();
  ASSERT_EQ(ports_.verifies.size(), 1u);
  EXPECT_TRUE(ports_.verifies[0].second);  // no LastRescan yet: a rescan is due
  core.Tick();
  core.Tick();
  EXPECT_EQ(ports_.verifies.size(), 1u);  // 180 s is not past 3 minutes
  core.Tick();
  ASSERT_EQ(ports_.verifies.size(), 2u);  // the minutes were not read as seconds
  EXPECT_FALSE(ports_.verifies[1].second);  // rescanned a moment ago
  // Another folder is verified at once.
  ports_.folder = "/elsewhere";
  core.Tick();
  EXPECT_EQ(ports_.verifies.size(), 3u);
  // Not while suspended or with a problem, nor with self-repair off.
  ports_.folder = "/third";
  ports_.indexer = IndexerStatus::Unreadable;
  core.Tick();
  EXPECT_EQ(ports_.verifies.size(), 3u);
}

TEST_F(ManagerCoreTest, PeriodZeroVerifiesOncePerRunAndFailuresWait) {
  ManagerConfig c;
  c.cfgVerifyPeriodMinutes = 0;
  ports_.verifyResult = REGDB_E_CLASSNOTREG;
  auto core = Make(c);
  core.Start();
  for (int i = 0; i < 1000; ++i) core.Tick();
  EXPECT_EQ(ports_.verifies.size(), 1u);
  EXPECT_EQ(core.lastVerifyResult(), REGDB_E_CLASSNOTREG);
  // A failed request does not count as a rescan.
  platform::RegValue v;
  EXPECT_NE(registry_.GetValue(platform::Hive::CurrentUser, kVesperKey, kLastRescanValue, v), 0);
  // The same folder in other letter case is the same folder.
  ports_.folder = "/HOME/U/.LOCAL/SHARE/QV/LOCALAPPDATA";
  core.Tick();
  EXPECT_EQ(ports_.verifies.size(), 1u);

  ManagerConfig off;
  off.selfRepair = false;
  FakePorts other;
  ManagerCore quiet(off, other, registry_, clock_);
  quiet.Start();
  quiet.Tick();
  EXPECT_TRUE(other.verifies.empty());
}

TEST(RescanDueTest, PeriodsAndStoredTimes) {
  ManagerConfig c;
  c.rescanPeriodMinutes = 10;
  const FileTime last = 133'000'000'000'000'000ULL;
  auto stored = [](std::uint64_t t, std::size_t size = 8) {
    std::vector<std::uint8_t> b(size);
    for (std::size_t i = 0; i < size && i < 8; ++i) b[i] = static_cast<std::uint8_t>(t >> (8 * i));
    return platform::RegValue::Binary(b);
  };
  const auto v = stored(last);
  EXPECT_FALSE(RescanDue(c, &v, last + 10 * kTicksPerMinute));
  EXPECT_TRUE(RescanDue(c, &v, last + 10 * kTicksPerMinute + 1));
  EXPECT_TRUE(RescanDue(c, nullptr, last));
  const auto seven = stored(last, 7);
  EXPECT_TRUE(RescanDue(c, &seven, last));
  const auto dword = platform::RegValue::Dword(1);
  EXPECT_TRUE(RescanDue(c, &dword, last));
  const auto far = stored(UINT64_MAX - 5);
  EXPECT_FALSE(RescanDue(c, &far, last));
  c.rescanPeriodMinutes = 0;
  EXPECT_FALSE(RescanDue(c, nullptr, last));
  EXPECT_FALSE(RescanDue(c, &seven, last));
}

}  // namespace
}  // namespace qv::manager
