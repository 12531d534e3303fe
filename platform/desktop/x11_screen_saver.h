#pragma once
// The screen saver of a real X server, from its XScreenSaver extension: the saver's state
// when connecting, then its notify events. The extension knows nothing of locks; Locked is
// always false.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "common/hresult.h"
#include "platform/desktop/session_listeners.h"
#include "platform/desktop/session_signals.h"

namespace qv::platform {

namespace x11 {
struct Conn;
}

class X11ScreenSaver final : public SessionSignals {
 public:
  // Null with `hr` set when there is no X server or it lacks the extension.
  static std::unique_ptr<X11ScreenSaver> Connect(const char* display, HRESULT& hr);
  ~X11ScreenSaver() override;
  X11ScreenSaver(const X11ScreenSaver&) = delete;
  X11ScreenSaver& operator=(const X11ScreenSaver&) = delete;

  ListenerId Subscribe(Listener listener) override;
  void Unsubscribe(ListenerId id) override;
  bool Locked() const override { return false; }
  bool ScreenSaverRunning() const override { return running_; }

 private:
  X11ScreenSaver(std::unique_ptr<x11::Conn> conn, int eventBase);
  void EventLoop();
  void Deliver(SessionEvent event);

  std::unique_ptr<x11::Conn> conn_;  // owned by the event thread once it runs
  int eventBase_ = 0;
  std::atomic<bool> running_{false};
  SessionListeners listeners_;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qv::platform
