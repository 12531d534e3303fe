// The C exports as a component sees them: libQvHooks.so finds the tracer through the user's
// runtime folder (here a temporary one).
#include "hooks/QvHooks/qv_hooks.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/temp_dir.h"
#include "hooks/QvHooks/test_tracer.h"
#include "platform/desktop/sim_input.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/socket_transport.h"
#ifdef QV_TEST_X11
#include "platform/desktop/xvfb_server.h"
#endif

namespace qv::hooks {
namespace {

using namespace qv::platform;

// Every test in this program shares the library's per-process state, so the runtime folder is
// set once, before the library first looks at it.
class RuntimeFolderEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<TempDir>();
    ::setenv("XDG_RUNTIME_DIR", dir_->path().c_str(), 1);
    // Visit keys are the windows of this runtime folder only, whatever display runs here.
    ::unsetenv("DISPLAY");
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<TempDir> dir_;
};

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new RuntimeFolderEnvironment);

std::unique_ptr<WindowStation> UserStation(const Clock& clock) {
  std::unique_ptr<WindowStation> station;
  EXPECT_EQ(OpenUserWindowStation(clock, nullptr, station), S_OK);
  return station;
}

TEST(Exports, NoTracerMeansSFalseAndArgumentsAreCheckedAnyway) {
  SystemClock clock;
  auto station = UserStation(clock);
  MessageLoop loop(clock);
  std::unique_ptr<platform::Window> page;
  ASSERT_EQ(station->CreateWindow(loop, {"QvSeekResults", "results", false},
                                  [](const Message&) -> LRESULT { return 0; }, page),
            S_OK);
  EXPECT_EQ(KivIsRunning(), S_FALSE);
  EXPECT_EQ(KivVisitStart(page->handle(), u"http://a/", 1), S_FALSE);
  EXPECT_EQ(KivVisitStart(5, u"http://a/", 1), E_INVALIDARG);  // names no window
  EXPECT_EQ(KivVisitUpdate(5, nullptr, 0), S_FALSE);
  EXPECT_EQ(KivVisitEnd(5, nullptr, 0), S_FALSE);
  EXPECT_EQ(KivVisitStart(5, nullptr, 1), E_INVALIDARG);
  EXPECT_EQ(KivVisitStart(0, u"x", 1), E_INVALIDARG);
  EXPECT_EQ(KivVisitEnd(0, u"x", 0), E_INVALIDARG);
}

TEST(Exports, VisitOfARealWindowReachesTheTracerOfThisUser) {
  SystemClock clock;
  auto station = UserStation(clock);
  TestTracer tracer(*station, clock);
  // A component's own window is a visit key; a made-up handle names no window.
  MessageLoop loop(clock);
  std::unique_ptr<platform::Window> page;
  ASSERT_EQ(station->CreateWindow(loop, {"QvSeekResults", "results", false},
                                  [](const Message&) -> LRESULT { return 0; }, page),
            S_OK);
  EXPECT_EQ(KivIsRunning(), S_OK);
  EXPECT_EQ(KivVisitStart(0xABC, u"file:///home/u/a.txt", KIV_VF_TRACK), E_INVALIDARG);
  EXPECT_EQ(KivVisitStart(page->handle(), u"file:///home/u/a.txt", KIV_VF_TRACK), S_OK);
  const auto got = tracer.WaitFor(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].wParam, page->handle());
  EXPECT_EQ(got[0].copyData->dwData, VisitDwData(KIV_VISIT_START, KIV_VF_TRACK));
  // End and update take any key; the tracer ignores what it does not know.
  EXPECT_EQ(KivVisitEnd(0xABC, nullptr, 0), S_OK);
}

#ifdef QV_TEST_X11
TEST(Exports, AWindowOfTheXDisplayIsAVisitKeyUntilItIsDestroyed) {
  if (!XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
  XvfbServer server;
  if (!server.Ready()) GTEST_SKIP() << "Xvfb did not start";
  Display* d = XOpenDisplay(server.display().c_str());
  ASSERT_NE(d, nullptr);
  const ::Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
  XSync(d, False);
  ::setenv("DISPLAY", server.display().c_str(), 1);
  SystemClock clock;
  auto station = UserStation(clock);
  TestTracer tracer(*station, clock);
  EXPECT_EQ(KivVisitStart(w, u"http://a/", KIV_VF_TRACK), S_OK);
  XDestroyWindow(d, w);
  XSync(d, False);
  EXPECT_EQ(KivVisitStart(w, u"http://a/", KIV_VF_TRACK), E_INVALIDARG);
  ::unsetenv("DISPLAY");
  XCloseDisplay(d);
  EXPECT_EQ(tracer.WaitFor(1).size(), 1u);
}
#endif

TEST(Exports, HooksNeedABoundSourceAndInstallOnlyOnce) {
  SystemClock clock;
  BindInputSource(nullptr);
  EXPECT_EQ(KivInstallInputHooks(), HresultFromWin32(win32::ERROR_NOT_SUPPORTED));
  SimInput input(clock);
  BindInputSource(&input);
  EXPECT_EQ(KivInstallInputHooks(), S_OK);
  EXPECT_EQ(KivInstallInputHooks(), static_cast<HRESULT>(0x800401FC));

  auto station = UserStation(clock);
  TestTracer tracer(*station, clock);
  input.KeyDown('Q', 42);
  const auto got = tracer.WaitFor(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].message, KIVM_INPUT);
  EXPECT_EQ(got[0].lParam, 42);

  EXPECT_EQ(KivRemoveInputHooks(), S_OK);
  EXPECT_EQ(input.HookCount(), 0u);
  EXPECT_EQ(KivInstallInputHooks(), S_OK);
  BindInputSource(nullptr);
  EXPECT_EQ(input.HookCount(), 0u);
}

}  // namespace
}  // namespace qv::hooks
