#include "platform/desktop/sim_desktop.h"

#include <algorithm>

#include "common/hresult.h"

namespace qv::platform {

Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.Empty()) return Rect{};
  return r;
}

void SubtractRect(std::vector<Rect>& region, const Rect& cut) {
  std::vector<Rect> out;
  out.reserve(region.size() + 4);
  for (const Rect& r : region) {
    const Rect i = Intersect(r, cut);
    if (i.Empty()) {
      out.push_back(r);
      continue;
    }
    if (r.top < i.top) out.push_back({r.left, r.top, r.right, i.top});
    if (i.bottom < r.bottom) out.push_back({r.left, i.bottom, r.right, r.bottom});
    if (r.left < i.left) out.push_back({r.left, i.top, i.left, i.bottom});
    if (i.right < r.right) out.push_back({i.right, i.top, r.right, i.bottom});
  }
  region.swap(out);
}

SimDesktop::SimDesktop(ScreenSize screen) : screen_(screen) {}

Desktop::HookId SimDesktop::AddWinEventHook(WinEventHook hook, std::int32_t& error) {
  std::lock_guard lock(mutex_);
  if (failHook_ != 0) {
    error = failHook_;
    failHook_ = 0;
    return 0;
  }
  if (!hook) {
    error = win32::ERROR_INVALID_PARAMETER;
    return 0;
  }
  hooks_[nextHook_] = std::move(hook);
  return nextHook_++;
}

bool SimDesktop::RemoveWinEventHook(HookId id, std::int32_t& error) {
  std::lock_guard call(callMutex_);
  std::lock_guard lock(mutex_);
  if (hooks_.erase(id) == 0) {
    error = win32::ERROR_INVALID_HANDLE;
    return false;
  }
  return true;
}

bool SimDesktop::IsWindow(DesktopWindow window) const {
  std::lock_guard lock(mutex_);
  return windows_.count(window) != 0;
}

bool SimDesktop::GetWindow(DesktopWindow window, WindowState& out) const {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  out = it->second.state;
  return true;
}

std::uint32_t SimDesktop::WindowThread(DesktopWindow window) const {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  return it == windows_.end() ? 0 : it->second.state.threadId;
}

bool SimDesktop::IsDescendant(DesktopWindow ancestor, DesktopWindow window) const {
  std::lock_guard lock(mutex_);
  if (ancestor == 0) return false;
  for (auto it = windows_.find(window); it != windows_.end();) {
    const DesktopWindow parent = it->second.state.parent;
    if (parent == 0) return false;
    if (parent == ancestor) return true;
    it = windows_.find(parent);
  }
  return false;
}

std::vector<DesktopWindow> SimDesktop::TopLevelWindows() const {
  std::lock_guard lock(mutex_);
  return topLevel_;
}

std::vector<DesktopWindow> SimDesktop::Children(DesktopWindow window) const {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  return it == windows_.end() ? std::vector<DesktopWindow>{} : it->second.children;
}

DesktopWindow SimDesktop::Foreground() const {
  std::lock_guard lock(mutex_);
  return foreground_;
}

ScreenSize SimDesktop::FullScreen() const { return screen_; }

std::int64_t SimDesktop::VisibleArea(DesktopWindow window) const {
  std::lock_guard lock(mutex_);
  if (auto it = cache_.find(window); it != cache_.end()) return it->second;
  const std::int64_t area = VisibleAreaLocked(window);
  cache_[window] = area;
  return area;
}

std::vector<DesktopWindow>& SimDesktop::SiblingsLocked(DesktopWindow parent) {
  return parent == 0 ? topLevel_ : windows_.at(parent).children;
}

const std::vector<DesktopWindow>* SimDesktop::SiblingsLocked(DesktopWindow parent) const {
  if (parent == 0) return &topLevel_;
  auto it = windows_.find(parent);
  return it == windows_.end() ? nullptr : &it->second.children;
}

std::int64_t SimDesktop::VisibleAreaLocked(DesktopWindow window) const {
  // The window, clipped by the screen and by every ancestor; hidden by anything hidden above.
  std::vector<Rect> region;
  {
    Rect clip{0, 0, static_cast<std::int32_t>(screen_.width),
              static_cast<std::int32_t>(screen_.height)};
    for (DesktopWindow w = window; w != 0;) {
      auto it = windows_.find(w);
      if (it == windows_.end()) return 0;
      const WindowState& s = it->second.state;
      if (!s.visible || s.minimized) return 0;
      clip = Intersect(clip, s.rect);
      w = s.parent;
    }
    if (clip.Empty()) return 0;
    region.push_back(clip);
  }
  // Siblings above each window of the chain, up to the top-level windows, cover it.
  for (DesktopWindow w = window; w != 0 && !region.empty();) {
    const WindowState& s = windows_.at(w).state;
    const auto* siblings = SiblingsLocked(s.parent);
    if (siblings == nullptr) break;
    for (DesktopWindow above : *siblings) {
      if (above == w) break;
      const WindowState& a = windows_.at(above).state;
      if (!a.visible || a.minimized) continue;
      SubtractRect(region, a.rect);
      if (region.empty()) break;
    }
    w = s.parent;
  }
  std::int64_t area = 0;
  for (const Rect& r : region) area += r.Area();
  return area;
}

