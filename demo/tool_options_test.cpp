// Every tool meets bad options with a usage error: a message on standard error and its
// usage exit code, never an abort from an exception thrown at a number or a path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"

namespace qv {
namespace {

struct Outcome {
  bool exited = false;
  int status = -1;
  std::string err;
};

// Runs `program` with `args` under its own QV_ROOT, without a display; killed after a
// generous bound so that a tool that waits for something cannot hang the test.
Outcome RunTool(const std::string& program, const std::vector<std::string>& args,
                const std::filesystem::path& root) {
  const auto errFile = root / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> env = {"QV_ROOT=" + root.string(), "HOME=" + root.string(),
                                  "TZ=UTC0", "PATH=/usr/bin:/bin"};
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  Outcome o;
  if (rc != 0) return o;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    o.err = "(killed: still running after 60 s)";
    return o;
  }
  o.exited = WIFEXITED(status);
  o.status = o.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
  std::ifstream in(errFile, std::ios::binary);
  o.err.assign(std::istreambuf_iterator<char>(in), {});
  return o;
}

struct BadCall {
  std::string program;
  std::vector<std::string> args;
  int usageExit;
};

TEST(ToolOptions, BadOptionsAreUsageErrorsWithAMessage) {
  const std::vector<BadCall> calls = {
      {QVINDEX_PATH, {"query", "--max", "abc", "text"}, 1},
      {QVINDEX_PATH, {"query", "--max", "-1", "text"}, 1},
      {QVINDEX_PATH, {"query", "--max", "99999999999999999999999", "text"}, 1},
      {QVINDEX_PATH, {"query", "--max"}, 1},
      {QVINDEX_PATH, {"add-scope", "System", ""}, 1},
      {QVINDEX_PATH, {"remove-scope", "System", ""}, 1},
      {QVINDEX_PATH, {"rescan", "System", ""}, 1},
      {QVINDEX_PATH, {"add-catalog", "Other", ""}, 1},
      {QVINDEX_PATH, {"--root", ""}, 1},
      {QVINDEX_PATH, {"--root"}, 1},
      {QVINDEX_PATH, {"frobnicate"}, 1},
      {QVINDEXER_PATH, {"--bogus"}, 1},
      {QVINDEXER_PATH, {"--root"}, 1},
      {QVINDEXER_PATH, {"--root", ""}, 1},
      {QVINDEXER_PATH, {"--catalog"}, 1},
      {QVRANK_PATH, {"visit", "", "--start", "2025-01-01T00:00:00Z", "--end", "2025-01-01T01:00:00Z"}, 1},
      {QVRANK_PATH, {"visit", "f", "--start", "2025-01-01T00:00:00Z", "--end", "2025-01-01T01:00:00Z", "--units", "-1"}, 1},
      {QVRANK_PATH, {"visit", "f", "--start", "2025-01-01T00:00:00Z", "--end", "2025-01-01T01:00:00Z", "--working", "nan"}, 1},
      {QVRANK_PATH, {"show", ""}, 1},
      {QVRANK_PATH, {"scale", "abc"}, 1},
      {QVRANK_PATH, {"scale", "nan"}, 1},
      {QVRANK_PATH, {"activation", "--at", "x", "0", "0", "0", "0", "0", "0"}, 1},
      {QVJOURNAL_PATH, {"list", "2005-13-45"}, 1},
      {QVJOURNAL_PATH, {"list", "99999999999999999999-1-1"}, 1},
      {QVJOURNAL_PATH, {"show"}, 1},
      {QVJOURNAL_PATH, {"show", ""}, 1},
      {QVJOURNAL_PATH, {"frobnicate"}, 1},
      {QVHISTORY_PATH, {"--title"}, 1},
      {QVHISTORY_PATH, {"--bogus"}, 1},
      {QVHISTORY_PATH, {}, 1},
      {QVURLCACHE_PATH, {"put", "http://example.org/", "page.htm", "--type", "text/html\r\nX: y"}, 1},
      {QVURLCACHE_PATH, {"put", "http://example.org/", "page.htm", "--type", ""}, 1},
      {QVURLCACHE_PATH, {"put", "http://example.org/"}, 1},
      {QVURLCACHE_PATH, {"put", "http://example.org/", "/"}, 2},  // a folder is no page
      {QVURLCACHE_PATH, {"frobnicate"}, 1},
      {QVREG_PATH, {"query"}, 1},
      {QVREG_PATH, {"add", "HKCU\\Software\\X", "/t"}, 1},
      {QVREG_PATH, {"add", "HKCU\\Software\\X", "/v", "n", "/t", "REG_DWORD", "/d", "abc", "/f"}, 1},
      {QVREG_PATH, {"query", "NOHIVE\\X"}, 1},
      {QVREG_PATH, {"frobnicate"}, 1},
      {QVSEEK_PATH, {"--print", "--max", "abc", "q"}, 1},
      {QVSEEK_PATH, {"--print", "--max", "99999999999999999999999", "q"}, 1},
      {QVSEEK_PATH, {"--print", "--bar-width", "0", "q"}, 1},
      {QVSEEK_PATH, {"--print", "--bogus"}, 1},
      {QVSEEK_PATH, {"frobnicate"}, 1},
      // These two document 2 for bad arguments, and their callers rely on it.
      {QVVISIT_PATH, {"start", "--window", "abc", "x"}, 2},
      {QVVISIT_PATH, {"start", "--window", "99999999999999999999999", "x"}, 2},
      {QVVISIT_PATH, {"start", "--window"}, 2},
      {QVVISIT_PATH, {"frobnicate"}, 2},
      {QVTRACER_PATH, {"--bogus"}, 2},
      {QVTRACER_PATH, {"--script"}, 2},
      {QVTRACER_PATH, {"--script", ""}, 2},
      {QVTRACER_PATH, {"--visits-out"}, 2},
      {QVTRACER_PATH, {"--realtime"}, 2},
  };
  for (const BadCall& call : calls) {
    TempDir root;
    std::string shown = std::filesystem::path(call.program).filename().string();
    for (const auto& a : call.args) shown += " '" + a + "'";
    SCOPED_TRACE(shown);
    const Outcome o = RunTool(call.program, call.args, root.path());
    EXPECT_TRUE(o.exited) << "stopped by signal " << -o.status << "; stderr: " << o.err;
    EXPECT_EQ(o.status, call.usageExit) << o.err;
    EXPECT_FALSE(o.err.empty());
    EXPECT_EQ(o.err.find("terminate called"), std::string::npos) << o.err;
  }
}

}  // namespace
}  // namespace qv
