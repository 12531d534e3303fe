#include "platform/desktop/x11_input.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

#include "platform/desktop/x11_common.h"
#include "platform/messaging/message_ids.h"

namespace qv::platform {

namespace {

constexpr int VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_CONTROL = 0x11, VK_MENU = 0x12,
              VK_ESCAPE = 0x1B, VK_MBUTTON = 0x04, VK_DELETE = 0x2E;
constexpr std::uint32_t WM_MOUSEHWHEEL = 0x020E;
// Pointer queries while dragging are made at most this often (ms); moves in between reuse
// the last answer.
constexpr std::int64_t kPointerQueryMs = 50;

int ButtonKey(int button) {
  switch (button) {
    case 1: return VK_LBUTTON;
    case 2: return VK_MBUTTON;
    case 3: return VK_RBUTTON;
    default: return 0;
  }
}

std::uint32_t ButtonMessage(int button, bool press) {
  switch (button) {
    case 1: return press ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case 2: return press ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    case 3: return press ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    case 4: case 5: return press ? WM_MOUSEWHEEL : 0;
    case 6: case 7: return press ? WM_MOUSEHWHEEL : 0;
    default: return 0;
  }
}

}  // namespace

std::uint32_t VirtualKeyOf(unsigned long sym) {
  if (sym >= XK_a && sym <= XK_z) return static_cast<std::uint32_t>('A' + (sym - XK_a));
  if (sym >= XK_A && sym <= XK_Z) return static_cast<std::uint32_t>(sym);
  if (sym >= XK_0 && sym <= XK_9) return static_cast<std::uint32_t>(sym);
  switch (sym) {
    case XK_space: return VK_SPACE;
    case XK_Shift_L: case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L: case XK_Control_R: return VK_CONTROL;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: return VK_MENU;
    case XK_Return: case XK_KP_Enter: return VK_RETURN;
    case XK_BackSpace: return VK_BACK;
    case XK_Tab: return VK_TAB;
    case XK_Escape: return VK_ESCAPE;
    case XK_Delete: return VK_DELETE;
    default: return 0;
  }
}

std::unique_ptr<X11Input> X11Input::Connect(const char* display, const Clock& clock, HRESULT& hr,
                                           std::function<void()> onLost) {
  auto conn = std::make_unique<x11::Conn>(display, std::move(onLost));
  hr = HresultFromWin32(win32::ERROR_NOT_SUPPORTED);
  if (!conn->display) return nullptr;
  int opcode = 0, event = 0, error = 0;
  if (!XQueryExtension(conn->display, "XInputExtension", &opcode, &event, &error)) return nullptr;
  int major = 2, minor = 0;
  if (XIQueryVersion(conn->display, &major, &minor) != Success || major < 2) return nullptr;
  int ssEvent = 0, ssError = 0;
  const bool idle = XScreenSaverQueryExtension(conn->display, &ssEvent, &ssError) != 0;
  hr = S_OK;
  return std::unique_ptr<X11Input>(new X11Input(std::move(conn), opcode, idle, clock));
}

X11Input::X11Input(std::unique_ptr<x11::Conn> conn, int xiOpcode, bool idle, const Clock& clock)
    : conn_(std::move(conn)), xiOpcode_(xiOpcode), idle_(idle), clock_(clock) {
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XISetMask(bits, XI_RawButtonPress);
  XISetMask(bits, XI_RawButtonRelease);
  XISetMask(bits, XI_RawMotion);
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
  XISelectEvents(conn_->display, conn_->root, &mask, 1);
  XFlush(conn_->display);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  thread_ = std::thread([this] { EventLoop(); });
}

X11Input::~X11Input() {
  stop_ = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

InputSource::HookId X11Input::AddKeyboardHook(KeyboardHook hook, std::int32_t& error) {
  error = 0;
  std::lock_guard lock(mutex_);
  keyboard_.emplace(nextId_, std::move(hook));
  return nextId_++;
}

InputSource::HookId X11Input::AddMouseHook(MouseHook hook, std::int32_t& error) {
  error = 0;
  std::lock_guard lock(mutex_);
  mouse_.emplace(nextId_, std::move(hook));
  return nextId_++;
}

bool X11Input::RemoveHook(HookId id, std::int32_t& error) {
  std::lock_guard call(callMutex_);
  std::lock_guard lock(mutex_);
  if (keyboard_.erase(id) + mouse_.erase(id) == 0) {
    error = win32::ERROR_INVALID_HANDLE;
    return false;
  }
  error = 0;
  return true;
}

std::uint16_t X11Input::AsyncKeyState(int vk) {
  std::lock_guard lock(mutex_);
  std::uint16_t state = vkDown_.count(vk) ? 0x8000 : 0;
  if (vkPressed_.erase(vk)) state |= 1;
  return state;
}

bool X11Input::LastInputTick(std::uint32_t& tick) const {
  if (!idle_) return false;
  std::lock_guard lock(connMutex_);
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  if (!info) return false;
  const bool ok = XScreenSaverQueryInfo(conn_->display, conn_->root, info) != 0;
  if (ok) tick = clock_.Tick() - static_cast<std::uint32_t>(info->idle);
  XFree(info);
  return ok;
}

std::uint64_t X11Input::UnderPointer(std::int32_t& x, std::int32_t& y) {
  // The deepest window under the pointer: inside a window manager's frame it is the client or
  // one of its children.
  Display* d = conn_->display;
  Window w = conn_->root, found = 0;
  for (int depth = 0; depth < 32; ++depth) {
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    if (!XQueryPointer(d, w, &root, &child, &rx, &ry, &wx, &wy, &mask)) break;
    x = rx;
    y = ry;
    if (child == None) break;
    found = w = child;
  }
  return found;
}

std::uint64_t X11Input::KeyboardTarget() {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(conn_->display, &focus, &revert);
  if (focus == None || focus == PointerRoot || focus == conn_->root) {
    std::int32_t x = 0, y = 0;
    return UnderPointer(x, y);
  }
  return focus;
}

void X11Input::EventLoop() {
  Display* d = conn_->display;
  while (!stop_ && !conn_->Lost()) {
    pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    {
      std::lock_guard lock(connMutex_);
      if (XPending(d) > 0) fds[0].revents = POLLIN;
    }
    if (conn_->Lost()) return;  // Xlib met the break
    if (fds[0].revents == 0) {
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (stop_) return;
      if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        conn_->MarkLost();  // the server went away
        return;
      }
    }
    std::vector<KeyboardEvent> keys;
    std::vector<MouseEvent> mice;
    {
      std::lock_guard lock(connMutex_);
      while (XPending(d) > 0) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.xcookie.type != GenericEvent || ev.xcookie.extension != xiOpcode_) continue;
        if (!XGetEventData(d, &ev.xcookie)) continue;
        const auto* raw = static_cast<const XIRawEvent*>(ev.xcookie.data);
        const int type = ev.xcookie.evtype;
        if (type == XI_RawKeyPress || type == XI_RawKeyRelease) {
          const bool press = type == XI_RawKeyPress;
          const bool wasDown = keysDown_.count(raw->detail) != 0;
          if (press) keysDown_.insert(raw->detail); else keysDown_.erase(raw->detail);
          KeyboardEvent k;
          k.code = HC_ACTION;
          k.virtualKey = VirtualKeyOf(XkbKeycodeToKeysym(d, static_cast<KeyCode>(raw->detail), 0, 0));
          k.keyFlags = 1 | (wasDown ? kKeyFlagPreviousDown : 0) | (press ? 0 : kKeyFlagReleased);
          k.focusWindow = KeyboardTarget();
          keys.push_back(k);
          std::lock_guard l(mutex_);
          if (k.virtualKey != 0) {
            if (press) {
              vkDown_.insert(static_cast<int>(k.virtualKey));
              vkPressed_.insert(static_cast<int>(k.virtualKey));
            } else {
              vkDown_.erase(static_cast<int>(k.virtualKey));
            }
          }
        } else if (type == XI_RawButtonPress || type == XI_RawButtonRelease) {
          const bool press = type == XI_RawButtonPress;
          MouseEvent m;
          m.code = HC_ACTION;
          m.message = ButtonMessage(raw->detail, press);
          if (m.message != 0) {
            MouseRecord r;
            r.window = UnderPointer(r.x, r.y);
            lastPointer_ = r;
            lastPointerQuery_ = clock_.Monotonic().count() / 1000000;
            m.record = r;
            mice.push_back(m);
          }
          if (const int vk = ButtonKey(raw->detail)) {
            std::lock_guard l(mutex_);
            if (press) {
              vkDown_.insert(vk);
              vkPressed_.insert(vk);
            } else {
              vkDown_.erase(vk);
            }
          }
        } else if (type == XI_RawMotion) {
          MouseEvent m;
          m.code = HC_ACTION;
          m.message = WM_MOUSEMOVE;
          bool dragging = false;
          {
            std::lock_guard l(mutex_);
            dragging = vkDown_.count(VK_LBUTTON) || vkDown_.count(VK_RBUTTON) ||
                       vkDown_.count(VK_SHIFT) || vkDown_.count(VK_SPACE);
          }
          const std::int64_t nowMs = clock_.Monotonic().count() / 1000000;
          if (dragging && nowMs - lastPointerQuery_ >= kPointerQueryMs) {
            lastPointer_.window = UnderPointer(lastPointer_.x, lastPointer_.y);
            lastPointerQuery_ = nowMs;
          }
          m.record = lastPointer_;
          mice.push_back(m);
        }
        XFreeEventData(d, &ev.xcookie);
      }
    }
    if (keys.empty() && mice.empty()) continue;
    std::lock_guard call(callMutex_);
    std::vector<KeyboardHook> kh;
    std::vector<MouseHook> mh;
    {
      std::lock_guard lock(mutex_);
      for (auto& [id, h] : keyboard_) kh.push_back(h);
      for (auto& [id, h] : mouse_) mh.push_back(h);
    }
    for (const auto& k : keys) {
      for (auto& h : kh) h(k);
    }
    for (const auto& m : mice) {
      for (auto& h : mh) h(m);
    }
  }
}

}  // namespace qv::platform
