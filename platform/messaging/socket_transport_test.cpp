// What only the socket transport does: the runtime folder, dead processes, other processes
// and other users.
#include "platform/messaging/socket_transport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "common/temp_dir.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/window_station.h"

namespace qv::platform {
namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(RuntimeFolder, PathFollowsXdgRuntimeDirElseTheTemporaryFolder) {
  RuntimeEnvironment env{std::string("/run/user/1000"), "/tmp", 1000};
  EXPECT_EQ(RuntimeFolderPath(env), fs::path("/run/user/1000/quillon-vesper"));
  env.xdgRuntimeDir = std::nullopt;
  EXPECT_EQ(RuntimeFolderPath(env), fs::path("/tmp/quillon-vesper-1000"));
  env.xdgRuntimeDir = std::string();
  EXPECT_EQ(RuntimeFolderPath(env), fs::path("/tmp/quillon-vesper-1000"));
}

TEST(RuntimeFolder, IsCreatedPrivateNarrowedIfWideAndRefusedIfNotTheUsers) {
  TempDir dir;
  const uid_t me = ::getuid();
  const fs::path folder = dir.path() / "qv";
  ASSERT_EQ(EnsureRuntimeFolder(folder, me), S_OK);
  EXPECT_EQ(ModeOf(folder), 0700u);
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  ASSERT_EQ(EnsureRuntimeFolder(folder, me), S_OK);
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_EQ(EnsureRuntimeFolder(folder, me + 1), E_ACCESSDENIED);

  const fs::path link = dir.path() / "link";
  fs::create_directory_symlink(folder, link);
  EXPECT_EQ(EnsureRuntimeFolder(link, me), E_ACCESSDENIED);
  const fs::path file = dir.path() / "file";
  { std::FILE* f = std::fopen(file.c_str(), "w"); std::fclose(f); }
  EXPECT_EQ(EnsureRuntimeFolder(file, me), E_ACCESSDENIED);
  EXPECT_TRUE(Failed(EnsureRuntimeFolder(dir.path() / "missing" / "qv", me)));
}

struct SocketFixture : ::testing::Test {
  SystemClock clock;
  TempDir dir;
  fs::path folder = dir.path() / "run";
  EventLog eventLog{dir.path() / "root", clock};

  std::unique_ptr<WindowStation> Station(
      std::function<bool(int, PeerCredentials&)> peer = nullptr) {
    SocketTransportOptions options;
    options.folder = folder;
    options.uid = ::getuid();
    options.eventLog = &eventLog;
    options.peerCredentials = std::move(peer);
    std::shared_ptr<SocketTransport> t;
    EXPECT_EQ(SocketTransport::Open(options, clock, t), S_OK);
    return std::make_unique<WindowStation>(t, clock);
  }

  std::size_t Sockets() const {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder)) n += e.is_socket() ? 1 : 0;
    return n;
  }
};

// Runs a window in a child process; the child tells the parent when it is up through a pipe
// and then either serves until killed or dies at once without cleaning up.
pid_t ServeInChild(const fs::path& folder, const char* className, bool dieAbruptly,
                   int* resultPipe) {
  int ready[2], result[2];
  if (::pipe(ready) != 0 || ::pipe(result) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid != 0) {
    ::close(ready[1]);
    ::close(result[1]);
    char c;
    [[maybe_unused]] ssize_t n = ::read(ready[0], &c, 1);
    ::close(ready[0]);
    *resultPipe = result[0];
    return pid;
  }
  SystemClock clock;
  SocketTransportOptions options;
  options.folder = folder;
  options.uid = ::getuid();
  std::shared_ptr<SocketTransport> t;
  if (Failed(SocketTransport::Open(options, clock, t))) ::_exit(2);
  WindowStation station(t, clock);
  MessageLoop loop(clock);
  std::unique_ptr<Window> w;
  const int out = result[1];
  if (Failed(station.CreateWindow(loop, {className, "", true},
                                  [&](const Message& m) -> LRESULT {
                                    if (m.message != WM_COPYDATA || !m.copyData) return 0;
                                    const auto& b = m.copyData->bytes;
                                    [[maybe_unused]] ssize_t n = ::write(out, b.data(), b.size());
                                    loop.PostQuit(0);
                                    return 1;
                                  },
                                  w))) {
    ::_exit(3);
  }
  [[maybe_unused]] ssize_t n = ::write(ready[1], "r", 1);
  if (dieAbruptly) ::_exit(0);  // the socket file stays behind
  loop.Run();
  w.reset();
  ::_exit(0);
}

TEST_F(SocketFixture, VisitFromOneProcessReachesAWindowOfAnother) {
  int fromChild = -1;
  const pid_t child = ServeInChild(folder, "QvTracerEventWindow", false, &fromChild);
  ASSERT_GT(child, 0);
  auto station = Station();
  const Hwnd target = station->FindMessageWindow("QvTracerEventWindow");
  ASSERT_NE(target, 0u);
  WindowInfo info;
  ASSERT_TRUE(station->Describe(target, info));
  EXPECT_EQ(info.pid, child);
  const std::vector<std::uint8_t> item = {'h', 0, 'i', 0, 0, 0};
  LRESULT result = 0;
  EXPECT_EQ(station->SendCopyData(target, 7, CopyData{0x10000, item, false}, SMTO_ABORTIFHUNG,
                                  milliseconds(5000), &result),
            S_OK);
  EXPECT_EQ(result, 1);
  std::vector<std::uint8_t> got(16);
  const ssize_t n = ::read(fromChild, got.data(), got.size());
  ::close(fromChild);
  got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  EXPECT_EQ(got, item);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Sockets(), 0u);  // the window withdrew its socket
}

