#include "platform/messaging/message_loop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/messaging/inproc_transport.h"
#include "platform/messaging/window_station.h"

namespace qv::platform {
namespace {

using std::chrono::milliseconds;

struct LoopFixture : ::testing::Test {
  ManualClock clock;
  std::shared_ptr<InProcessTransport> transport = std::make_shared<InProcessTransport>(clock);
  WindowStation station{transport, clock};
  MessageLoop loop{clock};
  std::vector<Message> seen;
  std::unique_ptr<Window> window;

  void SetUp() override {
    ASSERT_EQ(station.CreateWindow(loop, {"TestWindow", "t"},
                                   [this](const Message& m) {
                                     seen.push_back(m);
                                     return static_cast<LRESULT>(m.wParam * 2);
                                   },
                                   window),
              S_OK);
  }
};

TEST_F(LoopFixture, PostsArriveInOrderAndQuitEndsTheLoop) {
  ASSERT_TRUE(window->Post(WM_USER + 1, 1, 10));
  ASSERT_EQ(station.PostMessage(window->handle(), WM_USER + 2, 2, 20), S_OK);
  loop.PostQuit(3);
  ASSERT_TRUE(window->Post(WM_USER + 3, 3, 30));  // behind WM_QUIT: never dispatched
  EXPECT_EQ(loop.Run(), 3);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].message, WM_USER + 1);
  EXPECT_EQ(seen[1].lParam, 20);
  EXPECT_FALSE(loop.Pump());
}

TEST_F(LoopFixture, TimersFireOnceWhenDueAndStopWhenKilled) {
  window->SetTimer(1, milliseconds(1000));
  loop.Pump();
  EXPECT_TRUE(seen.empty());
  clock.Advance(milliseconds(999));
  loop.Pump();
  EXPECT_TRUE(seen.empty());
  clock.Advance(milliseconds(5000));  // overdue by several intervals: still one WM_TIMER
  loop.Pump();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_TIMER);
  EXPECT_EQ(seen[0].wParam, 1u);
  EXPECT_TRUE(window->KillTimer(1));
  EXPECT_FALSE(window->KillTimer(1));
  clock.Advance(milliseconds(5000));
  loop.Pump();
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(LoopFixture, SendFromTheLoopThreadCallsTheProcedureDirectly) {
  // Pump once so this thread is the loop's thread; a queued send would wait for itself.
  loop.Pump();
  LRESULT result = 0;
  EXPECT_EQ(station.SendMessageTimeout(window->handle(), WM_USER, 21, 0, SMTO_ABORTIFHUNG,
                                       milliseconds(100), &result),
            S_OK);
  EXPECT_EQ(result, 42);
}

TEST_F(LoopFixture, SendFromAnotherThreadGetsTheReply) {
  LRESULT result = 0;
  HRESULT hr = E_FAIL;
  std::thread sender([&] {
    hr = station.SendMessageTimeout(window->handle(), WM_USER, 5, 0, 0, milliseconds(5000),
                                    &result);
  });
  while (seen.empty()) loop.Pump(milliseconds(10));
  sender.join();
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(result, 10);
}

TEST_F(LoopFixture, DestroyedWindowDropsQueuedMessagesAndFailsQueuedSends) {
  const Hwnd handle = window->handle();
  HRESULT hr = S_OK;
  std::thread sender([&] {
    hr = station.SendMessageTimeout(handle, WM_USER, 1, 0, 0, milliseconds(5000));
  });
  // Wait until the send is queued, then destroy the window before the loop runs.
  while (!loop.IsHung() && seen.empty()) {
    clock.Advance(milliseconds(6000));
    std::this_thread::sleep_for(milliseconds(1));
  }
  window.reset();
  loop.Pump();
  sender.join();
  EXPECT_EQ(hr, HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(station.PostMessage(handle, WM_USER, 0, 0),
            HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(LoopFixture, FullQueueRefusesPosts) {
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(window->Post(WM_USER, 0, 0)) << i;
  EXPECT_FALSE(window->Post(WM_USER, 0, 0));
  loop.Pump();
  EXPECT_TRUE(window->Post(WM_USER, 0, 0));
}

}  // namespace
}  // namespace qv::platform
