// The road of a visited page and a journal entry into search, as a user would take it on a
// fresh installation: a page put into the URL cache and kept as visited, a visit journaled,
// catalogs over the web history and the journal, rescans, then QvSeek finds the page by a word
// only its body holds, and the journal catalog returns the entry by the visited file's name.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>

#include "common/program_run.h"
#include "common/temp_dir.h"
#include "context/context.h"
#include "platform/folders/folders.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/journal/journal.h"

namespace qv::filters {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;

using Output = ProgramOutput;

// Runs a program of the build with QV_ROOT and HOME of the case's own.
Output RunTool(const fs::path& root, const fs::path& home, std::vector<std::string> args) {
  return RunProgramToEnd(std::move(args), root,
                         {"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string()});
}

std::string Iso(std::chrono::system_clock::time_point t) {
  const std::time_t s = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&s, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

template <std::size_t N>
void AddCatalog(platform::Registry& reg, ix::CatalogAdmin& admin, const std::string& name,
                const fs::path& location, const fs::path& scope,
                const std::array<cihelper::PropertyRow, N>& props) {
  ASSERT_EQ(admin.AddCatalog(name, location), S_OK);
  ASSERT_EQ(admin.AddScope(name, scope.string(), false), S_OK);
  for (const auto& [prop, data] : props) {
    ASSERT_EQ(reg.SetValue(platform::Hive::LocalMachine, ix::PropertiesKey(name),
                           std::string(prop), platform::RegValue::Sz(std::string(data))),
              0);
  }
}

TEST(FiltersEndToEnd, VisitedPageAndJournalEntryAreFound) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  const fs::path home = dir.path() / "home";
  fs::create_directories(home);
  const fs::path page = dir.path() / "page.html";
  std::ofstream(page) << "<html><head><title>Plans</title></head>"
                         "<body><p>The zanzibarian rollout starts in May.</p></body></html>";
  const std::string url = "http://intranet.example/plans.html";

  Output r = RunTool(root, home, {QVURLCACHE_PATH, "put", url, page.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunTool(root, home, {QVHISTORY_PATH, "--shortcut", url, "--title", "Rollout plans"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string shortcut = r.out.substr(0, r.out.find('\n'));
  ASSERT_TRUE(shortcut.ends_with(".q6w")) << r.out;
  // The visit's ranking, as the tracer records it on the shortcut.
  const auto now = std::chrono::system_clock::now();
  r = RunTool(root, home, {QVRANK_PATH, "visit", shortcut, "--start",
                           Iso(now - std::chrono::seconds(120)), "--end",
                           Iso(now - std::chrono::seconds(60)), "--units", "300"});
  ASSERT_EQ(r.status, 0) << r.err;

  const fs::path visited = home / "quarterly-report.txt";
  std::ofstream(visited) << "numbers";
  const fs::path local = platform::KnownFolderPath(root, platform::KnownFolder::LocalAppData);
  {
    Installation install(root);
    auto& ctx = install.context();
    journal::Journal j(ctx, nullptr);
    journal::EntryFields e;
    const std::string path = visited.string();
    e.url = path;
    e.start = ctx.clock.NowDate() - 120.0 / 86400;
    e.end = e.start + 60.0 / 86400;
    e.workingTime = 50;
    ASSERT_EQ(j.LogEntry(e, nullptr), S_OK);

    ix::CatalogAdmin admin(ctx.registry, root);
    AddCatalog(ctx.registry, admin, "QuillonWebHistory", root / "catalogs" / "web",
               local / "Quillon" / "WebHistory", cihelper::kDocumentCatalogProperties);
    AddCatalog(ctx.registry, admin, "QuillonJournal", root / "catalogs" / "journal",
               local / "Quillon" / "Journal", cihelper::kJournalCatalogProperties);
  }
  for (const char* catalog : {"QuillonWebHistory", "QuillonJournal"}) {
    r = RunTool(root, home, {QVINDEX_PATH, "rescan", catalog});
    ASSERT_EQ(r.status, 0) << catalog << ": " << r.err;
  }

  // The page by a word only its body holds.
  r = RunTool(root, home, {QVSEEK_PATH, "--print", "zanzibarian", "--catalogs", "web"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(url), std::string::npos) << "the page is shown by its URL: " << r.out;
  r = RunTool(root, home, {QVSEEK_PATH, "--print", "nowhereword", "--catalogs", "web"});
  EXPECT_EQ(r.out.find(url), std::string::npos) << r.out;

  // The journal entry by the visited file's name, with its description.
  r = RunTool(root, home,
          {QVINDEX_PATH, "query",
           "SET PROPERTYNAME '8E186B66-57AC-435c-B957-130C319BFA76' PROPID 0x5 AS kivDescription "
           "TYPE DBTYPE_WSTR; SELECT filename, kivDescription FROM QuillonJournal..SCOPE() "
           "WHERE CONTAINS('\"quarterly\"')"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(".q6j"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(visited.string()), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qv::filters
