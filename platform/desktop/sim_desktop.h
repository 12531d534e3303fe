#pragma once
// A deterministic Desktop: tests and the demo create, show, move, retitle, focus and destroy
// windows, and every installed WinEvent hook sees the matching events at once on the calling
// thread. Window ids are chosen by the caller or handed out in order.
#include <map>
#include <mutex>
#include <vector>

#include "platform/desktop/desktop.h"

namespace qv::platform {

class SimDesktop final : public Desktop {
 public:
  explicit SimDesktop(ScreenSize screen = {1920, 1080});

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

  // Creates a window on top of its siblings (state.id 0: the next free id). Returns its id,
  // or 0 if the id is taken or the parent does not exist. Raises create, then show if visible.
  DesktopWindow CreateWindow(WindowState state);
  // Destroys the window and its descendants (deepest first), each with a destroy event.
  bool DestroyWindow(DesktopWindow window);
  bool SetTitle(DesktopWindow window, std::string title);
  bool SetRect(DesktopWindow window, Rect rect);
  bool Show(DesktopWindow window, bool visible);
  bool Minimize(DesktopWindow window, bool minimized);
  // Makes the window's top-level window the foreground window, on top of the z-order.
  bool SetForeground(DesktopWindow window);
  // Any event exactly as given.
  void Raise(const WinEvent& event);
  // The next hook install fails with this Win32 error.
  void FailNextHook(std::int32_t error);
  std::size_t HookCount() const;

 private:
  struct Node {
    WindowState state;
    std::vector<DesktopWindow> children;  // topmost first
  };
  std::vector<DesktopWindow>& SiblingsLocked(DesktopWindow parent);
  const std::vector<DesktopWindow>* SiblingsLocked(DesktopWindow parent) const;
  std::int64_t VisibleAreaLocked(DesktopWindow window) const;
  void CollectLocked(DesktopWindow window, std::vector<DesktopWindow>& out) const;
  void Changed() { cache_.clear(); }
  WinEvent EventLocked(std::uint32_t event, DesktopWindow window) const;

  ScreenSize screen_;
  mutable std::recursive_mutex callMutex_;  // held while hooks run
  mutable std::mutex mutex_;
  std::map<HookId, WinEventHook> hooks_;
  HookId nextHook_ = 1;
  std::int32_t failHook_ = 0;
  std::map<DesktopWindow, Node> windows_;
  std::vector<DesktopWindow> topLevel_;  // topmost first
  DesktopWindow foreground_ = 0;
  DesktopWindow nextId_ = 0x10000;
  // Visible areas since the last change: the accounting asks for each window every second.
  mutable std::map<DesktopWindow, std::int64_t> cache_;
};

}  // namespace qv::platform
