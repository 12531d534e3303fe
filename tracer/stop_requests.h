#pragma once
// What stops the tracer from outside its windows: SIGTERM (systemd at logout), SIGHUP (a
// closed terminal) and SIGINT (Ctrl-C), read from a signalfd, and requests from other threads
// (the X display lost, the session gone). A thread of its own waits for them and hands the
// first one on, so that each runs the same orderly shutdown as the shutdown message; nothing
// runs in a signal handler.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace qv::tracer {

enum class StopCause : std::uint8_t { DisplayLost, SessionEnded, SystemShutdown };

class StopRequests {
 public:
  using Handler = std::function<void(const std::string& why)>;

  // Blocks SIGTERM, SIGHUP and SIGINT in the calling thread, and so in every thread it starts
  // afterwards: call it in main before any thread exists. A blocked signal stays pending until
  // a StopRequests reads it.
  static void BlockSignals();

  // Opens the signalfd and the request descriptor; nothing is handed on before Start.
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Starts the waiting thread. `onStop` runs on it once, for the first signal or request
  // (also one that came before Start); later ones are read and ignored.
  void Start(Handler onStop);
  // Ends the waiting thread; nothing is handed on afterwards. The destructor does it too.
  void Stop();
  // From any thread, also from inside Xlib's error handling: sets a flag and signals a
  // descriptor, nothing else.
  void Request(StopCause cause) noexcept;
  bool Usable() const { return signalFd_ >= 0 && requestFd_ >= 0; }

  static std::string Describe(StopCause cause);

 private:
  void Loop();

  int signalFd_ = -1;
  int requestFd_ = -1;  // eventfd: requests and the thread's own stop
  std::atomic<int> cause_{-1};
  std::atomic<bool> quit_{false};
  Handler onStop_;
  std::thread thread_;
};

}  // namespace qv::tracer
