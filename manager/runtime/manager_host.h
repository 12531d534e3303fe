#pragma once
// The manager's hidden host window "QvHostWindow" on its message loop: the poll timer, the
// commands other processes send (enable, disable, close, ...), the tracer's busy messages,
// and publishing the browser cache folder at every tick. What the icon shows is handed to
// an optional observer (the notification icon), so the host runs the same without one.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "context/context.h"
#include "interfaces/ikiv_ui_utils.h"
#include "manager/runtime/manager_core.h"
#include "platform/messaging/window_station.h"

namespace qv::manager {

struct IconUpdate {
  IconChoice choice;
  ManagerState state = ManagerState::Active;
  bool showIcon = true;
  bool showBalloon = false;  // the message differs from the last one shown
};

class ManagerHost {
 public:
  ManagerHost(const Context& ctx, platform::WindowStation& station, platform::MessageLoop& loop,
              ManagerCore& core);
  ~ManagerHost();

  // Creates the host window, starts the tracer and the poll timer.
  HRESULT Create();
  // Sets the ending flag and ends the loop with the tracer stopped in order.
  void Close();
  // Posts a close to the host window; callable from any thread (a signal handler's thread).
  void PostClose();
  // Posts WM_COMMAND `command` to the host window; callable from any thread (the icon's).
  void PostCommand(std::uint64_t command);
  // Command 40039 (the status sheet), where the program has one.
  void SetStatusSheet(std::function<void()> show) { showStatus_ = std::move(show); }
  void SetTimer(bool running);
  void SetIconObserver(std::function<void(const IconUpdate&)> observer) {
    observer_ = std::move(observer);
  }
  // Applies the busy bits and tells the observer what to show.
  void Refresh(std::uint64_t busyBits = 0);
  void OnTick();

 private:
  platform::LRESULT Proc(const platform::Message& m);
  void Post(std::uint32_t message, std::uint64_t wParam);

  const Context& ctx_;
  platform::WindowStation& station_;
  platform::MessageLoop& loop_;
  ManagerCore& core_;
  std::unique_ptr<platform::Window> window_;
  std::mutex windowMutex_;  // posts from other threads meet the window's end
  std::function<void(const IconUpdate&)> observer_;
  std::function<void()> showStatus_;
  std::shared_ptr<IKivUIUtils> uiUtils_;
  std::uint32_t lastMessage_ = 0;
  std::string cacheFolder_;
  bool closed_ = false;
};

}  // namespace qv::manager
