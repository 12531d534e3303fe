#include "hooks/QvHooks/input_hooks.h"

#include <gtest/gtest.h>

#include "hooks/QvHooks/test_tracer.h"
#include "platform/desktop/sim_input.h"
#include "platform/messaging/inproc_transport.h"

namespace qv::hooks {
namespace {

using namespace qv::platform;

struct HooksFixture : ::testing::Test {
  SystemClock clock;
  std::shared_ptr<InProcessTransport> transport = std::make_shared<InProcessTransport>(clock);
  WindowStation station{transport, clock};
  SimInput input{clock};
  InputHooks hooks{input, station};

  // Input notices that reached `tracer` once a marker post has arrived behind them.
  static std::vector<Message> Notices(TestTracer& tracer, WindowStation& station) {
    std::vector<Message> out;
    for (const Message& m : tracer.Drain(station)) {
      if (m.message == KIVM_INPUT) out.push_back(m);
    }
    return out;
  }
};

TEST_F(HooksFixture, SecondInstallIsRefusedAndRemovingAllowsInstallingAgain) {
  EXPECT_EQ(hooks.Install(), S_OK);
  EXPECT_EQ(input.HookCount(), 2u);
  EXPECT_EQ(hooks.Install(), kHooksAlreadyInstalled);
  EXPECT_EQ(input.HookCount(), 2u);
  EXPECT_EQ(hooks.Remove(), S_OK);
  EXPECT_EQ(input.HookCount(), 0u);
  EXPECT_EQ(hooks.Install(), S_OK);
}

TEST_F(HooksFixture, FailedInstallReportsTheErrorAndLeavesNoHook) {
  input.FailNextAdd(win32::ERROR_ACCESS_DENIED);
  EXPECT_EQ(hooks.Install(), HresultFromWin32(win32::ERROR_ACCESS_DENIED));
  EXPECT_EQ(input.HookCount(), 0u);
  EXPECT_FALSE(hooks.KeyboardInstalled());

  // The keyboard hook goes in, the mouse hook fails: the keyboard hook is taken out again.
  EXPECT_EQ(hooks.Install(), S_OK);
  EXPECT_EQ(hooks.Remove(), S_OK);
  SimInput flaky(clock);
  InputHooks second(flaky, station);
  std::int32_t error = 0;
  const auto taken = flaky.AddKeyboardHook([](const KeyboardEvent&) {}, error);
  ASSERT_NE(taken, 0u);
  flaky.FailNextAdd(win32::ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(second.Install(), HresultFromWin32(win32::ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_FALSE(second.KeyboardInstalled());
  EXPECT_FALSE(second.MouseInstalled());
  EXPECT_EQ(flaky.HookCount(), 1u);  // only the unrelated hook is left
}

TEST_F(HooksFixture, FailedUnhookIsReportedButTheHooksCountAsRemoved) {
  ASSERT_EQ(hooks.Install(), S_OK);
  input.FailNextRemove(win32::ERROR_INVALID_HANDLE);
  EXPECT_EQ(hooks.Remove(), HresultFromWin32(win32::ERROR_INVALID_HANDLE));
  EXPECT_FALSE(hooks.KeyboardInstalled());
  EXPECT_FALSE(hooks.MouseInstalled());
  EXPECT_EQ(hooks.Install(), S_OK);
}

TEST_F(HooksFixture, HeldKeyPostsOnceForTheFirstDownAndOnceForTheUp) {
  TestTracer tracer(station, clock);
  ASSERT_EQ(hooks.Install(), S_OK);
  input.KeyDown('A', 31);
  input.KeyDown('A', 31);
  input.KeyDown('A', 31);
  input.KeyUp('A', 31);
  const auto notices = Notices(tracer, station);
  ASSERT_EQ(notices.size(), 2u);
  for (const Message& m : notices) {
    EXPECT_EQ(m.hwnd, tracer.mainWindow());
    EXPECT_EQ(m.wParam, kInputKeyboard);
    EXPECT_EQ(m.lParam, 31);
  }
}

TEST_F(HooksFixture, MouseMovesCountOnlyWhileDragging) {
  TestTracer tracer(station, clock);
  ASSERT_EQ(hooks.Install(), S_OK);
  input.Mouse(WM_MOUSEMOVE, 8);
  input.Mouse(WM_MOUSEMOVE, 8);
  EXPECT_TRUE(Notices(tracer, station).empty());
  input.Mouse(WM_LBUTTONDOWN, 8);
  input.Mouse(WM_MOUSEMOVE, 8);
  input.Mouse(WM_MOUSEMOVE, 8);
  input.Mouse(WM_LBUTTONUP, 8);
  input.Mouse(WM_MOUSEMOVE, 8);
  input.SetKeyDown(VK_SHIFT, true);
  input.Mouse(WM_MOUSEMOVE, 8);
  const auto notices = Notices(tracer, station);
  ASSERT_EQ(notices.size(), 5u);  // down, two drags, up, the move with Shift
  EXPECT_EQ(notices[0].wParam, kInputMouse);
  EXPECT_EQ(notices[0].lParam, 8);
}

TEST_F(HooksFixture, EventsWithoutATracerAreDroppedAndARestartedTracerIsFound) {
  ASSERT_EQ(hooks.Install(), S_OK);
  input.KeyDown('B', 1);  // nobody listens: dropped
  {
    TestTracer first(station, clock);
    input.KeyUp('B', 1);
    EXPECT_EQ(Notices(first, station).size(), 1u);
  }
  TestTracer second(station, clock);
  input.KeyDown('C', 2);  // the cached window is gone: the post fails and clears the cache
  input.KeyUp('C', 2);    // looked up again: reaches the new tracer
  const auto notices = Notices(second, station);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].hwnd, second.mainWindow());
}

TEST_F(HooksFixture, RemovedHooksPostNothing) {
  TestTracer tracer(station, clock);
  ASSERT_EQ(hooks.Install(), S_OK);
  ASSERT_EQ(hooks.Remove(), S_OK);
  input.KeyDown('A', 1);
  input.Mouse(WM_LBUTTONDOWN, 1);
  EXPECT_TRUE(Notices(tracer, station).empty());
}

}  // namespace
}  // namespace qv::hooks
