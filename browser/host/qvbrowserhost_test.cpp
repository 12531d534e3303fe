// qvbrowserhost as the browser runs it: framed JSON through its real stdin and stdout.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "browser/host/host_install.h"
#include "browser/host/native_messaging.h"
#include "common/temp_dir.h"

namespace qv::browser {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The host with pipes on both ends; killed (SIGKILL) with the object unless it ended.
class Host {
 public:
  Host(std::vector<std::string> args, const fs::path& home) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> env = {"HOME=" + home.string(), "QV_ROOT=" + (home / "root").string(),
                                    "XDG_RUNTIME_DIR=" + (home / "run").string(), "PATH=/usr/bin:/bin"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
    }
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    args.insert(args.begin(), QVBROWSERHOST_PATH);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, (home / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (::posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    toHost_ = in[1];
    fromHost_ = out[0];
  }
  ~Host() {
    CloseInput();
    if (fromHost_ >= 0) ::close(fromHost_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Send(std::string_view json) { return WriteFrame(toHost_, json); }
  bool SendRaw(std::string_view bytes) {
    return ::write(toHost_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  void CloseInput() {
    if (toHost_ >= 0) ::close(toHost_);
    toHost_ = -1;
  }
  // The next reply, or "(none)" when none came within the limit.
  std::string Reply() {
    pollfd p{fromHost_, POLLIN, 0};
    if (::poll(&p, 1, 30000) <= 0) return "(none)";
    std::string out;
    return ReadFrame(fromHost_, out) == FrameResult::Ok ? out : "(none)";
  }
  std::string Output() {
    std::string out;
    char buf[4096];
    pollfd p{fromHost_, POLLIN, 0};
    while (::poll(&p, 1, 30000) > 0) {
      const ssize_t n = ::read(fromHost_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
  int Wait() {
    for (auto t = 0ms; t < 30s; t += 20ms) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = 0;
  int toHost_ = -1, fromHost_ = -1;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(QvBrowserHost, TalksOnlyToItsOwnExtension) {
  TempDir home;
  Host stranger({"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"}, home.path());
  EXPECT_EQ(stranger.Wait(), 2);
  EXPECT_NE(Slurp(home.path() / "stderr").find("--install"), std::string::npos);
  Host none({}, home.path());
  EXPECT_EQ(none.Wait(), 2);
  Host firefoxStranger({"/x/manifest.json", "other@example.org"}, home.path());
  EXPECT_EQ(firefoxStranger.Wait(), 2);
  Host firefox({"/x/manifest.json", std::string(kFirefoxExtensionId)}, home.path());
  firefox.CloseInput();
  EXPECT_EQ(firefox.Wait(), 0);
}

TEST(QvBrowserHost, AnswersEveryMessageAndSurvivesBadOnes) {
  TempDir home;
  Host host({ChromiumOrigin()}, home.path());
  ASSERT_TRUE(host.Send(R"({"type":"flush"})"));
  EXPECT_EQ(host.Reply(), R"({"ok":true})");
  ASSERT_TRUE(host.Send("{\"type\":"));
  EXPECT_NE(host.Reply().find(R"("ok":false)"), std::string::npos);
  // A message over the limit is read past, refused, and the stream goes on.
  const std::uint32_t big = kMaxMessageIn + 1;
  std::string frame(4, '\0');
  std::memcpy(frame.data(), &big, 4);
  frame += std::string(big, ' ');
  ASSERT_TRUE(host.SendRaw(frame));
  EXPECT_NE(host.Reply().find("larger than 1 MB"), std::string::npos);
  // No tracer runs in this session: a page is acknowledged and nothing is kept.
  ASSERT_TRUE(host.Send(
      R"({"type":"page","tab":1,"url":"http://s.test/","top":true,"body":"PHA+"})"));
  EXPECT_EQ(host.Reply(), R"({"ok":true,"tracer":false})");
  host.CloseInput();
  EXPECT_EQ(host.Wait(), 0);
  EXPECT_FALSE(fs::exists(home.path() / "root" / "InternetCache" / "Index.QV"));
}

TEST(QvBrowserHost, AStreamThatBreaksOffEndsTheHostWithAnError) {
  TempDir home;
  Host host({ChromiumOrigin()}, home.path());
  ASSERT_TRUE(host.SendRaw(std::string("\x10\x00\x00\x00{\"type\"", 12)));
  host.CloseInput();
  EXPECT_EQ(host.Wait(), 4);
}

TEST(QvBrowserHost, InstallWritesBothManifestsAndHelpSaysWhatItDoes) {
  TempDir home;
  Host install({"--install"}, home.path());
  const std::string out = install.Output();
  EXPECT_EQ(install.Wait(), 0);
  EXPECT_NE(out.find("--load-extension="), std::string::npos) << out;
  const std::string chromium = Slurp(home.path() / ".config/chromium/NativeMessagingHosts" /
                                     (std::string(kHostName) + ".json"));
  EXPECT_NE(chromium.find(R"("allowed_origins": [")" + ChromiumOrigin() + "\"]"), std::string::npos)
      << chromium;
  EXPECT_NE(chromium.find(fs::canonical(QVBROWSERHOST_PATH).string()), std::string::npos) << chromium;
  const std::string firefox =
      Slurp(home.path() / ".mozilla/native-messaging-hosts" / (std::string(kHostName) + ".json"));
  EXPECT_NE(firefox.find(kFirefoxExtensionId), std::string::npos) << firefox;
  Host help({"--help"}, home.path());
  EXPECT_NE(help.Output().find("--install"), std::string::npos);
  EXPECT_EQ(help.Wait(), 0);
  Host bad({"--frobnicate"}, home.path());
  EXPECT_EQ(bad.Wait(), 1);
}

}  // namespace
}  // namespace qv::browser
