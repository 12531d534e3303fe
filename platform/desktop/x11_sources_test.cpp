// The X11 sources under a private Xvfb (no window manager): windows, titles, processes,
// stacking and visible area, the focus standing in for the active window, window events, and
// raw keyboard and mouse input made with xdotool, and the screen saver's state.
// GoogleTest before Xlib: Xlib's macros (None, Bool, Status) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "common/clock.h"
#include "platform/desktop/x11_desktop.h"
#include "platform/desktop/desktop_session.h"
#include "platform/desktop/logind_session.h"
#include "platform/desktop/x11_input.h"
#include "platform/desktop/x11_screen_saver.h"
#include "common/temp_dir.h"
#include "platform/desktop/xvfb_server.h"
#include "platform/messaging/message_ids.h"

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

template <typename F>
bool Eventually(F&& f, std::chrono::milliseconds limit = 5000ms) {
  for (auto t = 0ms; t < limit; t += 20ms) {
    if (f()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return f();
}

class X11SourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
    server_ = std::make_unique<XvfbServer>();
    if (!server_->Ready()) GTEST_SKIP() << "Xvfb did not start";
    client_ = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(client_, nullptr);
  }
  void TearDown() override {
    if (client_) XCloseDisplay(client_);
  }
  // A mapped top-level window of this test's own X client.
  Window MakeWindow(const std::string& title, int x, int y, int w, int h, bool popup = false) {
    XSetWindowAttributes a{};
    a.override_redirect = popup ? True : False;
    const Window win = XCreateWindow(client_, DefaultRootWindow(client_), x, y, w, h, 0,
                                     CopyFromParent, InputOutput, CopyFromParent,
                                     CWOverrideRedirect, &a);
    XStoreName(client_, win, title.c_str());
    const unsigned long pid = static_cast<unsigned long>(::getpid());
    XChangeProperty(client_, win, XInternAtom(client_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    XClassHint hint{const_cast<char*>("editor"), const_cast<char*>("Editor")};
    XSetClassHint(client_, win, &hint);
    XMapWindow(client_, win);
    XSync(client_, False);
    return win;
  }

  std::unique_ptr<XvfbServer> server_;
  Display* client_ = nullptr;
};

TEST_F(X11SourcesTest, WindowsTitlesStackingAndVisibleArea) {
  HRESULT hr = E_FAIL;
  auto desk = X11Desktop::Connect(server_->display().c_str(), hr);
  ASSERT_TRUE(desk) << FormatHresult(hr);
  const Window a = MakeWindow("report.txt - Editor", 0, 0, 100, 100);
  const Window b = MakeWindow("other", 50, 50, 100, 100);  // on top of a quarter of a
  const Window menu = MakeWindow("menu", 500, 500, 10, 10, true);

  WindowState s;
  ASSERT_TRUE(desk->GetWindow(a, s));
  EXPECT_EQ(s.title, "report.txt - Editor");
  EXPECT_EQ(s.className, "Editor");
  EXPECT_EQ(s.pid, ::getpid());
  EXPECT_EQ(s.threadId, static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(s.parent, 0u);
  EXPECT_TRUE(s.visible);
  EXPECT_EQ(s.style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(s.rect, (Rect{0, 0, 100, 100}));
  ASSERT_TRUE(desk->GetWindow(menu, s));
  EXPECT_NE(s.style & WS_POPUP, 0u);

  const auto tops = desk->TopLevelWindows();
  ASSERT_GE(tops.size(), 3u);
  EXPECT_EQ(tops[0], menu);  // topmost first
  EXPECT_EQ(tops[1], b);
  EXPECT_EQ(desk->VisibleArea(a), 10000 - 2500);
  EXPECT_EQ(desk->VisibleArea(b), 10000);
  XRaiseWindow(client_, a);
  XSync(client_, False);
  EXPECT_EQ(desk->VisibleArea(a), 10000);
  EXPECT_EQ(desk->VisibleArea(b), 10000 - 2500);
  XUnmapWindow(client_, a);
  XSync(client_, False);
  EXPECT_EQ(desk->VisibleArea(a), 0);
  EXPECT_EQ(desk->VisibleArea(b), 10000);

  // A child window: its parent is known, and it is a descendant.
  const Window child = XCreateSimpleWindow(client_, b, 0, 0, 10, 10, 0, 0, 0);
  XSync(client_, False);
  ASSERT_TRUE(desk->GetWindow(child, s));
  EXPECT_EQ(s.parent, b);
  EXPECT_TRUE(desk->IsDescendant(b, child));
  EXPECT_FALSE(desk->IsDescendant(child, b));
  EXPECT_EQ(desk->Children(b), std::vector<DesktopWindow>{child});

  EXPECT_EQ(desk->FullScreen().width, 1024);
  EXPECT_EQ(desk->FullScreen().height, 768);
  XDestroyWindow(client_, a);
  XSync(client_, False);
  EXPECT_FALSE(desk->IsWindow(a));
  EXPECT_FALSE(desk->GetWindow(a, s));
  EXPECT_EQ(desk->VisibleArea(a), 0);
}

TEST_F(X11SourcesTest, WindowEventsAndFocusAsForeground) {
  HRESULT hr = E_FAIL;
  auto desk = X11Desktop::Connect(server_->display().c_str(), hr);
  ASSERT_TRUE(desk);
  EXPECT_FALSE(desk->HasActiveWindowProperty());  // no window manager
  std::mutex m;
  std::vector<WinEvent> seen;
  std::int32_t err = 0;
  const auto hook = desk->AddWinEventHook(
      [&](const WinEvent& e) {
        std::lock_guard lock(m);
        seen.push_back(e);
      },
      err);
  ASSERT_NE(hook, 0u);
  auto saw = [&](std::uint32_t event, DesktopWindow w) {
    return Eventually([&] {
      std::lock_guard lock(m);
      for (const auto& e : seen) {
        if (e.event == event && e.window == w && e.objectId == OBJID_WINDOW) return true;
      }
      return false;
    });
  };
  const Window a = MakeWindow("first.txt", 0, 0, 200, 200);
  EXPECT_TRUE(saw(EVENT_OBJECT_CREATE, a));
  EXPECT_TRUE(saw(EVENT_OBJECT_SHOW, a));
  XStoreName(client_, a, "second.txt");
  XSync(client_, False);
  EXPECT_TRUE(saw(EVENT_OBJECT_NAMECHANGE, a));
  XSetInputFocus(client_, a, RevertToParent, CurrentTime);
  XSync(client_, False);
  EXPECT_TRUE(saw(EVENT_SYSTEM_FOREGROUND, a));
  EXPECT_EQ(desk->Foreground(), a);
  XMoveWindow(client_, a, 10, 10);
  XSync(client_, False);
  EXPECT_TRUE(saw(EVENT_OBJECT_LOCATIONCHANGE, a));
  XDestroyWindow(client_, a);
  XSync(client_, False);
  EXPECT_TRUE(saw(EVENT_OBJECT_DESTROY, a));
  {
    std::lock_guard lock(m);
    const auto destroys = std::count_if(seen.begin(), seen.end(), [&](const WinEvent& e) {
      return e.event == EVENT_OBJECT_DESTROY && e.window == a;
    });
    EXPECT_EQ(destroys, 1);  // once, though both the root and the window report it
  }
  EXPECT_TRUE(desk->RemoveWinEventHook(hook, err));
  EXPECT_FALSE(desk->RemoveWinEventHook(hook, err));
}

TEST_F(X11SourcesTest, RawInputFromXdotoolAndIdleTime) {
  if (::access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "xdotool is not installed";
  SystemClock clock;
  HRESULT hr = E_FAIL;
  auto input = X11Input::Connect(server_->display().c_str(), clock, hr);
  ASSERT_TRUE(input) << FormatHresult(hr);
  const Window a = MakeWindow("typing.txt", 0, 0, 300, 300);
  XSetInputFocus(client_, a, RevertToParent, CurrentTime);
  XSync(client_, False);

  std::mutex m;
  std::vector<KeyboardEvent> keys;
  std::vector<MouseEvent> mice;
  std::int32_t err = 0;
  const auto kh = input->AddKeyboardHook([&](const KeyboardEvent& e) {
    std::lock_guard lock(m);
    keys.push_back(e);
  }, err);
  const auto mh = input->AddMouseHook([&](const MouseEvent& e) {
    std::lock_guard lock(m);
    mice.push_back(e);
  }, err);
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(RunWithDisplay(server_->display(), {"xdotool", "type", "--delay", "20", "ab"}), 0);
  ASSERT_EQ(RunWithDisplay(server_->display(),
                           {"xdotool", "mousemove", "20", "20", "click", "1"}), 0);
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard lock(m);
    return keys.size() >= 4 && !mice.empty();
  }));
  {
    std::lock_guard lock(m);
    ASSERT_GE(keys.size(), 4u);
    EXPECT_EQ(keys[0].virtualKey, static_cast<std::uint32_t>('A'));
    EXPECT_EQ(keys[0].keyFlags & kKeyFlagReleased, 0u);
    EXPECT_EQ(keys[0].focusWindow, a);
    EXPECT_NE(keys[1].keyFlags & kKeyFlagReleased, 0u);
    bool down = false;
    for (const auto& e : mice) {
      if (e.message == WM_LBUTTONDOWN) {
        down = true;
        ASSERT_TRUE(e.record);
        EXPECT_EQ(e.record->window, a);
      }
    }
    EXPECT_TRUE(down);
  }
  std::uint32_t tick = 0;
  ASSERT_TRUE(input->LastInputTick(tick));
  EXPECT_LT(clock.Tick() - tick, 5000u);  // input moments ago
  EXPECT_TRUE(input->RemoveHook(kh, err));
  EXPECT_TRUE(input->RemoveHook(mh, err));
  EXPECT_FALSE(input->RemoveHook(kh, err));
}

TEST_F(X11SourcesTest, ScreenSaverStateAndItsChanges) {
  HRESULT hr = E_FAIL;
  auto saver = X11ScreenSaver::Connect(server_->display().c_str(), hr);
  ASSERT_TRUE(saver) << FormatHresult(hr);
  EXPECT_FALSE(saver->ScreenSaverRunning());
  EXPECT_FALSE(saver->Locked());
  std::mutex m;
  std::vector<SessionEvent> events;
  const auto id = saver->Subscribe([&](SessionEvent e) {
    std::lock_guard lock(m);
    events.push_back(e);
  });
  XForceScreenSaver(client_, ScreenSaverActive);
  XSync(client_, False);
  EXPECT_TRUE(Eventually([&] { return saver->ScreenSaverRunning(); }));
  // A tracer that starts while the saver runs sees it at once.
  auto late = X11ScreenSaver::Connect(server_->display().c_str(), hr);
  ASSERT_TRUE(late);
  EXPECT_TRUE(late->ScreenSaverRunning());
  XForceScreenSaver(client_, ScreenSaverReset);
  XSync(client_, False);
  EXPECT_TRUE(Eventually([&] { return !saver->ScreenSaverRunning(); }));
  saver->Unsubscribe(id);
  std::lock_guard lock(m);
  EXPECT_EQ(events,
            (std::vector<SessionEvent>{SessionEvent::ScreenSaverStart, SessionEvent::ScreenSaverStop}));
}

TEST_F(X11SourcesTest, DesktopSessionSaysOnceWhichSourceIsMissing) {
  SystemClock clock;
  TempDir root;
  EventLog log(root.path(), clock);
  auto count = [&](const char* source) {
    int n = 0;
    for (const auto& e : log.ReadAll()) {
      n += e.eventId == kEventSessionSourceMissing && !e.strings.empty() && e.strings[0] == source;
    }
    return n;
  };
  HRESULT hr = S_OK;
  const bool haveLogind = LogindSession::Connect(hr) != nullptr;
  {
    auto session = ConnectDesktopSession(server_->display().c_str(), &log);
    ASSERT_TRUE(session);
    EXPECT_FALSE(session->ScreenSaverRunning());
    XForceScreenSaver(client_, ScreenSaverActive);
    XSync(client_, False);
    EXPECT_TRUE(Eventually([&] { return session->ScreenSaverRunning(); }));
    XForceScreenSaver(client_, ScreenSaverReset);
    XSync(client_, False);
  }
  EXPECT_EQ(count("XScreenSaver"), 0);
  EXPECT_EQ(count("logind"), haveLogind ? 0 : 1);
  // No X server: the screen saver goes unnoticed, and the log says so once.
  auto blind = ConnectDesktopSession("/nonexistent/display:0", &log);
  ASSERT_TRUE(blind);
  EXPECT_FALSE(blind->ScreenSaverRunning());
  EXPECT_EQ(count("XScreenSaver"), 1);
}

}  // namespace
}  // namespace qv::platform
