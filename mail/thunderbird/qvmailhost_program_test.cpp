// qvmailhost as the mail client runs it: frames on its standard input, replies on its
// standard output, visits to the tracer of the user's runtime folder; and its install.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "common/program_run.h"
#include "hooks/QvHooks/test_tracer.h"
#include "mail/thunderbird/host_install.h"
#include "mail/thunderbird/mail_host.h"
#include "mail/thunderbird/native_messaging.h"
#include "mail/thunderbird/tb_test_support.h"
#include "platform/messaging/window_station.h"
#include "platform/registry/registry.h"

namespace qv::mail::tb {
namespace {

using testing::MaildirFixture;

struct Served {
  int status = -1;
  std::vector<std::string> replies;
  std::string err;
  bool cleanTail = true;  // the output ended between frames
};

// Runs the host with `input` as its standard input, as the client starts it.
Served Serve(const std::filesystem::path& root, const std::filesystem::path& runtime,
             const std::string& input, std::string extension = std::string(kExtensionId)) {
  Served s;
  TempDir io;
  std::ofstream(io.path() / "in", std::ios::binary) << input;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, (io.path() / "in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (io.path() / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (io.path() / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const ProgramArgs run({QVMAILHOST_PATH, "/home/u/.mozilla/native-messaging-hosts/qvmailhost.json", extension},
                        root, {"XDG_RUNTIME_DIR=" + runtime.string(), "DISPLAY="});
  pid_t pid = 0;
  if (posix_spawn(&pid, run.program(), &actions, nullptr, run.argv(), run.envp()) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    s.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::stringstream out, err;
  out << std::ifstream(io.path() / "out", std::ios::binary).rdbuf();
  err << std::ifstream(io.path() / "err").rdbuf();
  s.err = err.str();
  const std::string bytes = out.str();
  std::span<const std::uint8_t> rest(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  for (;;) {
    std::size_t used = 0;
    std::string reply;
    const FrameResult r = ParseFrame(rest, kMaxOutgoingMessage, used, reply);
    if (r != FrameResult::Message) {
      s.cleanTail = r == FrameResult::End;
      break;
    }
    s.replies.push_back(reply);
    rest = rest.subspan(used);
  }
  return s;
}

class QvMailHostProgram : public ::testing::Test {
 protected:
  QvMailHostProgram() {
    mail.Put("", "cur", "100.A:2,S", "Message-ID: <a@x>");
    platform::Registry registry(root.path());
    EXPECT_EQ(AddAccount(registry, "account1", mail.root()), S_OK);
  }
  TempDir root, runtime;
  MaildirFixture mail;
  const std::string display = EncodeFrame(
      R"({"type":"displayed","tab":4,"messageId":"a@x","folder":"/Inbox","account":"account1"})");
};

TEST_F(QvMailHostProgram, AnswersEachMessageAndRefusesOtherExtensions) {
  const std::string input = EncodeFrame(R"({"type":"hello"})") + display +
                            EncodeFrame(R"({"type":"displayed","tab":4,"x":{"nested":1}})") +
                            EncodeFrame(R"({"type":"closed","tab":4})");
  const Served s = Serve(root.path(), runtime.path(), input);
  EXPECT_EQ(s.status, 0) << s.err;
  EXPECT_TRUE(s.cleanTail);
  ASSERT_EQ(s.replies.size(), 4u);
  EXPECT_EQ(s.replies[0], "{\"ok\":true,\"host\":\"qvmailhost\",\"accounts\":1}");
  // No tracer runs in this session: the visit is well-formed but nobody hears of it.
  EXPECT_EQ(s.replies[1], "{\"ok\":true,\"item\":\"" + MaildirFixture::Expected("", "100.A") +
                              "\",\"tracer\":false}");
  EXPECT_NE(s.replies[2].find("nested values are not accepted"), std::string::npos);
  EXPECT_EQ(s.replies[3], "{\"ok\":true}");

  const Served other = Serve(root.path(), runtime.path(), input, "evil@example.org");
  EXPECT_EQ(other.status, 2);
  EXPECT_TRUE(other.replies.empty());
  EXPECT_NE(other.err.find("refused"), std::string::npos);
}

TEST_F(QvMailHostProgram, AnOverlongOrCutMessageEndsTheSession) {
  std::string huge(4, '\0');
  const std::uint32_t length = kMaxIncomingMessage + 1;
  std::memcpy(huge.data(), &length, 4);
  const Served big = Serve(root.path(), runtime.path(), display + huge + std::string(100, 'x'));
  EXPECT_EQ(big.status, 3);
  ASSERT_EQ(big.replies.size(), 2u);
  EXPECT_NE(big.replies[1].find("too large"), std::string::npos);
  const Served cut = Serve(root.path(), runtime.path(), display + display.substr(0, 9));
  EXPECT_EQ(cut.status, 3);
  EXPECT_EQ(cut.replies.size(), 1u);
}

TEST_F(QvMailHostProgram, TheTracerOfTheSessionSeesTheVisitStartAndEnd) {
  // The tracer's windows in this test, on the runtime folder the host uses.
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  SystemClock clock;
  std::unique_ptr<platform::WindowStation> station;
  ASSERT_EQ(platform::OpenUserWindowStation(clock, nullptr, station), S_OK);
  hooks::TestTracer tracer(*station, clock);
  const Served s = Serve(root.path(), runtime.path(), display);  // then the client goes away
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(s.status, 0) << s.err;
  ASSERT_EQ(s.replies.size(), 1u);
  EXPECT_NE(s.replies[0].find("\"tracer\":true"), std::string::npos) << s.replies[0];
  const auto got = tracer.WaitFor(2);
  ASSERT_EQ(got.size(), 2u);
  ASSERT_TRUE(got[0].copyData && got[1].copyData);
  EXPECT_EQ(hooks::VisitOperation(got[0].copyData->dwData), hooks::KIV_VISIT_START);
  EXPECT_EQ(hooks::VisitFlags(got[0].copyData->dwData), hooks::KIV_VF_TRACK);
  const std::string item = MaildirFixture::Expected("", "100.A");
  std::vector<std::uint8_t> want;
  for (const char c : item) {
    want.push_back(static_cast<std::uint8_t>(c));
    want.push_back(0);
  }
  want.push_back(0);
  want.push_back(0);
  EXPECT_EQ(got[0].copyData->bytes, want);
  EXPECT_EQ(hooks::VisitOperation(got[1].copyData->dwData), hooks::KIV_VISIT_END);
  EXPECT_EQ(got[0].wParam, got[1].wParam);  // one visit key
}

TEST(QvMailHostInstall, WritesTheManifestForTheClientAndKeepsTheAccount) {
  TempDir root, home;
  MaildirFixture mail;
  const ProgramOutput o = RunProgramToEnd(
      {QVMAILHOST_PATH, "--install", "--home", home.path().string(), "--account",
       "account7=" + mail.root().string()},
      root.path());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("Load Temporary Add-on"), std::string::npos);
  for (const auto& path : ManifestPaths(home.path())) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_NE(text.str().find("\"allowed_extensions\": [\"qvmail@quillon-vesper\"]"), std::string::npos) << path;
    EXPECT_NE(text.str().find("\"type\": \"stdio\""), std::string::npos);
    EXPECT_NE(text.str().find(std::filesystem::canonical(QVMAILHOST_PATH).string()), std::string::npos);
  }
  platform::Registry registry(root.path());
  EXPECT_EQ(ReadAccounts(registry), (AccountRoots{{"account7", mail.root()}}));

  const ProgramOutput bad = RunProgramToEnd(
      {QVMAILHOST_PATH, "--install", "--home", home.path().string(), "--account", "x=relative"},
      root.path());
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("absolute path"), std::string::npos);
  const ProgramOutput help = RunProgramToEnd({QVMAILHOST_PATH, "--help"}, root.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--install"), std::string::npos);
}

}  // namespace
}  // namespace qv::mail::tb
