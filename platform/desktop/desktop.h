#pragma once
// The Desktop port: the user's windows as the tracer sees them (id, parent, owner, class,
// title, styles, rectangle, z-order, visibility), the foreground window, and the window
// events (WinEvents) it listens to. SimDesktop drives it in tests and the demo; an X11 source
// reads the real desktop.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv::platform {

using DesktopWindow = std::uint64_t;  // 0 is "no window"

// Window styles the tracer tests.
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;  // border | dialog frame
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_DLGFRAME = 0x00400000;
inline constexpr std::uint32_t WS_EX_TOOLWINDOW = 0x00000080;

// WinEvents.
inline constexpr std::uint32_t EVENT_MIN = 0x00000001;
inline constexpr std::uint32_t EVENT_MAX = 0x7FFFFFFF;
inline constexpr std::uint32_t EVENT_SYSTEM_FOREGROUND = 0x0003;
inline constexpr std::uint32_t EVENT_SYSTEM_MENUEND = 0x0005;
inline constexpr std::uint32_t EVENT_SYSTEM_DRAGDROPEND = 0x000F;
inline constexpr std::uint32_t EVENT_SYSTEM_DIALOGEND = 0x0011;
inline constexpr std::uint32_t EVENT_SYSTEM_MINIMIZESTART = 0x0016;
inline constexpr std::uint32_t EVENT_SYSTEM_MINIMIZEEND = 0x0017;
inline constexpr std::uint32_t EVENT_OBJECT_CREATE = 0x8000;
inline constexpr std::uint32_t EVENT_OBJECT_DESTROY = 0x8001;
inline constexpr std::uint32_t EVENT_OBJECT_SHOW = 0x8002;
inline constexpr std::uint32_t EVENT_OBJECT_HIDE = 0x8003;
inline constexpr std::uint32_t EVENT_OBJECT_LOCATIONCHANGE = 0x800B;
inline constexpr std::uint32_t EVENT_OBJECT_NAMECHANGE = 0x800C;
inline constexpr std::int32_t OBJID_WINDOW = 0;
inline constexpr std::int32_t OBJID_CURSOR = -9;
inline constexpr std::int32_t CHILDID_SELF = 0;

struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  std::int64_t Width() const { return right > left ? std::int64_t{right} - left : 0; }
  std::int64_t Height() const { return bottom > top ? std::int64_t{bottom} - top : 0; }
  std::int64_t Area() const { return Width() * Height(); }
  bool Empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

Rect Intersect(const Rect& a, const Rect& b);
// Removes `cut` from every rectangle of `region`, splitting each into at most four pieces.
void SubtractRect(std::vector<Rect>& region, const Rect& cut);

struct WindowState {
  DesktopWindow id = 0;
  DesktopWindow parent = 0;  // 0 for a top-level window
  DesktopWindow owner = 0;
  std::string className;
  std::string title;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  Rect rect;  // screen coordinates
  bool visible = true;
  bool minimized = false;
  std::uint32_t threadId = 0;  // the thread that owns the window
  std::int32_t pid = 0;
};

// One window event as an out-of-context WinEvent hook receives it.
struct WinEvent {
  std::uint32_t event = 0;
  DesktopWindow window = 0;
  std::int32_t objectId = OBJID_WINDOW;
  std::int32_t childId = CHILDID_SELF;
  std::uint32_t thread = 0;  // the thread that raised the event
};

// The screen size the tracer measures coverage against (SM_CXFULLSCREEN x SM_CYFULLSCREEN).
struct ScreenSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
};

class Desktop {
 public:
  using HookId = std::uint32_t;  // 0 is "no hook"
  using WinEventHook = std::function<void(const WinEvent&)>;

  virtual ~Desktop() = default;

  // Hooks every event of every process. Hooks are called on the source's thread and must
  // return quickly. On failure 0 is returned and `error` holds the Win32 error.
  virtual HookId AddWinEventHook(WinEventHook hook, std::int32_t& error) = 0;
  // Once this returns the hook is not running and is never called again.
  virtual bool RemoveWinEventHook(HookId id, std::int32_t& error) = 0;

  virtual bool IsWindow(DesktopWindow window) const = 0;
  virtual bool GetWindow(DesktopWindow window, WindowState& out) const = 0;
  // The owning thread, 0 for no window.
  virtual std::uint32_t WindowThread(DesktopWindow window) const = 0;
  // True if `window` is a child, grandchild... of `ancestor` (never of itself).
  virtual bool IsDescendant(DesktopWindow ancestor, DesktopWindow window) const = 0;
  // Top-level windows in z-order, topmost first.
  virtual std::vector<DesktopWindow> TopLevelWindows() const = 0;
  // Direct children in z-order, topmost first.
  virtual std::vector<DesktopWindow> Children(DesktopWindow window) const = 0;
  virtual DesktopWindow Foreground() const = 0;
  // Pixels of the window that can be seen: inside the screen and its ancestors, not covered
  // by windows above it; 0 for an invisible or minimised window or one of a hidden parent.
  virtual std::int64_t VisibleArea(DesktopWindow window) const = 0;
  virtual ScreenSize FullScreen() const = 0;
};

}  // namespace qv::platform
