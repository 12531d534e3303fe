#include "platform/com/running_objects.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <set>

#include "common/temp_dir.h"

namespace qv::platform {
namespace {

using namespace std::chrono_literals;
using OptString = std::optional<std::string>;

// A flag one thread raises and another waits for, with a generous bound.
class Latch {
 public:
  void Raise() {
    std::lock_guard lock(m_);
    raised_ = true;
    cv_.notify_all();
  }
  bool Wait(std::chrono::seconds limit = 20s) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, limit, [&] { return raised_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool raised_ = false;
};

// Echoes its first argument back as an out value, with the method number as the result.
HRESULT Echo(const CallRequest& call, std::vector<CallArg>& out, std::stop_token) {
  if (!call.args.empty()) out.push_back(call.args[0]);
  return MakeHr(call.method);
}

CallRequest Call(std::uint32_t method, std::string arg) {
  CallRequest c;
  c.method = method;
  c.args = {OptString(std::move(arg))};
  return c;
}

class RunningObjectsTest : public ::testing::Test {
 protected:
  RunningObjectsOptions Options() const { return {dir_.path() / "rot", ::getuid(), {}}; }
  TempDir dir_;
  SystemClock clock_;
  RunningObjects table_{Options()};
};

TEST(EndpointFileNames, NoNameLeavesTheFolderAndDifferentNamesStayApart) {
  const std::string longA = "!Qv.OtlIndexing./home/u/.local/share/qv/mail/" + std::string(80, 'a');
  const std::string longB = longA.substr(0, longA.size() - 1) + "b";
  const std::vector<std::string> names = {"../../etc/passwd", "/", ".", "..", "a/b", "a%2Fb",
                                          "!Qv.OtlRanking.0:4d2", "n=x", "h=x", longA, longB,
                                          std::string("a\0b", 3)};
  std::set<std::string> files;
  for (const std::string& n : names) {
    const std::string f = EndpointFileName(n);
    EXPECT_EQ(f.find('/'), std::string::npos) << f;
    EXPECT_EQ(f.find('\0'), std::string::npos) << f;
    EXPECT_NE(f[0], '.') << f;
    EXPECT_LE(f.size(), kMaxReadableEndpointName) << f;
    files.insert(f);
  }
  EXPECT_EQ(files.size(), names.size());
  EXPECT_EQ(EndpointFileName("!Qv.OtlRanking.0:4d2"), "n=%21Qv.OtlRanking.0%3A4d2");
}

TEST_F(RunningObjectsTest, ACallReachesTheObjectAndItsOutValuesComeBack) {
  std::unique_ptr<Registration> reg;
  ASSERT_EQ(table_.Register("!Qv.Test.a/../b", Echo, reg), S_OK);
  struct stat st {};
  ASSERT_EQ(::stat(Options().folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  CallReply reply;
  ASSERT_EQ(table_.Call("!Qv.Test.a/../b", Call(1, "hello"), clock_, 20s, {}, reply), S_OK);
  EXPECT_EQ(reply.hr, S_FALSE);
  EXPECT_EQ(reply.kind, ReplyKind::Values);
  ASSERT_EQ(reply.values.size(), 1u);
  EXPECT_EQ(std::get<OptString>(reply.values[0]), "hello");
  EXPECT_EQ(reply.serverPid, static_cast<std::uint32_t>(::getpid()));

  // One name, one live server.
  std::unique_ptr<Registration> twice;
  EXPECT_EQ(table_.Register("!Qv.Test.a/../b", Echo, twice),
            HresultFromWin32(win32::ERROR_ALREADY_EXISTS));
  EXPECT_EQ(table_.Register("", Echo, twice), E_INVALIDARG);

  // Revoked: the name is gone at once.
  reg.reset();
  EXPECT_FALSE(table_.IsRunning("!Qv.Test.a/../b"));
  EXPECT_EQ(table_.Call("!Qv.Test.a/../b", Call(1, "x"), clock_, 20s, {}, reply),
            MK_E_UNAVAILABLE);
}

TEST_F(RunningObjectsTest, AnObjectServedByAnotherProcessIsReachedAndLeavesNoTraceWhenItDies) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    RunningObjects table(Options());
    std::unique_ptr<Registration> reg;
    const char ok = Succeeded(table.Register("!Qv.Child", Echo, reg)) ? '1' : '0';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
    ::pause();  // until killed: nothing of the registration is cleaned up
    ::_exit(0);
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, '1');

  CallReply reply;
  EXPECT_EQ(table_.Call("!Qv.Child", Call(7, "x"), clock_, 20s, {}, reply), S_OK);
  EXPECT_EQ(reply.hr, MakeHr(7));
  EXPECT_EQ(reply.serverPid, static_cast<std::uint32_t>(child));

  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const std::filesystem::path socket = Options().folder / EndpointFileName("!Qv.Child");
  ASSERT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(socket)));
  // The socket the dead process left is found stale, removed, and the name can be served
  // again.
  EXPECT_EQ(table_.Call("!Qv.Child", Call(7, "x"), clock_, 20s, {}, reply), MK_E_UNAVAILABLE);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(socket)));
  EXPECT_EQ(table_.Call("!Qv.Nobody", Call(7, "x"), clock_, 20s, {}, reply), MK_E_UNAVAILABLE);
  std::unique_ptr<Registration> again;
  EXPECT_EQ(table_.Register("!Qv.Child", Echo, again), S_OK);
}