WinEvent SimDesktop::EventLocked(std::uint32_t event, DesktopWindow window) const {
  auto it = windows_.find(window);
  return WinEvent{event, window, OBJID_WINDOW, CHILDID_SELF,
                  it == windows_.end() ? 0 : it->second.state.threadId};
}

DesktopWindow SimDesktop::CreateWindow(WindowState state) {
  std::lock_guard call(callMutex_);
  std::vector<WinEvent> events;
  DesktopWindow id = 0;
  {
    std::lock_guard lock(mutex_);
    if (state.id == 0) {
      while (windows_.count(nextId_) != 0) ++nextId_;
      state.id = nextId_++;
    }
    if (windows_.count(state.id) != 0) return 0;
    if (state.parent != 0 && windows_.count(state.parent) == 0) return 0;
    id = state.id;
    auto& siblings = SiblingsLocked(state.parent);
    siblings.insert(siblings.begin(), id);
    const bool visible = state.visible;
    windows_[id] = Node{std::move(state), {}};
    Changed();
    events.push_back(EventLocked(EVENT_OBJECT_CREATE, id));
    if (visible) events.push_back(EventLocked(EVENT_OBJECT_SHOW, id));
  }
  for (const auto& e : events) Raise(e);
  return id;
}

void SimDesktop::CollectLocked(DesktopWindow window, std::vector<DesktopWindow>& out) const {
  for (DesktopWindow child : windows_.at(window).children) CollectLocked(child, out);
  out.push_back(window);
}

bool SimDesktop::DestroyWindow(DesktopWindow window) {
  std::lock_guard call(callMutex_);
  std::vector<WinEvent> events;
  {
    std::lock_guard lock(mutex_);
    if (windows_.count(window) == 0) return false;
    std::vector<DesktopWindow> gone;
    CollectLocked(window, gone);
    for (DesktopWindow w : gone) events.push_back(EventLocked(EVENT_OBJECT_DESTROY, w));
    auto& siblings = SiblingsLocked(windows_.at(window).state.parent);
    std::erase(siblings, window);
    for (DesktopWindow w : gone) {
      windows_.erase(w);
      if (foreground_ == w) foreground_ = 0;
    }
    Changed();
  }
  for (const auto& e : events) Raise(e);
  return true;
}

bool SimDesktop::SetTitle(DesktopWindow window, std::string title) {
  std::lock_guard call(callMutex_);
  WinEvent event;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    it->second.state.title = std::move(title);
    event = EventLocked(EVENT_OBJECT_NAMECHANGE, window);
  }
  Raise(event);
  return true;
}

bool SimDesktop::SetRect(DesktopWindow window, Rect rect) {
  std::lock_guard call(callMutex_);
  WinEvent event;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    it->second.state.rect = rect;
    Changed();
    event = EventLocked(EVENT_OBJECT_LOCATIONCHANGE, window);
  }
  Raise(event);
  return true;
}

bool SimDesktop::Show(DesktopWindow window, bool visible) {
  std::lock_guard call(callMutex_);
  WinEvent event;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    it->second.state.visible = visible;
    Changed();
    event = EventLocked(visible ? EVENT_OBJECT_SHOW : EVENT_OBJECT_HIDE, window);
  }
  Raise(event);
  return true;
}

bool SimDesktop::Minimize(DesktopWindow window, bool minimized) {
  std::lock_guard call(callMutex_);
  std::vector<WinEvent> events;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    it->second.state.minimized = minimized;
    Changed();
    events.push_back(
        EventLocked(minimized ? EVENT_SYSTEM_MINIMIZESTART : EVENT_SYSTEM_MINIMIZEEND, window));
    events.push_back(EventLocked(EVENT_OBJECT_LOCATIONCHANGE, window));
  }
  for (const auto& e : events) Raise(e);
  return true;
}

bool SimDesktop::SetForeground(DesktopWindow window) {
  std::lock_guard call(callMutex_);
  WinEvent event;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    DesktopWindow top = window;
    while (windows_.at(top).state.parent != 0) top = windows_.at(top).state.parent;
    std::erase(topLevel_, top);
    topLevel_.insert(topLevel_.begin(), top);
    foreground_ = top;
    Changed();
    event = EventLocked(EVENT_SYSTEM_FOREGROUND, top);
  }
  Raise(event);
  return true;
}

void SimDesktop::Raise(const WinEvent& event) {
  std::lock_guard call(callMutex_);
  std::map<HookId, WinEventHook> hooks;
  {
    std::lock_guard lock(mutex_);
    hooks = hooks_;
  }
  for (auto& [id, hook] : hooks) hook(event);
}

void SimDesktop::FailNextHook(std::int32_t error) {
  std::lock_guard lock(mutex_);
  failHook_ = error;
}

std::size_t SimDesktop::HookCount() const {
  std::lock_guard lock(mutex_);
  return hooks_.size();
}

}  // namespace qv::platform
