// A process killed at any point during ranking updates leaves every record whole: either the
// one before the update or the one after it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "context/test_context.h"
#include "platform/propset/property_store.h"
#include "provider/ranking/file_ranking.h"
#include "provider/ranking/ranking_record.h"

namespace qv {
namespace {

constexpr ULONG kWorkingTenths = 70;  // each visit adds 7 s of working time
constexpr ULONG kActiveTenths = 30;

TEST(UpdateRankCrash, KilledWritersNeverLeaveATornRecord) {
  TestContext tc;
  RegisterRankingClasses(tc.ctx());
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) {
    files.push_back((tc.root() / ("f" + std::to_string(i) + ".txt")).string());
    std::ofstream(files.back()) << "data " << i;
  }
  ULONG scope = 0;
  FileRanking fr(tc.ctx());
  ASSERT_EQ(fr.get_CurrentScope(&scope), S_OK);

  std::mt19937 rng(12345);
  std::vector<ULONG> lastVisits(files.size(), 0);
  DATE nextEnd = 46000.0;
  int totalUpdates = 0;
  for (int round = 0; round < 12; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileRanking writer(tc.ctx());
      DATE end = nextEnd;
      for (int i = 0; i < 1000000; ++i) {
        const std::string& f = files[i % files.size()];
        end += 1.0 / 1440;
        writer.UpdateRank(&f, 10, 1, end - 60.0 / 86400, end, kWorkingTenths, kActiveTenths, scope,
                          0, nullptr);
      }
      _exit(0);
    }
    usleep(std::uniform_int_distribution<int>(2000, 40000)(rng));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    for (std::size_t k = 0; k < files.size(); ++k) {
      std::unique_ptr<platform::PropertyStorage> st;
      ASSERT_EQ(platform::PropertyStorage::Open(files[k], platform::PropertyStorage::Mode::Read, st),
                S_OK);
      platform::PropertySet ps;
      const HRESULT hr = st->Read(ranking::kRankingFmtid, ps);
      if (hr == STG_E_FILENOTFOUND && lastVisits[k] == 0) continue;  // never reached
      ASSERT_EQ(hr, S_OK) << "round " << round << " file " << k;
      Guid key;
      ranking::RankingSet s;
      ASSERT_TRUE(ranking::ReadRankingProperties(ps, key, s));
      // Every field belongs to the same update: the totals are whole multiples of a visit.
      EXPECT_EQ(s.workingTime, s.visits * (kWorkingTenths / 10));
      EXPECT_EQ(s.activeTime, s.visits * (kActiveTenths / 10));
      EXPECT_GE(s.visits, lastVisits[k]);
      EXPECT_EQ(s.last.t, 60u);
      totalUpdates += static_cast<int>(s.visits - lastVisits[k]);
      lastVisits[k] = s.visits;
      nextEnd = std::max(nextEnd, s.last.end);
    }
  }
  // The children really were killed in the middle of work.
  EXPECT_GT(totalUpdates, 12);
}

}  // namespace
}  // namespace qv