TEST_F(RunningObjectsTest, AStaleSocketDoesNotBlockANewRegistration) {
  // A socket nobody listens on any more, as a crashed server leaves it.
  std::unique_ptr<Registration> probe;
  ASSERT_EQ(table_.Register("!Qv.Probe", Echo, probe), S_OK);  // creates the folder
  {
    UniqueFd stale;
    ASSERT_EQ(ListenOn(Options().folder / EndpointFileName("!Qv.Old"), stale), S_OK);
  }
  std::unique_ptr<Registration> reg;
  ASSERT_EQ(table_.Register("!Qv.Old", Echo, reg), S_OK);
  CallReply reply;
  ASSERT_EQ(table_.Call("!Qv.Old", Call(3, "x"), clock_, 20s, {}, reply), S_OK);
  EXPECT_EQ(reply.hr, MakeHr(3));
}

TEST_F(RunningObjectsTest, AnotherUsersProcessIsRefusedOnEitherSide) {
  RunningObjectsOptions foreign = Options();
  foreign.peer = [](int fd, PeerIdentity& out) {
    if (!ReadPeerIdentity(fd, out)) return false;
    out.uid += 1;
    return true;
  };
  // A server that sees the caller as another user answers no and runs nothing.
  RunningObjects strict(foreign);
  std::atomic<int> ran{0};
  std::unique_ptr<Registration> reg;
  ASSERT_EQ(strict.Register("!Qv.Strict",
                            [&](const CallRequest&, std::vector<CallArg>&, std::stop_token) {
                              ++ran;
                              return S_OK;
                            },
                            reg),
            S_OK);
  CallReply reply;
  ASSERT_EQ(table_.Call("!Qv.Strict", Call(1, "x"), clock_, 20s, {}, reply), S_OK);
  EXPECT_EQ(reply.hr, E_ACCESSDENIED);
  EXPECT_EQ(ran.load(), 0);

  // A caller that sees the object's process as another user's does not call it.
  std::unique_ptr<Registration> plain;
  ASSERT_EQ(table_.Register("!Qv.Plain", Echo, plain), S_OK);
  EXPECT_EQ(strict.Call("!Qv.Plain", Call(1, "x"), clock_, 20s, {}, reply), E_ACCESSDENIED);
}

TEST_F(RunningObjectsTest, ASlowCallBlocksNobodyAndLearnsWhenItsCallerGivesUp) {
  Latch started, cancelled, release;
  std::unique_ptr<Registration> reg;
  ASSERT_EQ(table_.Register("!Qv.Slow",
                            [&](const CallRequest& call, std::vector<CallArg>& out,
                                std::stop_token stop) {
                              if (call.method != 1) return Echo(call, out, stop);
                              started.Raise();
                              std::mutex m;
                              std::condition_variable_any cv;
                              std::unique_lock lock(m);
                              cv.wait(lock, stop, [] { return false; });
                              cancelled.Raise();
                              return E_ABORT;
                            },
                            reg),
            S_OK);
  // The caller stops waiting at its limit; the server's handler is told to stop.
  CallReply reply;
  EXPECT_EQ(table_.Call("!Qv.Slow", Call(1, "x"), clock_, 50ms, {}, reply),
            HresultFromWin32(win32::ERROR_TIMEOUT));
  ASSERT_TRUE(started.Wait());
  EXPECT_TRUE(cancelled.Wait());

  // A caller cancelled through its stop token gives up at once, while another is served.
  std::stop_source source;
  std::jthread caller([&] {
    CallReply r;
    EXPECT_EQ(table_.Call("!Qv.Slow", Call(1, "y"), clock_, 60s, source.get_token(), r),
              RPC_E_CALL_CANCELED);
  });
  EXPECT_EQ(table_.Call("!Qv.Slow", Call(2, "fast"), clock_, 20s, {}, reply), S_OK);
  EXPECT_EQ(std::get<OptString>(reply.values.at(0)), "fast");
  source.request_stop();
  caller.join();
}

TEST_F(RunningObjectsTest, RevokingCancelsTheCallsInProgress) {
  Latch started, cancelled;
  std::unique_ptr<Registration> reg;
  ASSERT_EQ(table_.Register("!Qv.Busy",
                            [&](const CallRequest&, std::vector<CallArg>&, std::stop_token stop) {
                              started.Raise();
                              std::mutex m;
                              std::condition_variable_any cv;
                              std::unique_lock lock(m);
                              cv.wait(lock, stop, [] { return false; });
                              cancelled.Raise();
                              return E_ABORT;
                            },
                            reg),
            S_OK);
  HRESULT seen = S_OK;
  std::jthread caller([&] {
    CallReply r;
    seen = table_.Call("!Qv.Busy", Call(1, "x"), clock_, 60s, {}, r);
  });
  ASSERT_TRUE(started.Wait());
  reg.reset();  // returns only once the handler has stopped
  EXPECT_TRUE(cancelled.Wait(0s));
  caller.join();
  EXPECT_EQ(seen, HresultFromWin32(win32::ERROR_BROKEN_PIPE));
}

TEST_F(RunningObjectsTest, AFolderOfAnotherOwnerOrALinkIsRefused) {
  const std::filesystem::path target = dir_.path() / "elsewhere";
  std::filesystem::create_directory(target);
  std::filesystem::create_directory_symlink(target, dir_.path() / "link");
  RunningObjects linked({dir_.path() / "link", ::getuid(), {}});
  std::unique_ptr<Registration> reg;
  EXPECT_EQ(linked.Register("!Qv.X", Echo, reg), E_ACCESSDENIED);
  RunningObjects other({dir_.path() / "other", ::getuid() + 1, {}});
  EXPECT_EQ(other.Register("!Qv.X", Echo, reg), E_ACCESSDENIED);
  UniqueFd fd;
  EXPECT_EQ(other.Connect("!Qv.X", fd), E_ACCESSDENIED);
}

}  // namespace
}  // namespace qv::platform
