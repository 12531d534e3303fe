#include "service/QvRankingSvc/pending_jobs.h"

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/held_in_child.h"
#include "context/registry_values.h"
#include "context/test_context.h"
#include "platform/propset/property_store.h"
#include "platform/scheduler/job_table.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvRankingSvc/pending_update.h"

namespace qv::service {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class PendingJobRunnerTest : public ::testing::Test {
 protected:
  platform::JobTable Table() {
    return platform::JobTable(platform::JobTable::FolderUnder(tc_.root()));
  }
  SystemTime Now() { return ToSystemTime(tc_.clock().Now()); }
  void AddJob(SystemTime due, std::vector<std::string> argv, uid_t uid = ::geteuid()) {
    ASSERT_EQ(Table().Add({due, uid, std::move(argv)}), S_OK);
  }
  fs::path Marker(const std::string& name) { return tc_.root() / name; }

  TestContext tc_;
};

TEST_F(PendingJobRunnerTest, RunsWhatIsDueIncludingWhatPassedWhileNothingRan) {
  // Written by an earlier service; its time passed before this one started.
  AddJob(Now() - 1h, {"/usr/bin/touch", Marker("overdue").string()});
  AddJob(Now() + 10min, {"/usr/bin/touch", Marker("later").string()});
  PendingJobRunner runner(tc_.ctx());
  const auto next = runner.RunDueJobs();
  ASSERT_TRUE(runner.WaitForJobs(60s));
  EXPECT_TRUE(fs::exists(Marker("overdue")));
  EXPECT_FALSE(fs::exists(Marker("later")));
  ASSERT_TRUE(next.has_value());
  EXPECT_LE(*next, Now() + kReapInterval);  // asked back soon to reap the child

  tc_.clock().Advance(10min);
  runner.RunDueJobs();
  EXPECT_EQ(runner.running(), 1u);
  ASSERT_TRUE(runner.WaitForJobs(60s));
  EXPECT_TRUE(fs::exists(Marker("later")));
  EXPECT_FALSE(runner.RunDueJobs().has_value());
  std::vector<platform::ScheduledJob> left;
  ASSERT_EQ(Table().List(left), S_OK);
  EXPECT_TRUE(left.empty());
}

TEST_F(PendingJobRunnerTest, NextTimeIsTheEarliestWaitingJob) {
  AddJob(Now() + 30min, {"/usr/bin/true"});
  AddJob(Now() + 20min, {"/usr/bin/true"});
  PendingJobRunner runner(tc_.ctx());
  EXPECT_EQ(runner.RunDueJobs(), Now() + 20min);
  EXPECT_EQ(runner.running(), 0u);
}

TEST_F(PendingJobRunnerTest, OtherUsersJobsAndUnstartableOnesAreDroppedWithAnEvent) {
  AddJob(Now(), {"/usr/bin/touch", Marker("foreign").string()}, ::geteuid() + 1);
  AddJob(Now(), {"/nonexistent/QvUpdate"});
  PendingJobRunner runner(tc_.ctx());
  EXPECT_FALSE(runner.RunDueJobs().has_value());
  ASSERT_TRUE(runner.WaitForJobs(60s));
  EXPECT_FALSE(fs::exists(Marker("foreign")));
  EXPECT_EQ(tc_.EventIds(), (std::vector<std::uint32_t>{kEventJobOfOtherUser,
                                                        kEventJobStartFailed}));
  // Taken out before the attempt: a job that cannot start is not tried at every call.
  EXPECT_FALSE(runner.RunDueJobs().has_value());
  EXPECT_EQ(tc_.EventIds().size(), 2u);
}

// The whole path of a visit to a locked file: the update meets another process's lock, is
// handed to UpdatePending, waits in the job table, and the utility writes it once the lock
// is gone.
TEST_F(PendingJobRunnerTest, LockedFileGetsItsVisitOnceReleased) {
  std::string user;
  ASSERT_EQ(SystemUserName(user), S_OK);
  tc_.SetUserName(user);  // the utility computes the scope from the real user, as this must
  RegisterRankingClasses(tc_.ctx());
  const std::string file = (tc_.root() / "held by another program.txt").string();
  std::ofstream(file) << "document";

  // The listener stand-in passes the update on as the service's listener does.
  class Listener final : public IKivListener {
   public:
    explicit Listener(const Context& ctx) : ctx_(ctx) {}
    HRESULT UpdatePending(const std::string* f, ULONG n, ULONG v, DATE s, DATE e, ULONG w,
                          ULONG a, ULONG scope, ULONG retry, const std::string* key) override {
      PendingUpdate u{f ? *f : "", n, v, s, e, w, a, scope, retry, std::nullopt};
      if (key) u.searchKey = *key;
      return SchedulePendingUpdate(ctx_, u, Caller{::geteuid(), ::getegid(), ::getpid()},
                                   QVUPDATE_PATH);
    }
    HRESULT CfgVerify(const std::string*, VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT DeleteStale(const std::string*) override { return E_NOTIMPL; }
    HRESULT OtlProfile(const std::string*, const std::string*, const std::string*) override {
      return E_NOTIMPL;
    }
    HRESULT OtlStopScope(const std::string*) override { return E_NOTIMPL; }

   private:
    const Context& ctx_;
  };
  tc_.classes().Register(CLSID_KivListener, "", "",
                         [this](std::shared_ptr<platform::ComObject>& out) {
                           out = std::make_shared<Listener>(tc_.ctx());
                           return S_OK;
                         });
  ASSERT_EQ(tc_.registry().SetValue(platform::Hive::LocalMachine, kFilesKey,
                                    kUpdatePendingTimeoutValue, platform::RegValue::Dword(120)),
            0);

  // Another process holds the writer's lock until told to let go.
  // The storage lives on in the child (its copy of this frame) until the child ends.
  std::unique_ptr<platform::PropertyStorage> held;
  HeldInChild holder([&] {
    return platform::PropertyStorage::Open(
               file, platform::PropertyStorage::Mode::ReadWriteExclusive, held) == S_OK;
  });
  ASSERT_TRUE(holder.taken());

  FileRanking ranking(tc_.ctx());
  ULONG scope = 0;
  ASSERT_EQ(ranking.get_CurrentScope(&scope), S_OK);
  const DATE end = tc_.clock().NowDate();
  EXPECT_EQ(ranking.UpdateRank(&file, 5, 1, end - 60.0 / 86400, end, 600, 600, scope, 0, nullptr),
            S_OK);

  PendingJobRunner runner(tc_.ctx());
  EXPECT_EQ(runner.RunDueJobs(), ToSystemTime(tc_.clock().Now()) + 120s);  // not yet due
  EXPECT_EQ(runner.running(), 0u);

  holder.Release();
  tc_.clock().Advance(120s);
  runner.RunDueJobs();
  ASSERT_EQ(runner.running(), 1u);
  ASSERT_TRUE(runner.WaitForJobs(60s));

  VARIANT_BOOL valid = VARIANT_FALSE;
  ULONG visits = 0;
  ASSERT_EQ(ranking.GetRankingSet(&file, &valid, nullptr, nullptr, nullptr, nullptr, &visits,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(valid, VARIANT_TRUE);
  EXPECT_EQ(visits, 1u);
  EXPECT_TRUE(tc_.EventIds().empty());
}

}  // namespace
}  // namespace qv::service
