// A whole run under umask 022, as a user's desktop session often has: the browser stores a
// page, the tracer program journals and ranks a session, qvurlcache puts a page, the catalog
// is crawled here and by the indexing service, and events are written. Afterwards nothing
// under the root may be open to anyone but the user: folders 0700, files 0600.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/program_run.h"
#include "context/context.h"
#include "context/event_report.h"
#include "common/temp_dir.h"
#include "platform/browser/browser_feed.h"
#include "platform/fs/log_rotation.h"
#include "platform/fs/umask_guard.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/indexer.h"
#include "provider/ranking/file_ranking.h"
#include "tracer/tracer_constants.h"


namespace qv::tracer {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;

// Runs a program of the build with QV_ROOT set to `root`; its exit code, -1 when it did not
// start or exit.
int RunProgram(const fs::path& root, std::vector<std::string> args) {
  // The case's programs get a runtime folder of their own: cases run side by side, and would
  // otherwise meet each other's tracer windows in the session's folder.
  const fs::path runtime = root.parent_path() / "run";
  fs::create_directories(runtime);
  return RunProgramToEnd(std::move(args), root, {"XDG_RUNTIME_DIR=" + runtime.string()}).status;
}

// A script's quoted text.
std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

struct Walked {
  int files = 0;
  bool sqliteSideFiles = false;  // a -wal or -shm file was among them
};

// Checks that the root and everything below it is the user's alone: folders 0700, regular
// files 0600, nothing else.
Walked CheckModes(const fs::path& root) {
  Walked w;
  EXPECT_EQ(platform::ModeOf(root.c_str()), 0700);
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    SCOPED_TRACE(e.path().string());
    struct stat st {};
    if (::lstat(e.path().c_str(), &st) != 0) {
      ADD_FAILURE() << "cannot stat";
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      EXPECT_EQ(st.st_mode & 07777, 0700u);
      continue;
    }
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ++w.files;
    const std::string name = e.path().filename().string();
    if (name.ends_with("-wal") || name.ends_with("-shm")) w.sqliteSideFiles = true;
  }
  return w;
}

TEST(PrivateStoresEndToEnd, AFullRunUnderAWideUmaskLeavesNothingOthersCanRead) {
  platform::UmaskGuard wide(022);
  TempDir dir;
  const fs::path docs = dir.path() / "docs", root = dir.path() / "root";
  fs::create_directories(docs);
  const std::string report = (docs / "report.txt").string();
  std::ofstream(report) << "quarterly report budget";
  const std::string page = "http://intranet.test/plans";

  // The browser shows a page: its copy goes to the cache, its visit to the URL history.
  std::string item;
  std::unique_ptr<platform::UrlHistory> history;
  {
    ManualClock clock(*DateToFileTime(*ParseIsoDate("2026-03-02T08:59:00Z")));
    platform::UrlCache cache(root, clock);
    ASSERT_EQ(platform::UrlHistory::Open(root, history), 0);
    std::vector<platform::PagePart> parts(1);
    parts[0].url = page;
    parts[0].html = "<html><title>Plans</title>budget plans</html>";
    ASSERT_EQ(platform::BrowserFeed(cache, *history, clock).ShowPage("Plans", parts, item), 0);
  }

  // The tracer records a session: the journal, the page's shortcut, registry and event log.
  const fs::path script = dir.path() / "session.txt";
  std::ofstream(script) << "start 2026-03-02T09:00:00Z\n"
                        << "at 0 window 1 title=" << Quoted(report + " - Editor") << "\n"
                        << "at 0.5 focus 1\n"
                        << "at 1 key 1 100 0.25\n"
                        << "at 40 close 1\n"
                        << "at 41 window 9 title=\"Plans - Browser\"\n"
                        << "at 41 visit-start 9 " << Quoted(item) << " track\n"
                        << "at 41 focus 9\n"
                        << "at 42 key 9 20 1\n"
                        << "at 80 visit-end 9 " << Quoted(page) << "\n"
                        << "at 90 shutdown\n";
  ASSERT_EQ(RunProgram(root, {QVTRACER_PATH, "--script", script.string(), std::string(kStartMarker)}),
            0);
  ASSERT_EQ(RunProgram(root, {QVURLCACHE_PATH, "put", "http://intranet.test/other", report}), 0);

  // A catalog over the documents, crawled in this process; then the indexing service runs.
  Installation install(root);
  Context& ctx = install.context();
  ReportEvent(ctx, platform::EventType::Information, kCategoryProvider, 1, {"a test event"});
  ix::CatalogAdmin admin(ctx.registry, root);
  ASSERT_EQ(admin.AddCatalog("System", root / "catalog"), S_OK);
  ASSERT_EQ(admin.AddScope("System", docs.string(), false), S_OK);
  ix::RegisterBuiltinFilterClasses(ctx.classes);
  ix::RegisterBuiltinFilterExtensions(ctx.registry);
  {
    ix::CatalogIndexer indexer(ctx, admin, "System");
    ASSERT_EQ(indexer.Open(), S_OK);
    ASSERT_EQ(indexer.Crawl(), S_OK);
    // With the catalog and the URL history open, SQLite's side files are there too.
    EXPECT_TRUE(CheckModes(root).sqliteSideFiles);
  }
  admin.SetIndexerProgram(QVINDEXER_PATH);
  ASSERT_EQ(admin.Start(), S_OK);
  const HRESULT stopped = admin.Stop();
  if (Failed(stopped)) {
    // The service we started must not outlive the test.
    std::ifstream lock(ix::ServiceLockPath(root));
    pid_t pid = 0;
    if (lock >> pid && pid > 0) ::kill(pid, SIGKILL);
  }
  ASSERT_EQ(stopped, S_OK);

  // Every store appeared (the catalog, URL cache and history, journal and shortcuts, registry,
  // event log and the service's log and lock), and each file and folder is the user's alone.
  for (const char* store : {"InternetCache", "History", "catalog", "eventlog", "registry",
                            "LocalAppData/Quillon/Journal", "LocalAppData/Quillon/WebHistory",
                            "indexing/indexer.log"}) {
    EXPECT_TRUE(fs::exists(root / store)) << store;
  }
  EXPECT_GE(CheckModes(root).files, 20);
}

TEST(PrivateStoresEndToEnd, TheIndexingServiceRotatesAFullLogWhenItStarts) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  Installation install(root);
  ix::CatalogAdmin admin(install.context().registry, root);
  const fs::path log = ix::ServiceFolder(root) / "indexer.log";
  fs::create_directories(log.parent_path());
  std::ofstream(log) << std::string(platform::kLogSizeLimit, 'x');
  // A service program that fails at once: the start fails, but the full log was set aside.
  admin.SetIndexerProgram("/bin/false");
  EXPECT_TRUE(Failed(admin.Start()));
  EXPECT_EQ(fs::file_size(platform::PreviousLogPath(log)), platform::kLogSizeLimit);
  EXPECT_LT(fs::file_size(log), platform::kLogSizeLimit);
}

}  // namespace
}  // namespace qv::tracer