TEST_F(SocketFixture, WindowOfADeadProcessIsNotFoundAndItsSocketIsRemoved) {
  int fromChild = -1;
  const pid_t child = ServeInChild(folder, "QvTracerEventWindow", true, &fromChild);
  ASSERT_GT(child, 0);
  ::close(fromChild);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  ASSERT_EQ(Sockets(), 1u);
  auto station = Station();
  EXPECT_EQ(station->FindMessageWindow("QvTracerEventWindow"), 0u);
  EXPECT_EQ(Sockets(), 0u);
}

TEST_F(SocketFixture, WindowOfAStoppedProcessIsFoundByClassAsHungAndSendsTimeOut) {
  int fromChild = -1;
  const pid_t child = ServeInChild(folder, "QvTracerEventWindow", false, &fromChild);
  ASSERT_GT(child, 0);
  ::close(fromChild);
  auto station = Station();
  const auto live = station->FindMessageWindowInfo("QvTracerEventWindow");
  ASSERT_TRUE(live);
  EXPECT_TRUE(live->responding);
  ASSERT_EQ(::kill(child, SIGSTOP), 0);
  // The signal is delivered later than kill returns: wait until the child really stands still.
  int stopped = 0;
  ASSERT_EQ(::waitpid(child, &stopped, WUNTRACED), child);
  ASSERT_TRUE(WIFSTOPPED(stopped));

  const auto hung = station->FindMessageWindowInfo("qvtracereventwindow");
  ASSERT_TRUE(hung);
  EXPECT_FALSE(hung->responding);
  EXPECT_EQ(hung->handle, live->handle);
  EXPECT_EQ(station->FindMessageWindow("QvTracerEventWindow"), live->handle);
  // Neither its title nor other classes can be told without an answer.
  EXPECT_EQ(station->FindMessageWindow("QvTracerEventWindow", ""), 0u);
  EXPECT_FALSE(station->FindMessageWindowInfo("QvTracerWindow"));
  const std::vector<std::uint8_t> item = {'h', 0, 0, 0};
  EXPECT_EQ(station->SendCopyData(live->handle, 7, CopyData{0x10000, item, false},
                                  SMTO_ABORTIFHUNG, milliseconds(300)),
            HresultFromWin32(win32::ERROR_TIMEOUT));

  ::kill(child, SIGKILL);
  ::kill(child, SIGCONT);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(station->FindMessageWindowInfo("QvTracerEventWindow"));
}

TEST_F(SocketFixture, PeerOfAnotherUserIsRefusedAndLogged) {
  // The receiving side believes every peer to be somebody else.
  auto receiver = Station([](int, PeerCredentials& out) {
    out = PeerCredentials{4242, ::getuid() + 1, 0};
    return true;
  });
  auto sender = Station();
  MessageLoop loop(clock);
  bool called = false;
  std::unique_ptr<Window> w;
  ASSERT_EQ(receiver->CreateWindow(loop, {"QvTracerWindow", "QvTracer"},
                                   [&](const Message&) -> LRESULT { called = true; return 0; }, w),
            S_OK);
  // Not even found: the window's answer to "who are you" is refused with the connection.
  EXPECT_EQ(sender->FindWindow("QvTracerWindow"), 0u);
  EXPECT_TRUE(Failed(sender->SendMessageTimeout(w->handle(), WM_USER + 2, 0, 0, 0,
                                                milliseconds(2000))));
  loop.Pump();
  EXPECT_FALSE(called);
  const auto events = eventLog.ReadAll();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().eventId, kEventForeignPeerRefused);
  ASSERT_EQ(events.back().strings.size(), 3u);
  EXPECT_EQ(events.back().strings[1], std::to_string(::getuid() + 1));
  EXPECT_EQ(events.back().strings[2], "4242");
}

TEST_F(SocketFixture, RealProcessOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a sender as another user";
  auto receiver = Station();
  MessageLoop loop(clock);
  bool called = false;
  std::unique_ptr<Window> w;
  ASSERT_EQ(receiver->CreateWindow(loop, {"QvTracerWindow", "QvTracer"},
                                   [&](const Message&) -> LRESULT { called = true; return 0; }, w),
            S_OK);
  // Open the way for the other user, so that only the credential check stands in it.
  ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0711), 0);
  fs::path socketPath;
  for (const auto& e : fs::directory_iterator(folder)) socketPath = e.path();
  ASSERT_EQ(::chmod(socketPath.c_str(), 0777), 0);
  Frame frame = FrameFromMessage(FrameKind::Send, Message{w->handle(), WM_USER + 2, 0, 0, {}});
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeFrame(frame, bytes), S_OK);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, socketPath.c_str(), sizeof(addr.sun_path) - 1);

  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) ::_exit(11);
    // Refused at accept: the connection closes without a reply. (Exit 12 would be an answer.)
    [[maybe_unused]] ssize_t s = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    char buf[128];
    ::_exit(::recv(fd, buf, sizeof(buf), 0) > 0 ? 12 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  loop.Pump();
  EXPECT_FALSE(called);
  const auto events = eventLog.ReadAll();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().eventId, kEventForeignPeerRefused);
  EXPECT_EQ(events.back().strings[1], "65534");
}

TEST_F(SocketFixture, UnrelatedFilesInTheFolderAreIgnored) {
  auto station = Station();
  { std::FILE* f = std::fopen((folder / "0123456789abcdef.0123456789abcdef").c_str(), "w"); std::fclose(f); }
  { std::FILE* f = std::fopen((folder / "notes.txt").c_str(), "w"); std::fclose(f); }
  EXPECT_TRUE(station->FindWindows({std::nullopt, std::nullopt, false}).empty());
  EXPECT_TRUE(fs::exists(folder / "notes.txt"));
}

}  // namespace
}  // namespace qv::platform
