// Runs the built qvurlcache tool against a temporary root: a page that cannot be copied whole
// is not committed, leaves no copy behind and fails the command.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/program_args.h"
#include "common/clock.h"
#include "common/hresult.h"
#include "common/temp_dir.h"
#include "platform/urlcache/url_cache.h"


namespace qv::platform {
namespace {

namespace fs = std::filesystem;

class QvurlcacheTest : public ::testing::Test {
 protected:
  // Runs qvurlcache with QV_ROOT set to the test's root; `maxFileBytes` limits the size of
  // any file it writes (RLIMIT_FSIZE, with SIGXFSZ ignored so that writes fail instead).
  int Run(std::vector<std::string> args, rlim_t maxFileBytes = RLIM_INFINITY) {
    args.insert(args.begin(), QVURLCACHE_PATH);
    const ProgramArgs run(std::move(args), root());
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      const rlimit lim{maxFileBytes, maxFileBytes};
      ::signal(SIGXFSZ, SIG_IGN);
      if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(125);
      ::execve(run.program(), run.argv(), run.envp());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path root() const { return dir_.path() / "root"; }

  // Every regular file of the cache's copy folder.
  std::vector<fs::path> Copies() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root() / "InternetCache" / "Content.QV", ec), end;
         !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file()) out.push_back(it->path());
    }
    return out;
  }

  TempDir dir_;
};

TEST_F(QvurlcacheTest, APageThatCannotBeCopiedWholeIsNeitherCommittedNorLeftBehind) {
  const fs::path page = dir_.path() / "page.htm";
  std::ofstream(page) << std::string(64 * 1024, 'p');

  // The copy may not grow past 4 KiB; the index file is far smaller.
  EXPECT_EQ(Run({"put", "http://h/big", page.string()}, 4096), 2);
  SystemClock clock;
  UrlCache cache(dir_.path() / "root", clock);
  CacheEntry e;
  EXPECT_EQ(cache.GetEntry("http://h/big", e), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Copies().empty());

  // A folder is no page: before any copy is made, the command fails.
  EXPECT_EQ(Run({"put", "http://h/dir", dir_.path().string()}), 2);
  EXPECT_EQ(cache.GetEntry("http://h/dir", e), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Copies().empty());

  // The same page with room to spare goes in whole.
  ASSERT_EQ(Run({"put", "http://h/big", page.string()}), 0);
  ASSERT_EQ(cache.RetrieveEntryFile("http://h/big", e), 0);
  EXPECT_EQ(e.size, 64u * 1024);
  EXPECT_EQ(fs::file_size(e.localFile), 64u * 1024);
  EXPECT_EQ(Copies().size(), 1u);
}

}  // namespace
}  // namespace qv::platform
