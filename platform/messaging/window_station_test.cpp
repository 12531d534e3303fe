// Behaviour that both transports share, run once through memory and once through sockets.
#include "platform/messaging/window_station.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "common/temp_dir.h"
#include "platform/messaging/inproc_transport.h"
#include "platform/messaging/socket_transport.h"

namespace qv::platform {
namespace {

using std::chrono::milliseconds;

enum class Kind { InProcess, Socket };

class StationTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    if (GetParam() == Kind::InProcess) {
      transport_ = std::make_shared<InProcessTransport>(clock_);
    } else {
      SocketTransportOptions options;
      options.folder = dir_.path() / "run";
      options.uid = ::getuid();
      std::shared_ptr<SocketTransport> t;
      ASSERT_EQ(SocketTransport::Open(options, clock_, t), S_OK);
      transport_ = t;
    }
    station_ = std::make_unique<WindowStation>(transport_, clock_);
    // The loop runs on its own thread, as a receiving process's would.
    loopThread_ = std::thread([this] { loop_.Run(); });
  }
  void TearDown() override {
    windows_.clear();
    loop_.PostQuit(0);
    loopThread_.join();
  }

  Window& Create(WindowSpec spec, WindowProc proc = nullptr) {
    if (!proc) proc = [](const Message& m) { return static_cast<LRESULT>(m.wParam + 1); };
    std::unique_ptr<Window> w;
    EXPECT_EQ(station_->CreateWindow(loop_, spec, std::move(proc), w), S_OK);
    windows_.push_back(std::move(w));
    return *windows_.back();
  }

  SystemClock clock_;
  TempDir dir_;
  std::shared_ptr<Transport> transport_;
  std::unique_ptr<WindowStation> station_;
  MessageLoop loop_{clock_};
  std::thread loopThread_;
  std::vector<std::unique_ptr<Window>> windows_;
};

TEST_P(StationTest, FindsByClassAndTitleKeepingMessageOnlyWindowsApart) {
  Window& top = Create({"QvTracerWindow", "QvTracer", false});
  Window& events = Create({"QvTracerEventWindow", "", true});
  EXPECT_EQ(station_->FindWindow("QvTracerWindow"), top.handle());
  EXPECT_EQ(station_->FindWindow("qvtracerwindow"), top.handle());  // classes ignore case
  EXPECT_EQ(station_->FindWindow("QvTracerWindow", "QvTracer"), top.handle());
  EXPECT_EQ(station_->FindWindow("QvTracerWindow", "qvtracer"), 0u);  // titles do not
  EXPECT_EQ(station_->FindWindow("QvTracerEventWindow"), 0u);
  EXPECT_EQ(station_->FindMessageWindow("QvTracerEventWindow"), events.handle());
  EXPECT_EQ(station_->FindMessageWindow("QvTracerWindow"), 0u);
  EXPECT_TRUE(station_->IsWindow(top.handle()));
  EXPECT_FALSE(station_->IsWindow(0));
}

TEST_P(StationTest, RenamedWindowIsFoundUnderItsNewTitleOnly) {
  Create({"QvJournalNotifications", "2005\\7\\25", true});
  Window& b = Create({"QvJournalNotifications", "2005\\7\\26", true});
  auto day = [&](std::string key) {
    return station_->FindWindows({"QvJournalNotifications", key, true});
  };
  EXPECT_EQ(day("2005\\7\\26"), std::vector<Hwnd>{b.handle()});
  b.SetTitle("2005\\7\\27");
  EXPECT_TRUE(day("2005\\7\\26").empty());
  EXPECT_EQ(day("2005\\7\\27"), std::vector<Hwnd>{b.handle()});
  EXPECT_EQ(station_->FindWindows({"QvJournalNotifications", std::nullopt, true}).size(), 2u);
}

TEST_P(StationTest, PostAndSendReachTheProcedure) {
  std::promise<Message> posted;
  Window& w = Create({"C", "t"}, [&](const Message& m) {
    if (m.message == WM_USER + 4) posted.set_value(m);
    return static_cast<LRESULT>(m.wParam * 3);
  });
  ASSERT_EQ(station_->PostMessage(w.handle(), WM_USER + 4, 1, -77), S_OK);
  const Message m = posted.get_future().get();
  EXPECT_EQ(m.hwnd, w.handle());
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(m.lParam, -77);
  LRESULT result = 0;
  ASSERT_EQ(station_->SendMessageTimeout(w.handle(), WM_USER, 14, 0, SMTO_ABORTIFHUNG,
                                         milliseconds(5000), &result),
            S_OK);
  EXPECT_EQ(result, 42);
}

