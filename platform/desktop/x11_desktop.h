#pragma once
// The Desktop port on a real X server. Windows are X windows: the top-level ones are the
// window manager's clients (_NET_CLIENT_LIST_STACKING) or, without a window manager, the
// root's children; the foreground window is _NET_ACTIVE_WINDOW, or the input focus where no
// window manager sets it. Titles come from _NET_WM_NAME (else WM_NAME), processes from
// _NET_WM_PID. X events become WinEvents on a thread of the source's own.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "common/hresult.h"
#include "platform/desktop/desktop.h"

namespace qv::platform {

struct X11Atoms;

class X11Desktop final : public Desktop {
 public:
  // Connects to `display` (null: $DISPLAY). Null with `hr` set when there is no X server.
  // `onLost` is told once when the connection to the server breaks (see x11::LostHandler);
  // from then on no window is found and no events come.
  static std::unique_ptr<X11Desktop> Connect(const char* display, HRESULT& hr,
                                             std::function<void()> onLost = nullptr);
  ~X11Desktop() override;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  HookId AddWinEventHook(WinEventHook hook, std::int32_t& error) override;
  bool RemoveWinEventHook(HookId id, std::int32_t& error) override;
  bool IsWindow(DesktopWindow window) const override;
  bool GetWindow(DesktopWindow window, WindowState& out) const override;
  std::uint32_t WindowThread(DesktopWindow window) const override;
  bool IsDescendant(DesktopWindow ancestor, DesktopWindow window) const override;
  std::vector<DesktopWindow> TopLevelWindows() const override;
  std::vector<DesktopWindow> Children(DesktopWindow window) const override;
  DesktopWindow Foreground() const override;
  std::int64_t VisibleArea(DesktopWindow window) const override;
  ScreenSize FullScreen() const override;

  // Whether a window manager publishes the active window (else the input focus stands in).
  bool HasActiveWindowProperty() const;

 private:
  struct Conn;
  X11Desktop(std::unique_ptr<Conn> query, std::unique_ptr<Conn> events);
  void EventLoop();
  void Raise(std::uint32_t event, DesktopWindow window);
  void Watch(unsigned long window);

  std::unique_ptr<Conn> query_;   // queries from any thread, under queryMutex_
  std::unique_ptr<Conn> events_;  // owned by the event thread
  mutable std::mutex queryMutex_;

  mutable std::recursive_mutex callMutex_;  // held while hooks run
  std::mutex hooksMutex_;
  std::map<HookId, WinEventHook> hooks_;
  HookId nextHook_ = 1;

  // Event thread state.
  DesktopWindow lastForeground_ = 0;
  std::set<unsigned long> minimized_;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qv::platform
