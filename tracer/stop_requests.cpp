#include "tracer/stop_requests.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::tracer {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

void StopRequests::BlockSignals() {
  const sigset_t set = StopSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string StopRequests::Describe(StopCause cause) {
  switch (cause) {
    case StopCause::DisplayLost: return "the connection to the X display was lost";
    case StopCause::SessionEnded: return "the login session ended";
    case StopCause::SystemShutdown: return "the system is shutting down";
  }
  return "a stop was requested";
}

StopRequests::StopRequests() {
  const sigset_t set = StopSignals();
  signalFd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  requestFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

StopRequests::~StopRequests() {
  Stop();
  if (signalFd_ >= 0) ::close(signalFd_);
  if (requestFd_ >= 0) ::close(requestFd_);
}

void StopRequests::Stop() {
  quit_ = true;
  if (requestFd_ >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(requestFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
}

void StopRequests::Start(Handler onStop) {
  if (thread_.joinable() || requestFd_ < 0) return;
  onStop_ = std::move(onStop);
  thread_ = std::thread([this] { Loop(); });
}

void StopRequests::Request(StopCause cause) noexcept {
  int none = -1;
  cause_.compare_exchange_strong(none, static_cast<int>(cause));
  if (requestFd_ >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(requestFd_, &one, sizeof one);
  }
}

void StopRequests::Loop() {
  bool told = false;
  while (!quit_) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {requestFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    std::string why;
    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo si{};
      while (::read(signalFd_, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) {
        if (why.empty()) {
          const char* name = sigabbrev_np(static_cast<int>(si.ssi_signo));
          why = std::string("SIG") + (name ? name : std::to_string(si.ssi_signo).c_str()) +
                " from process " + std::to_string(si.ssi_pid);
        }
      }
    }
    if ((fds[1].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      (void)!::read(requestFd_, &count, sizeof count);
      if (quit_) return;
      const int cause = cause_.load();
      if (why.empty() && cause >= 0) why = Describe(static_cast<StopCause>(cause));
    }
    if (!why.empty() && !told) {
      told = true;
      if (onStop_) onStop_(why);
    }
  }
}

}  // namespace qv::tracer
