#pragma once
// Windows and messages: create windows on a message loop, find windows by class and title,
// post messages, send them with a time-out and a reply, and send WM_COPYDATA, within one
// process or across processes of the same user. This is the API every component uses.
//
//   auto station = WindowStation(transport, clock);
//   MessageLoop loop(clock);
//   std::unique_ptr<Window> w;
//   station.CreateWindow(loop, {"QvTracerWindow", "QvTracer"}, proc, w);
//   ... another process: station.PostMessage(station.FindWindow("QvTracerWindow"), ...)
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/hresult.h"
#include "platform/eventlog/event_log.h"
#include "platform/messaging/message.h"
#include "platform/messaging/message_ids.h"
#include "platform/messaging/message_loop.h"
#include "platform/messaging/transport.h"

namespace qv::platform {

// No send waits longer than this, whatever time-out or flags the caller gives: a receiver
// that is slow but not hung must never block the sender (its user interface) indefinitely.
inline constexpr std::chrono::milliseconds kMaxSendTimeout{30000};

struct WindowSpec {
  std::string className;
  std::string title;
  bool messageOnly = false;  // created under HWND_MESSAGE: found only by FindMessageWindow
};

// A window created by WindowStation::CreateWindow. Destroying it withdraws it: later finds
// miss it and later messages to it fail; messages still queued for it are dropped (a send
// among them fails with ERROR_INVALID_WINDOW_HANDLE).
class Window {
 public:
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  Hwnd handle() const;
  const std::string& className() const;
  std::string title() const;
  // SetWindowText: finds see the new title from now on.
  void SetTitle(std::string title);

  // Posts to this window directly (the owner posting to itself); false if the loop is gone.
  bool Post(std::uint32_t message, WPARAM wParam, LPARAM lParam);
  // SetTimer/KillTimer: WM_TIMER with wParam = id every `interval` (at least 1 ms) on the
  // window's loop. Setting an existing id restarts it.
  void SetTimer(std::uintptr_t id, std::chrono::milliseconds interval);
  bool KillTimer(std::uintptr_t id);

 private:
  friend class WindowStation;
  struct State;
  explicit Window(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

class WindowStation {
 public:
  WindowStation(std::shared_ptr<Transport> transport, const Clock& clock);
  ~WindowStation();

  // Creates a window whose procedure runs on `loop`'s thread. The window is reachable as
  // soon as this returns and until the Window is destroyed. E_INVALIDARG for an empty or
  // too long class name or a too long title.
  HRESULT CreateWindow(MessageLoop& loop, const WindowSpec& spec, WindowProc proc,
                       std::unique_ptr<Window>& out);

  // FindWindow: the first top-level window of the class (and title, when given); 0 if none.
  Hwnd FindWindow(std::string_view className,
                  std::optional<std::string_view> title = std::nullopt);
  // FindWindowEx(HWND_MESSAGE, ...): the same among message-only windows.
  Hwnd FindMessageWindow(std::string_view className,
                         std::optional<std::string_view> title = std::nullopt);
  // FindMessageWindow with what is known of the window: whether its owner answered the
  // search (WindowInfo::responding); nullopt if there is none.
  std::optional<WindowInfo> FindMessageWindowInfo(std::string_view className);
  // Every matching window, in the order in which they are found.
  std::vector<Hwnd> FindWindows(const WindowQuery& query);
  bool IsWindow(Hwnd hwnd);
  bool Describe(Hwnd hwnd, WindowInfo& out);

  // PostMessage: queues the message and returns. WM_COPYDATA cannot be posted
  // (ERROR_MESSAGE_SYNC_ONLY); a missing window gives ERROR_INVALID_WINDOW_HANDLE.
  HRESULT PostMessage(Hwnd hwnd, std::uint32_t message, WPARAM wParam, LPARAM lParam);
  // SendMessageTimeout: waits for the window procedure's result, at most `timeout` (capped at
  // kMaxSendTimeout; SMTO_NOTIMEOUTIFNOTHUNG does not lift the cap). With SMTO_ABORTIFHUNG a
  // hung receiver fails at once. Time-out or hung: HresultFromWin32(ERROR_TIMEOUT).
  HRESULT SendMessageTimeout(Hwnd hwnd, std::uint32_t message, WPARAM wParam, LPARAM lParam,
                             std::uint32_t flags, std::chrono::milliseconds timeout,
                             LRESULT* result = nullptr);
  // WM_COPYDATA with `data`; E_INVALIDARG if data.bytes is longer than kMaxCopyDataBytes.
  HRESULT SendCopyData(Hwnd hwnd, WPARAM wParam, const CopyData& data, std::uint32_t flags,
                       std::chrono::milliseconds timeout, LRESULT* result = nullptr);

  Transport& transport() { return *transport_; }
  const Clock& clock() const { return clock_; }

 private:
  HRESULT Send(Frame frame, std::uint32_t flags, std::chrono::milliseconds timeout,
               LRESULT* result);

  std::shared_ptr<Transport> transport_;
  const Clock& clock_;
  // Windows made here, so that a send from a window's own loop thread calls the procedure
  // directly instead of waiting for a loop that cannot run.
  std::mutex mutex_;
  std::map<Hwnd, std::weak_ptr<Window::State>> local_;
};



// A station on the socket transport in the calling user's runtime folder; refusals of
// foreign peers go to `eventLog` when given.
HRESULT OpenUserWindowStation(const Clock& clock, const EventLog* eventLog,
                              std::unique_ptr<WindowStation>& out);

}  // namespace qv::platform
