// The indexing service as it runs: watches, crawls and follows changes. Every case runs the
// service in this thread; its stop check drives the case's steps and ends the run once the
// last step is seen done, or at a generous deadline that fails the case.
#include "platform/indexing/indexer_service.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/query_executor.h"
#include "platform/indexing/test_tools.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = 60s;

class IndexerServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qv-service-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    docs_ = root_ / "docs";
    fs::create_directories(docs_);
    install_ = std::make_unique<Installation>(root_);
    RegisterBuiltinFilterClasses(ctx().classes);
    ASSERT_EQ(RegisterBuiltinFilterExtensions(ctx().registry), S_OK);
    admin_ = std::make_unique<CatalogAdmin>(ctx().registry, root_);
    ASSERT_EQ(admin_->AddCatalog("QuillonTest", root_ / "catalog"), S_OK);
    ASSERT_EQ(admin_->AddScope("QuillonTest", docs_.string(), false), S_OK);
  }
  void TearDown() override { fs::remove_all(root_); }
  Context& ctx() { return install_->context(); }

  void Write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }

  // Paths of the documents that hold `word`.
  std::vector<std::string> Find(const std::string& word) {
    QueryExecutor exec(*admin_);
    ResultSet rs;
    std::string error;
    const std::string text = "SELECT Path FROM QuillonTest..Scope() WHERE CONTAINS(ALL, '\"" +
                             word + "\"') ORDER BY Path";
    if (Failed(exec.Execute(text, {}, rs, error))) return {};
    std::vector<std::string> out;
    for (const auto& r : rs.Rows()) out.push_back(r[0].ToString());
    return out;
  }

  // Runs the service until every step has returned true in turn; a step runs when the one
  // before it is done and is asked again until it is. `during` sees every progress report.
  struct Run {
    HRESULT hr = E_FAIL;
    std::size_t stepsDone = 0;
  };
  Run RunService(std::vector<std::function<bool()>> steps,
                 std::function<void(const IndexProgress&)> during = {},
                 ServiceOptions options = {}) {
    Run run;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    auto lastTry = std::chrono::steady_clock::time_point{};
    options.recheck = 100ms;
    options.progress = std::move(during);
    options.shouldStop = [&] {
      if (run.stepsDone == steps.size() || std::chrono::steady_clock::now() > deadline) {
        return true;
      }
      // Asked between documents too: try a step at most every 50 ms.
      if (std::chrono::steady_clock::now() - lastTry < 50ms) return false;
      lastTry = std::chrono::steady_clock::now();
      if (steps[run.stepsDone]()) ++run.stepsDone;
      return run.stepsDone == steps.size();
    };
    IndexerService service(ctx(), *admin_, options);
    run.hr = service.Run();
    return run;
  }

  fs::path root_, docs_;
  std::unique_ptr<Installation> install_;
  std::unique_ptr<CatalogAdmin> admin_;
};

TEST_F(IndexerServiceTest, ChangesMadeWhileTheStartUpCrawlRunsAreFollowed) {
  for (int i = 0; i < 40; ++i) Write(docs_ / ("f" + std::to_string(i) + ".txt"), "common");
  Write(docs_ / "edit.txt", "beforeword");
  Write(docs_ / "gone.txt", "goneword");
  const std::string d = docs_.string();
  bool changed = false;
  // Once the scan is over and filtering runs, the crawl no longer looks at the folder.
  auto during = [&](const IndexProgress& p) {
    if (changed || p.phase != "filtering") return;
    changed = true;
    Write(docs_ / "made.txt", "madeword");
    Write(docs_ / "edit.txt", "afterword");
    fs::remove(docs_ / "gone.txt");
  };
  auto followed = [&] {
    return changed && Find("madeword") == std::vector<std::string>{d + "/made.txt"} &&
           Find("afterword").size() == 1 && Find("beforeword").empty() &&
           Find("goneword").empty();
  };
  const auto run = RunService({followed}, during);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_TRUE(changed);
  EXPECT_EQ(run.stepsDone, 1u) << "a change made during the crawl was lost";
}

