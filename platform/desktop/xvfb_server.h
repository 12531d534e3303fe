#pragma once
// For tests: a private Xvfb on a display number it picks itself (-displayfd), without TCP,
// ended with the object. Available() is false where Xvfb is not installed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qv::platform {

class XvfbServer {
 public:
  static constexpr const char* kBinary = "/usr/bin/Xvfb";

  XvfbServer() {
    if (::access(kBinary, X_OK) != 0) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 3);
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) posix_spawn_file_actions_adddup2(&fa, devnull, 2);
    const char* argv[] = {kBinary, "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0",
                          "1024x768x24", nullptr};
    const int rc = ::posix_spawn(&pid_, kBinary, &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    if (devnull >= 0) ::close(devnull);
    if (rc != 0) {
      pid_ = 0;
      ::close(fds[0]);
      return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
      char c;
      if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    ::close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    // The server is ready once a client gets in.
    for (int i = 0; i < 100; ++i) {
      if (Display* d = XOpenDisplay(display_.c_str())) {
        XCloseDisplay(d);
        ready_ = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~XvfbServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  static bool Installed() { return ::access(kBinary, X_OK) == 0; }
  bool Ready() const { return ready_; }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
  bool ready_ = false;
};

// Runs a program with DISPLAY set and waits for it; its exit code, or -1.
inline int RunWithDisplay(const std::string& display, std::vector<std::string> args) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string_view(*e).substr(0, 8) != "DISPLAY=") env.emplace_back(*e);
  }
  env.push_back("DISPLAY=" + display);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace qv::platform
