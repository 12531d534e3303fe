// The extension in a real Chromium on a private Xvfb, with QvTracer following the display: a
// page served here (with a frame) and a page that forbids caching become visits, web page
// shortcuts with ranking records and journal entries, and the stored copy of the second is
// what the history protocol serves.
//
// Chromium loads the unpacked extension only from --load-extension (with
// --disable-extensions-except, and the feature that turns the switch off disabled). It runs
// headed here: the tracer follows the browser's X window, which a headless browser has none
// of. Pages are opened in the running browser by a second invocation, as a user's click on a
// link would; the browser's first page (about:blank) is never reported.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/clock.h"
#include "common/temp_dir.h"
#include "context/context.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/desktop/xvfb_server.h"
#include "platform/messaging/socket_transport.h"
#include "platform/messaging/window_station.h"
#include "platform/urlcache/url_cache.h"
#include "provider/ranking/file_ranking.h"
#include "provider/urlmon/private_urls.h"
#include "tracer/tracer_constants.h"

namespace qv::browser {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr std::string_view kTopPage =
    "<html><head><title>Framed page</title></head><body><p>The top page.</p>"
    "<iframe src=\"/frame.html\"></iframe></body></html>";
constexpr std::string_view kFramePage = "<html><body><p>The frame.</p></body></html>";
constexpr std::string_view kLivePage =
    "<html><head><title>Live page</title></head><body><p>Forbids caching.</p></body></html>";

// A program in a process group of its own, ended (SIGTERM, then SIGKILL) with the whole group.
class Process {
 public:
  Process(std::vector<std::string> args, std::vector<std::string> env, const fs::path& output) {
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    if (::posix_spawn(&pid_, argv[0], &fa, &attr, argv.data(), envp.data()) != 0) pid_ = 0;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Process() { End(); }
  bool Started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  int Wait(std::chrono::milliseconds limit) {
    for (auto t = 0ms; t < limit; t += 50ms) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }
  void End() {
    if (pid_ <= 0) return;
    if (!reaped_) {
      ::kill(-pid_, SIGTERM);
      if (Wait(10s) == -1) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
      }
    }
    ::kill(-pid_, SIGKILL);  // helpers left in the group
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
  bool reaped_ = false;
};

// A small HTTP server on the loopback: each connection gets one response and is closed.
class PageServer {
 public:
  PageServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd_, 16) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
  }
  ~PageServer() {
    thread_ = {};  // stops and joins
    if (fd_ >= 0) ::close(fd_);
  }
  std::string Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }
  bool Ready() const { return port_ != 0; }

 private:
  void Serve(std::stop_token stop) {
    while (!stop.stop_requested()) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string request;
      char buf[2048];
      while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 2000) <= 0) break;
        const ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      const auto sp = request.find(' ');
      const std::string path =
          sp == std::string::npos ? "" : request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
      std::string_view body = "not found", cache = "no-store";
      std::string status = "404 Not Found";
      if (path == "/" || path == "/frame.html") {
        body = path == "/" ? kTopPage : kFramePage;
        cache = "max-age=600";
        status = "200 OK";
      } else if (path == "/live.html") {
        body = kLivePage;
        status = "200 OK";
      }
      const std::string response = "HTTP/1.1 " + status +
                                   "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: " +
                                   std::string(cache) + "\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                   std::string(body);
      for (std::size_t done = 0; done < response.size();) {
        const ssize_t w = ::send(c, response.data() + done, response.size() - done, MSG_NOSIGNAL);
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
      }
      ::close(c);
    }
  }

  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::jthread thread_;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