TEST_F(IndexerServiceTest, ChangesMadeWhileTheCrawlAfterANewScopeRunsAreFollowed) {
  const fs::path more = root_ / "more";
  for (int i = 0; i < 20; ++i) Write(more / ("m" + std::to_string(i) + ".txt"), "common");
  int crawls = 0;
  bool changed = false;
  auto during = [&](const IndexProgress& p) {
    if (p.phase == "scanning" && p.scanned == 0) ++crawls;
    // The second crawl is the one the new scope starts; change both scopes meanwhile.
    if (crawls == 2 && !changed && p.phase == "filtering") {
      changed = true;
      Write(more / "late.txt", "lateword");
      Write(docs_ / "late.txt", "lateword");
    }
  };
  const auto run = RunService(
      {[&] { return crawls == 1; },
       [&] { return Succeeded(admin_->AddScope("QuillonTest", more.string(), false)); },
       [&] { return changed && Find("lateword").size() == 2; }},
      during);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.stepsDone, 3u) << "a change made during the crawl was lost";
}

TEST_F(IndexerServiceTest, AScopeFolderDeletedAndMadeAgainIsFollowedAgain) {
  Write(docs_ / "a.txt", "firstword");
  const std::string d = docs_.string();
  const auto run = RunService({
      [&] { return Find("firstword").size() == 1; },
      [&] {
        fs::remove_all(docs_);
        return true;
      },
      [&] { return Find("firstword").empty(); },
      [&] {
        Write(docs_ / "b.txt", "secondword");
        return true;
      },
      [&] { return Find("secondword") == std::vector<std::string>{d + "/b.txt"}; },
      // Followed, not only walked once: a later file is seen too.
      [&] {
        Write(docs_ / "sub" / "c.txt", "thirdword");
        return true;
      },
      [&] { return Find("thirdword").size() == 1; },
  });
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.stepsDone, 7u);
}

TEST_F(IndexerServiceTest, RunningOutOfWatchesIsToldAndClearedWhenThereAreEnough) {
  for (const char* sub : {"a", "b", "c", "d"}) Write(docs_ / sub / "x.txt", "word");
  // Pose as the running service, so that the status shows what the service found.
  fs::create_directories(ServiceFolder(root_));
  const int lock = open(ServiceLockPath(root_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
  CatalogProblems problems;
  ServiceOptions few;
  few.maxWatches = 2;
  bool crawled = false;
  auto during = [&](const IndexProgress& p) { crawled = crawled || p.phase == "idle"; };
  auto run = RunService({[&] {
                           return crawled &&
                                  Succeeded(admin_->GetProblems("QuillonTest", problems)) &&
                                  !problems.unwatched.empty();
                         }},
                        during, few);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.stepsDone, 1u);
  EXPECT_TRUE(IsAtOrBelow(problems.unwatched, docs_.string())) << problems.unwatched;
  int events = 0;
  for (const auto& e : ctx().eventLog.ReadAll()) {
    if (e.eventId == kEventChangesNotFollowed) ++events;
  }
  EXPECT_EQ(events, 1);
  if (auto status = RunQvindex(root_, {"status"})) {
    EXPECT_NE(status->output.find("watch limit"), std::string::npos) << status->output;
    EXPECT_NE(status->output.find("incomplete"), std::string::npos) << status->output;
  }

  run = RunService({[&] {
    return Succeeded(admin_->GetProblems("QuillonTest", problems)) && !problems.any();
  }});
  EXPECT_EQ(run.stepsDone, 1u);
  close(lock);
}

TEST_F(IndexerServiceTest, QueuedRescansHonourTheirFolderAndFullFlag) {
  Write(docs_ / "a" / "1.txt", "one");
  Write(docs_ / "a" / "2.txt", "two");
  Write(docs_ / "b" / "3.txt", "three");
  std::vector<std::int64_t> filteredAtIdle;
  auto during = [&](const IndexProgress& p) {
    if (p.phase == "idle") filteredAtIdle.push_back(p.filtered);
  };
  const auto run = RunService(
      {[&] { return filteredAtIdle.size() == 1; },
       [&] { return Succeeded(admin_->Rescan("QuillonTest", (docs_ / "a").string(), true)); },
       [&] { return filteredAtIdle.size() == 2; },
       [&] { return Succeeded(admin_->Rescan("QuillonTest", "", false)); },
       [&] { return filteredAtIdle.size() == 3; },
       [&] { return Succeeded(admin_->Rescan("QuillonTest", "", true)); },
       [&] { return filteredAtIdle.size() == 4; }},
      during);
  EXPECT_EQ(run.stepsDone, 7u);
  EXPECT_EQ(filteredAtIdle, (std::vector<std::int64_t>{3, 2, 0, 3}));
}

}  // namespace
}  // namespace qv::platform::indexing