TEST_P(StationTest, CopyDataArrivesWhole) {
  CopyData received;
  Window& w = Create({"C", ""}, [&](const Message& m) -> LRESULT {
    if (m.message != WM_COPYDATA || !m.copyData) return 0;
    received = *m.copyData;
    return 1;
  });
  for (std::size_t size : {std::size_t{0}, std::size_t{4}, kMaxCopyDataBytes}) {
    CopyData data{0xABCD0002, std::vector<std::uint8_t>(size, 0x5A), false};
    LRESULT result = 0;
    ASSERT_EQ(station_->SendCopyData(w.handle(), 99, data, SMTO_ABORTIFHUNG, milliseconds(5000),
                                     &result),
              S_OK)
        << size;
    EXPECT_EQ(result, 1);
    EXPECT_EQ(received.dwData, 0xABCD0002u);
    EXPECT_EQ(received.bytes, data.bytes);
    EXPECT_FALSE(received.nullData);
  }
  ASSERT_EQ(station_->SendCopyData(w.handle(), 0, CopyData{1, {}, true}, 0, milliseconds(5000)),
            S_OK);
  EXPECT_TRUE(received.nullData);
  CopyData tooBig{0, std::vector<std::uint8_t>(kMaxCopyDataBytes + 1), false};
  EXPECT_EQ(station_->SendCopyData(w.handle(), 0, tooBig, 0, milliseconds(100)), E_INVALIDARG);
  EXPECT_EQ(station_->PostMessage(w.handle(), WM_COPYDATA, 0, 0),
            HresultFromWin32(ERROR_MESSAGE_SYNC_ONLY));
}

TEST_P(StationTest, SlowReceiverTimesOutEvenWithoutATimeOutIfNotHung) {
  // Shared with the procedure, which may still be looking at it after this body ends.
  auto release = std::make_shared<std::atomic<bool>>(false);
  Window& w = Create({"Slow", ""}, [release](const Message&) -> LRESULT {
    while (!*release) std::this_thread::sleep_for(milliseconds(1));
    return 0;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(station_->SendMessageTimeout(w.handle(), WM_USER, 0, 0,
                                         SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG,
                                         milliseconds(150)),
            HresultFromWin32(win32::ERROR_TIMEOUT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
  *release = true;
}

TEST_P(StationTest, MessagesToMissingOrDestroyedWindowsFail) {
  const HRESULT missing = HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE);
  Hwnd handle = Create({"Gone", ""}).handle();
  windows_.clear();
  EXPECT_EQ(station_->FindWindow("Gone"), 0u);
  EXPECT_FALSE(station_->IsWindow(handle));
  EXPECT_EQ(station_->PostMessage(handle, WM_USER, 0, 0), missing);
  EXPECT_EQ(station_->SendMessageTimeout(handle, WM_USER, 0, 0, 0, milliseconds(100)), missing);
  EXPECT_EQ(station_->PostMessage(0, WM_USER, 0, 0), missing);
}

TEST_P(StationTest, RejectsBadWindowNames) {
  std::unique_ptr<Window> w;
  auto proc = [](const Message&) -> LRESULT { return 0; };
  EXPECT_EQ(station_->CreateWindow(loop_, {"", "t"}, proc, w), E_INVALIDARG);
  EXPECT_EQ(station_->CreateWindow(loop_, {std::string(kMaxClassNameBytes + 1, 'c'), ""}, proc, w),
            E_INVALIDARG);
  EXPECT_EQ(station_->CreateWindow(loop_, {"C", std::string(kMaxTitleBytes + 1, 't')}, proc, w),
            E_INVALIDARG);
  EXPECT_EQ(station_->CreateWindow(loop_, {std::string("a\0b", 3), ""}, proc, w), E_INVALIDARG);
}

INSTANTIATE_TEST_SUITE_P(Transports, StationTest,
                         ::testing::Values(Kind::InProcess, Kind::Socket),
                         [](const auto& info) {
                           return info.param == Kind::InProcess ? "InProcess" : "Socket";
                         });

// The hung test needs a clock it can move while the receiver is stuck.
TEST(StationHung, AbortIfHungFailsAtOnceForAStuckLoop) {
  ManualClock clock;
  auto transport = std::make_shared<InProcessTransport>(clock);
  WindowStation station(transport, clock);
  MessageLoop loop(clock);
  std::atomic<bool> inside{false}, release{false};
  std::unique_ptr<Window> w;
  ASSERT_EQ(station.CreateWindow(loop, {"Stuck", ""},
                                 [&](const Message&) -> LRESULT {
                                   inside = true;
                                   while (!release) std::this_thread::sleep_for(milliseconds(1));
                                   return 0;
                                 },
                                 w),
            S_OK);
  ASSERT_TRUE(w->Post(WM_USER, 0, 0));
  std::thread owner([&] { loop.Pump(milliseconds(0)); });
  while (!inside) std::this_thread::sleep_for(milliseconds(1));
  ASSERT_TRUE(w->Post(WM_USER, 0, 0));  // waits behind the stuck one
  clock.Advance(kHungAfter + milliseconds(1));
  EXPECT_TRUE(loop.IsHung());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(station.SendMessageTimeout(w->handle(), WM_USER, 0, 0, SMTO_ABORTIFHUNG,
                                       milliseconds(20000)),
            HresultFromWin32(win32::ERROR_TIMEOUT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
  release = true;
  owner.join();
}

}  // namespace
}  // namespace qv::platform
