#include "platform/desktop/x11_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "platform/desktop/x11_common.h"

namespace qv::platform {

using x11::Conn;

struct X11Desktop::Conn : x11::Conn {
  using x11::Conn::Conn;
};

namespace {

// The window types that make a window a pop-up (menus, tips, notices).
constexpr const char* kPopupTypes[] = {
    "_NET_WM_WINDOW_TYPE_MENU",         "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",   "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",          "_NET_WM_WINDOW_TYPE_SPLASH"};
constexpr long kIconicState = 3;
// Thread ids stand for X clients; without a _NET_WM_PID the window's resource base (its
// client) is used, marked so that it never equals a pid.
constexpr unsigned long kClientBaseShift = 21;
constexpr std::uint32_t kClientMark = 0x80000000u;

bool Minimized(const Conn& c, Window w) {
  const auto state = c.Cardinals(w, c.Intern("WM_STATE"), c.Intern("WM_STATE"));
  if (!state.empty() && state[0] == kIconicState) return true;
  const auto net = c.Cardinals(w, c.Intern("_NET_WM_STATE"), XA_ATOM);
  return std::find(net.begin(), net.end(), c.Intern("_NET_WM_STATE_HIDDEN")) != net.end();
}

std::uint32_t ThreadOf(const Conn& c, Window w) {
  const auto pid = c.Cardinals(w, c.Intern("_NET_WM_PID"), XA_CARDINAL);
  if (!pid.empty() && pid[0] > 0) return static_cast<std::uint32_t>(pid[0]);
  return kClientMark | static_cast<std::uint32_t>(w >> kClientBaseShift);
}

std::vector<Window> TopLevels(const Conn& c) {
  auto list = c.Cardinals(c.root, c.Intern("_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
  std::vector<Window> out;
  if (!list.empty()) {
    for (auto it = list.rbegin(); it != list.rend(); ++it) out.push_back(*it);
    return out;
  }
  out = c.Children(c.root);
  std::reverse(out.begin(), out.end());
  return out;
}

bool IsTopLevel(const Conn& c, Window w, Window parent) {
  if (parent == c.root) return true;
  const auto list = c.Cardinals(c.root, c.Intern("_NET_CLIENT_LIST"), XA_WINDOW);
  return std::find(list.begin(), list.end(), w) != list.end();
}

bool State(const Conn& c, Window w, WindowState& out) {
  XWindowAttributes a{};
  if (!c.Attributes(w, a)) return false;
  Window parent = 0;
  if (!c.Parent(w, parent)) return false;
  out = {};
  out.id = w;
  const bool top = IsTopLevel(c, w, parent);
  out.parent = top ? 0 : parent;
  const auto owner = c.Cardinals(w, XA_WM_TRANSIENT_FOR, XA_WINDOW);
  if (!owner.empty()) out.owner = owner[0];
  out.className = c.ClassName(w);
  out.title = c.Title(w);
  if (a.override_redirect) {
    out.style |= WS_POPUP;
  } else if (top) {
    out.style |= WS_CAPTION;
  }
  const auto types = c.Cardinals(w, c.Intern("_NET_WM_WINDOW_TYPE"), XA_ATOM);
  for (unsigned long t : types) {
    for (const char* p : kPopupTypes) {
      if (t == c.Intern(p)) out.style = (out.style & ~WS_CAPTION) | WS_POPUP;
    }
    if (t == c.Intern("_NET_WM_WINDOW_TYPE_DIALOG")) out.style |= WS_POPUP | WS_CAPTION;
    if (t == c.Intern("_NET_WM_WINDOW_TYPE_UTILITY") || t == c.Intern("_NET_WM_WINDOW_TYPE_TOOLBAR")) {
      out.exStyle |= WS_EX_TOOLWINDOW;
    }
  }
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(c.display, w, c.root, 0, 0, &x, &y, &child);
  out.rect = {x, y, x + a.width, y + a.height};
  out.visible = a.map_state == IsViewable;
  out.minimized = top && Minimized(c, w);
  const auto pid = c.Cardinals(w, c.Intern("_NET_WM_PID"), XA_CARDINAL);
  if (!pid.empty()) out.pid = static_cast<std::int32_t>(pid[0]);
  out.threadId = ThreadOf(c, w);
  return true;
}

// The window that gets the keyboard: the active window, else the focus; a focus that follows
// the pointer means the window under it.
Window ForegroundOf(const Conn& c) {
  const auto active = c.Cardinals(c.root, c.Intern("_NET_ACTIVE_WINDOW"), XA_WINDOW);
  if (!active.empty() && active[0] != 0) return active[0];
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(c.display, &focus, &revert);
  if (focus == None || focus == PointerRoot || focus == c.root) {
    Window root = 0, child = 0;
    int rx, ry, wx, wy;
    unsigned mask;
    if (!XQueryPointer(c.display, c.root, &root, &child, &rx, &ry, &wx, &wy, &mask)) return 0;
    focus = child;
  }
  // Up to the top-level window that holds it.
  for (Window w = focus; w != 0 && w != c.root;) {
    Window parent = 0;
    if (!c.Parent(w, parent)) return 0;
    if (IsTopLevel(c, w, parent)) return w;
    w = parent;
  }
  return 0;
}

Rect ScreenRect(const Conn& c, Window w, const XWindowAttributes& a) {
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(c.display, w, c.root, 0, 0, &x, &y, &child);
  return {x, y, x + a.width, y + a.height};
}

std::int64_t Visible(const Conn& c, Window w) {
  XWindowAttributes a{};
  if (!c.Attributes(w, a) || a.map_state != IsViewable) return 0;
  Window parent = 0;
  if (!c.Parent(w, parent)) return 0;
  if (IsTopLevel(c, w, parent) && Minimized(c, w)) return 0;
  Rect clip = ScreenRect(c, w, a);
  const Rect screen{0, 0, DisplayWidth(c.display, c.screen), DisplayHeight(c.display, c.screen)};
  clip = Intersect(clip, screen);
  std::vector<Rect> region{clip};
  // Walk up: clip by each ancestor and cut away its siblings stacked above it.
  for (Window cur = w; cur != c.root && !region.empty();) {
    Window up = 0;
    if (!c.Parent(cur, up)) return 0;
    const auto siblings = c.Children(up);  // bottom to top
    bool above = false;
    for (Window s : siblings) {
      if (s == cur) {
        above = true;
        continue;
      }
      XWindowAttributes sa{};
      if (!above || !c.Attributes(s, sa) || sa.map_state != IsViewable || sa.c_class == InputOnly) {
        continue;
      }
      SubtractRect(region, ScreenRect(c, s, sa));
    }
    if (up != c.root) {
      XWindowAttributes pa{};
      if (!c.Attributes(up, pa)) return 0;
      const Rect pr = ScreenRect(c, up, pa);
      for (Rect& r : region) r = Intersect(r, pr);
    }
    cur = up;
  }
  std::int64_t area = 0;
  for (const Rect& r : region) area += r.Area();
  return area;
}

}  // namespace

std::unique_ptr<X11Desktop> X11Desktop::Connect(const char* display, HRESULT& hr,
                                                std::function<void()> onLost) {
  // Both connections break together when the server goes; the owner hears of it once.
  auto told = std::make_shared<std::atomic<bool>>(false);
  x11::LostHandler lost;
  if (onLost) {
    lost = [told, onLost] {
      if (!told->exchange(true)) onLost();
    };
  }
  auto query = std::make_unique<Conn>(display, lost);
  auto events = std::make_unique<Conn>(display, lost);
  if (!query->display || !events->display) {
    hr = HresultFromWin32(win32::ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  hr = S_OK;
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(query), std::move(events)));
}

X11Desktop::X11Desktop(std::unique_ptr<Conn> query, std::unique_ptr<Conn> events)
    : query_(std::move(query)), events_(std::move(events)) {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  Conn& c = *events_;
  XSelectInput(c.display, c.root, SubstructureNotifyMask | PropertyChangeMask | FocusChangeMask);
  for (Window w : c.Children(c.root)) Watch(w);
  for (Window w : TopLevels(c)) Watch(w);
  lastForeground_ = ForegroundOf(c);
  XFlush(c.display);
  thread_ = std::thread([this] { EventLoop(); });
}

X11Desktop::~X11Desktop() {
  stop_ = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void X11Desktop::Watch(unsigned long w) {
  XSelectInput(events_->display, w, StructureNotifyMask | PropertyChangeMask | FocusChangeMask);
}

Desktop::HookId X11Desktop::AddWinEventHook(WinEventHook hook, std::int32_t& error) {
  error = 0;
  std::lock_guard lock(hooksMutex_);
  hooks_.emplace(nextHook_, std::move(hook));
  return nextHook_++;
}

bool X11Desktop::RemoveWinEventHook(HookId id, std::int32_t& error) {
  std::lock_guard call(callMutex_);  // waits for a running hook
  std::lock_guard lock(hooksMutex_);
  if (hooks_.erase(id) == 0) {
    error = win32::ERROR_INVALID_HANDLE;
    return false;
  }
  error = 0;
  return true;
}

void X11Desktop::Raise(std::uint32_t event, DesktopWindow window) {
  WinEvent e{event, window, OBJID_WINDOW, CHILDID_SELF, WindowThread(window)};
  std::lock_guard call(callMutex_);
  std::vector<WinEventHook> hooks;
  {
    std::lock_guard lock(hooksMutex_);
    for (auto& [id, h] : hooks_) hooks.push_back(h);
  }
  for (auto& h : hooks) h(e);
}

void X11Desktop::EventLoop() {
  Conn& c = *events_;
  const Atom netName = c.Intern("_NET_WM_NAME"), active = c.Intern("_NET_ACTIVE_WINDOW");
  const Atom wmState = c.Intern("WM_STATE"), netState = c.Intern("_NET_WM_STATE");
  unsigned long lastSerial = 0;
  int lastType = 0;
  Window lastWindow = 0;
  while (!stop_ && !c.Lost()) {
    pollfd fds[2] = {{ConnectionNumber(c.display), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (XPending(c.display) == 0) {
      if (c.Lost()) return;  // Xlib met the break
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (stop_) return;
      if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        c.MarkLost();  // the server went away
        return;
      }
    }
    while (!stop_ && !c.Lost() && XPending(c.display) > 0) {
      XEvent ev;
      XNextEvent(c.display, &ev);
      Window w = ev.xany.window;
      std::uint32_t winEvent = 0;
      switch (ev.type) {
        case CreateNotify:
          w = ev.xcreatewindow.window;
          Watch(w);
          winEvent = EVENT_OBJECT_CREATE;
          break;
        case DestroyNotify:
          w = ev.xdestroywindow.window;
          minimized_.erase(w);
          winEvent = EVENT_OBJECT_DESTROY;
          break;
        case MapNotify:
          w = ev.xmap.window;
          winEvent = EVENT_OBJECT_SHOW;
          break;
        case UnmapNotify:
          w = ev.xunmap.window;
          winEvent = EVENT_OBJECT_HIDE;
          break;
        case ConfigureNotify:
          w = ev.xconfigure.window;
          winEvent = EVENT_OBJECT_LOCATIONCHANGE;
          break;
        case PropertyNotify: {
          const Atom a = ev.xproperty.atom;
          if (w != c.root && (a == netName || a == XA_WM_NAME)) {
            winEvent = EVENT_OBJECT_NAMECHANGE;
          } else if (w != c.root && (a == wmState || a == netState)) {
            const bool now = Minimized(c, w);
            const bool was = minimized_.count(w) != 0;
            if (now != was) {
              if (now) minimized_.insert(w); else minimized_.erase(w);
              winEvent = now ? EVENT_SYSTEM_MINIMIZESTART : EVENT_SYSTEM_MINIMIZEEND;
            }
          } else if (w == c.root && a == active) {
            w = 0;  // below
          } else {
            break;
          }
          if (winEvent != 0 || w != 0) break;
          [[fallthrough]];
        }
        case FocusIn:
        case FocusOut: {
          const Window fg = ForegroundOf(c);
          if (fg != 0 && fg != lastForeground_) {
            lastForeground_ = fg;
            w = fg;
            winEvent = EVENT_SYSTEM_FOREGROUND;
          }
          break;
        }
        default:
          break;
      }
      // A root child's structure events come twice (root's and its own selection).
      const bool repeated = ev.xany.serial == lastSerial && ev.type == lastType && w == lastWindow;
      lastSerial = ev.xany.serial;
      lastType = ev.type;
      lastWindow = w;
      if (winEvent != 0 && w != 0 && !repeated) Raise(winEvent, w);
    }
  }
}

bool X11Desktop::IsWindow(DesktopWindow window) const {
  if (window == 0) return false;
  std::lock_guard lock(queryMutex_);
  XWindowAttributes a{};
  return query_->Attributes(window, a);
}

bool X11Desktop::GetWindow(DesktopWindow window, WindowState& out) const {
  if (window == 0) return false;
  std::lock_guard lock(queryMutex_);
  return State(*query_, window, out);
}

std::uint32_t X11Desktop::WindowThread(DesktopWindow window) const {
  if (window == 0) return 0;
  std::lock_guard lock(queryMutex_);
  XWindowAttributes a{};
  if (!query_->Attributes(window, a)) return 0;
  return ThreadOf(*query_, window);
}

bool X11Desktop::IsDescendant(DesktopWindow ancestor, DesktopWindow window) const {
  if (ancestor == 0 || window == 0 || ancestor == window) return false;
  std::lock_guard lock(queryMutex_);
  Window w = window;
  while (w != 0 && w != query_->root) {
    Window parent = 0;
    if (!query_->Parent(w, parent)) return false;
    if (parent == ancestor) return true;
    w = parent;
  }
  return false;
}

std::vector<DesktopWindow> X11Desktop::TopLevelWindows() const {
  std::lock_guard lock(queryMutex_);
  const auto list = TopLevels(*query_);
  return {list.begin(), list.end()};
}

std::vector<DesktopWindow> X11Desktop::Children(DesktopWindow window) const {
  if (window == 0) return {};
  std::lock_guard lock(queryMutex_);
  auto list = query_->Children(window);
  std::reverse(list.begin(), list.end());  // topmost first
  return {list.begin(), list.end()};
}

DesktopWindow X11Desktop::Foreground() const {
  std::lock_guard lock(queryMutex_);
  return ForegroundOf(*query_);
}

std::int64_t X11Desktop::VisibleArea(DesktopWindow window) const {
  if (window == 0) return 0;
  std::lock_guard lock(queryMutex_);
  return Visible(*query_, window);
}

ScreenSize X11Desktop::FullScreen() const {
  std::lock_guard lock(queryMutex_);
  const Conn& c = *query_;
  const auto area = c.Cardinals(c.root, c.Intern("_NET_WORKAREA"), XA_CARDINAL);
  if (area.size() >= 4 && area[2] > 0 && area[3] > 0) {
    return {static_cast<std::int64_t>(area[2]), static_cast<std::int64_t>(area[3])};
  }
  return {DisplayWidth(c.display, c.screen), DisplayHeight(c.display, c.screen)};
}

bool X11Desktop::HasActiveWindowProperty() const {
  std::lock_guard lock(queryMutex_);
  const Conn& c = *query_;
  return !c.Cardinals(c.root, c.Intern("_NET_ACTIVE_WINDOW"), XA_WINDOW).empty();
}

}  // namespace qv::platform
