// A new user's road, by the programs alone: fresh home and data folder, `qvindex verify`
// sets up the standard catalogs, the home folder is indexed, one of three files holding a
// word is visited, and the default search finds all three with the visited one first.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/program_run.h"
#include "common/temp_dir.h"

namespace qv::service {
namespace {

namespace fs = std::filesystem;

using Output = ProgramOutput;

class NewUser {
 public:
  NewUser()
      : home_(fs::canonical(dir_.path()) / "home"),
        root_(home_ / ".local" / "share" / "quillon-vesper") {
    fs::create_directories(home_);
  }
  const fs::path& home() const { return home_; }

  // Runs a program without a shell, as this user.
  Output Run(std::vector<std::string> args) const {
    return RunProgramToEnd(std::move(args), root_,
                           {"HOME=" + home_.string(),
                            "XDG_DATA_HOME=" + (home_ / ".local" / "share").string()});
  }

 private:
  TempDir dir_;
  fs::path home_, root_;
};

// The lines of `text` that name a file of `folder`, as the file names, top to bottom.
std::vector<std::string> Rows(const std::string& text, const fs::path& folder) {
  std::vector<std::string> names;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto at = line.find(folder.string() + "/");
    if (at == std::string::npos) continue;
    const auto start = at + folder.string().size() + 1;
    names.push_back(line.substr(start, line.find(' ', start) - start));
  }
  return names;
}

TEST(NewUserEndToEnd, VerifyIndexVisitAndSearch) {
  NewUser user;
  for (const char* name : {"alpha.txt", "beta.txt", "gamma.txt"}) {
    std::ofstream(user.home() / name) << "notes on the zephyrine project\n";
  }
  std::ofstream(user.home() / "other.txt") << "nothing of interest\n";

  Output r = user.Run({QVINDEX_PATH, "verify"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* name : {"System", "QuillonWebHistory", "QuillonJournal"}) {
    EXPECT_NE(r.out.find(std::string(name) + " "), std::string::npos) << r.out;
  }
  EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out;
  r = user.Run({QVINDEX_PATH, "verify"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("created"), std::string::npos) << r.out;  // nothing left to do

  r = user.Run({QVINDEX_PATH, "status"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"System ", "QuillonWebHistory ", "QuillonJournal "}) {
    EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
  }

  r = user.Run({QVINDEX_PATH, "rescan", "System"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = user.Run({QVRANK_PATH, "visit", (user.home() / "beta.txt").string(), "--start",
                "2026-01-01T10:00:00Z", "--end", "2026-01-01T10:20:00Z", "--units", "6000"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The indexer is not running, so the visit's ranking reaches the catalog by a rescan.
  r = user.Run({QVINDEX_PATH, "rescan", "System", "--full"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  // The default catalogs (files and web history; the latter still empty).
  r = user.Run({QVSEEK_PATH, "--print", "zephyrine"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const auto rows = Rows(r.out, user.home());
  ASSERT_EQ(rows.size(), 3u) << r.out;
  EXPECT_EQ(rows[0], "beta.txt") << r.out;
}

// Without verify, the first search sets up the catalogs itself and says how to fill them.
TEST(NewUserEndToEnd, FirstSearchSetsUpTheCatalogs) {
  NewUser user;
  Output r = user.Run({QVSEEK_PATH, "--print", "zephyrine"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("qvindex rescan System"), std::string::npos) << r.err;
  r = user.Run({QVINDEX_PATH, "status"});
  EXPECT_NE(r.out.find("QuillonJournal "), std::string::npos) << r.out;
}

// The indexing service's first start does the same, then indexes the home folder.
TEST(NewUserEndToEnd, IndexerFirstStartSetsUpTheCatalogs) {
  NewUser user;
  std::ofstream(user.home() / "alpha.txt") << "notes on the zephyrine project\n";
  Output r = user.Run({QVINDEXER_PATH, "--once", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = user.Run({QVINDEX_PATH, "status"});
  for (const char* name : {"System ", "QuillonWebHistory ", "QuillonJournal "}) {
    EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
  }
  r = user.Run({QVSEEK_PATH, "--print", "zephyrine"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Rows(r.out, user.home()), std::vector<std::string>{"alpha.txt"}) << r.out;
}

// A check that creates catalogs while the indexing service runs restarts it, so that it takes
// up the new catalogs; the service is stopped again however the test ends.
TEST(NewUserEndToEnd, VerifyRestartsARunningService) {
  NewUser user;
  Output r = user.Run({QVINDEX_PATH, "add-catalog", "QuillonL2"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = user.Run({QVINDEX_PATH, "start"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  struct StopAtEnd {
    const NewUser& user;
    ~StopAtEnd() { user.Run({QVINDEX_PATH, "stop"}); }
  } stop{user};

  r = user.Run({QVINDEX_PATH, "verify"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("restarted"), std::string::npos) << r.out;
  r = user.Run({QVINDEX_PATH, "status"});
  EXPECT_NE(r.out.find("service: running"), std::string::npos) << r.out;
  // Nothing left to change: the service is left alone.
  r = user.Run({QVINDEX_PATH, "verify"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("restarted"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qv::service