template <typename F>
bool Eventually(F&& f, std::chrono::milliseconds limit) {
  for (auto t = 0ms; t < limit; t += 100ms) {
    if (f()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return f();
}

// The history URL of a shortcut file <root>/.../WebHistory/<bucket>/<hash>.q6w.
std::string HistoryUrlOf(const fs::path& shortcut) {
  std::string bucket = shortcut.parent_path().filename().string();
  std::string hash = shortcut.stem().string();
  for (auto* s : {&bucket, &hash}) {
    for (char& c : *s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (bucket.size() < 2) bucket = "0" + bucket;
  return "history:" + bucket + hash;
}

TEST(ChromiumEndToEnd, PagesBecomeRankedVisitsAndANoCachePageIsStored) {
  if (!platform::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
  if (::access(kChromium, X_OK) != 0) {
    GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh installs it)";
  }
  if (::access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "xdotool is not installed";
  platform::XvfbServer server;
  if (!server.Ready()) GTEST_SKIP() << "Xvfb did not start";
  PageServer pages;
  ASSERT_TRUE(pages.Ready());

  TempDir dir;
  const fs::path home = dir.path() / "home", runtime = dir.path() / "run", root = dir.path() / "root";
  for (const auto& p : {home, runtime, root}) {
    fs::create_directories(p);
    fs::permissions(p, fs::perms::owner_all);
  }
  const std::vector<std::string> env = {"DISPLAY=" + server.display(), "HOME=" + home.string(),
                                        "XDG_RUNTIME_DIR=" + runtime.string(),
                                        "QV_ROOT=" + root.string(), "PATH=/usr/bin:/bin"};
  const fs::path tracerLog = dir.path() / "tracer.log", browserLog = dir.path() / "chromium.log";
  auto logs = [&] { return "tracer:\n" + Slurp(tracerLog) + "\nevents:\n" + Slurp(root / "eventlog" / "Application.log"); };

  Process tracer({QVTRACER_PATH, std::string(tracer::kStartMarker)}, env, tracerLog);
  ASSERT_TRUE(tracer.Started());
  SystemClock clock;
  platform::SocketTransportOptions options;
  options.folder = runtime / "quillon-vesper";
  options.uid = ::getuid();
  std::shared_ptr<platform::SocketTransport> transport;
  platform::Hwnd main = 0;
  ASSERT_TRUE(Eventually([&] {
    if (!transport && Failed(platform::SocketTransport::Open(options, clock, transport))) {
      transport = nullptr;
      return false;
    }
    main = platform::WindowStation(transport, clock).FindWindow(hooks::kTracerWindowClass);
    return main != 0;
  }, 10s)) << logs();

  Process install({QVBROWSERHOST_PATH, "--install"}, env, dir.path() / "install.log");
  ASSERT_EQ(install.Wait(30s), 0) << Slurp(dir.path() / "install.log");

  std::vector<std::string> browserArgs = {
      kChromium, "--user-data-dir=" + (home / ".config" / "chromium").string(), "--no-first-run",
      "--no-default-browser-check", "--password-store=basic", "--disable-gpu",
      "--disable-features=DisableLoadExtensionCommandLineSwitch",
      "--load-extension=" QV_EXTENSION_DIR, "--disable-extensions-except=" QV_EXTENSION_DIR,
      "--enable-logging=stderr", "--window-position=0,0", "--window-size=900,700"};
  if (::getuid() == 0) browserArgs.push_back("--no-sandbox");  // Chromium refuses root otherwise
  auto open = [&](const std::string& url) {
    std::vector<std::string> args = browserArgs;
    args.push_back(url);
    return args;
  };
  Process browser(open("about:blank"), env, browserLog);
  ASSERT_TRUE(browser.Started());

  // The browser's window, found by its owner as the host finds it.
  std::string window;
  ASSERT_TRUE(Eventually([&] {
    window = Output("DISPLAY=" + server.display() + " xdotool search --onlyvisible --class chromium 2>/dev/null");
    window = window.substr(0, window.find('\n'));
    return !window.empty();
  }, 60s)) << Slurp(browserLog);
  auto work = [&] {
    EXPECT_EQ(platform::RunWithDisplay(server.display(), {"xdotool", "windowfocus", "--sync", window}), 0);
    EXPECT_EQ(platform::RunWithDisplay(server.display(),
                                       {"xdotool", "type", "--delay", "150", "reading this page"}),
              0);
  };

  platform::UrlCache cache(root, clock);
  platform::CacheEntry entry;
  // The framed page, opened in the running browser; its copy reaches the cache through the host.
  Process second(open(pages.Url("/")), env, browserLog);
  second.Wait(30s);
  ASSERT_TRUE(Eventually([&] { return cache.GetEntry(pages.Url("/frame.html"), entry) == 0; }, 60s))
      << Slurp(browserLog) << logs();
  work();

  // The page that forbids caching: captured under its content URL with a version index.
  Process third(open(pages.Url("/live.html")), env, browserLog);
  third.Wait(30s);
  std::string indexUrl;
  ASSERT_EQ(urlmon::VersionIndexUrl(pages.Url("/live.html"), indexUrl), S_OK);
  ASSERT_TRUE(Eventually([&] { return cache.GetEntry(indexUrl, entry) == 0; }, 60s))
      << Slurp(browserLog) << logs();
  work();

  ASSERT_EQ(platform::WindowStation(transport, clock).PostMessage(main, hooks::KIVM_SHUTDOWN, 0, 0),
            S_OK);
  EXPECT_EQ(tracer.Wait(60s), 0) << logs();
  browser.End();

  // Each page is a shortcut with a ranking record, and the history protocol serves its copy.
  Installation installation(root);
  FileRanking ranking(installation.context());
  std::map<std::string, std::string> served;  // copy -> shortcut
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(root / "LocalAppData" / "Quillon" / "WebHistory", ec)) {
    if (e.path().extension() != ".q6w") continue;
    const std::string path = e.path().string();
    VARIANT_BOOL valid = VARIANT_FALSE;
    ULONG visits = 0;
    ASSERT_EQ(ranking.GetRankingSet(&path, &valid, nullptr, nullptr, nullptr, nullptr, &visits,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(valid, VARIANT_TRUE) << path;
    EXPECT_GE(visits, 1u) << path;
    served[Output("QV_ROOT='" + root.string() + "' " QVHISTORY_PATH " '" + HistoryUrlOf(e.path()) + "'")] = path;
  }
  EXPECT_TRUE(served.contains(std::string(kTopPage))) << logs();
  EXPECT_TRUE(served.contains(std::string(kLivePage))) << logs();

  const std::string journal = Output("QV_ROOT='" + root.string() + "' " QVJOURNAL_PATH " list 2>&1");
  EXPECT_NE(journal.find(pages.Url("/")), std::string::npos) << journal;
  EXPECT_NE(journal.find(pages.Url("/live.html")), std::string::npos) << journal;
}

}  // namespace
}  // namespace qv::browser
