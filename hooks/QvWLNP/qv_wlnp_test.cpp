#include "hooks/QvWLNP/qv_wlnp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "common/temp_dir.h"
#include "hooks/QvHooks/test_tracer.h"
#include "hooks/QvWLNP/session_relay.h"
#include "platform/desktop/sim_session_signals.h"
#include "platform/messaging/socket_transport.h"

namespace qv::hooks {
namespace {

using namespace qv::platform;
namespace fs = std::filesystem;

struct WlnpFixture : ::testing::Test {
  SystemClock clock;
  TempDir dir;
  fs::path folder = dir.path() / "session";
  std::string folderName = folder.string();
  std::unique_ptr<WindowStation> station;
  int token = 1;

  void SetUp() override {
    SocketTransportOptions options;
    options.folder = folder;
    options.uid = ::getuid();
    std::shared_ptr<SocketTransport> t;
    ASSERT_EQ(SocketTransport::Open(options, clock, t), S_OK);
    station = std::make_unique<WindowStation>(t, clock);
  }

  QvWlxNotificationInfo Record() {
    QvWlxNotificationInfo info{};
    info.size = sizeof(info);
    info.windowStation = folderName.c_str();
    info.token = &token;
    return info;
  }

  // The lock-state messages that reached the tracer, once a marker behind them arrived.
  std::vector<Message> LockStates(TestTracer& tracer) {
    std::vector<Message> out;
    for (const Message& m : tracer.Drain(*station)) {
      if (m.message == KIVM_LOCK_STATE) out.push_back(m);
    }
    return out;
  }
};

TEST_F(WlnpFixture, EachExportPostsItsLockStateToTheMainWindow) {
  TestTracer tracer(*station, clock);
  const QvWlxNotificationInfo info = Record();
  WLLock(&info);
  WLUnlock(&info);
  WLStartScreenSaver(&info);
  WLStopScreenSaver(&info);
  const auto got = LockStates(tracer);
  ASSERT_EQ(got.size(), 4u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].hwnd, tracer.mainWindow());
    EXPECT_EQ(got[i].wParam, i);  // 0 locked, 1 unlocked, 2 saver started, 3 saver stopped
    EXPECT_EQ(got[i].lParam, 0);
  }
}

TEST_F(WlnpFixture, IncompleteRecordsDoNothing) {
  TestTracer tracer(*station, clock);
  WLLock(nullptr);
  QvWlxNotificationInfo info = Record();
  info.windowStation = nullptr;
  WLLock(&info);
  info = Record();
  info.token = nullptr;
  WLLock(&info);
  info = Record();
  info.size = sizeof(info) - 1;  // an older, shorter record
  WLLock(&info);
  info = Record();
  info.size = 0;
  WLLock(&info);
  info = Record();
  info.windowStation = "";
  WLLock(&info);
  EXPECT_TRUE(LockStates(tracer).empty());
}

TEST_F(WlnpFixture, NoTracerOrNoUsableWindowStationEndsQuietly) {
  QvWlxNotificationInfo info = Record();
  WLLock(&info);  // no tracer: nothing to find, returns
  const std::string missing = (dir.path() / "missing").string();
  info.windowStation = missing.c_str();
  WLUnlock(&info);
  EXPECT_FALSE(fs::exists(missing));  // a window station is opened, never made
  if (::geteuid() == 0) {
    // Another user's folder is not this session's window station.
    TestTracer tracer(*station, clock);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    info = Record();
    WLLock(&info);
    ASSERT_EQ(::chown(folder.c_str(), ::getuid(), ::getgid()), 0);
    EXPECT_TRUE(LockStates(tracer).empty());
  }
}

TEST_F(WlnpFixture, RelayPassesLockAndScreenSaverChangesButNotSuspend) {
  TestTracer tracer(*station, clock);
  SimSessionSignals signals;
  {
    SessionRelay relay(signals, folder, clock);
    signals.Raise(SessionEvent::Lock);
    signals.Raise(SessionEvent::Suspend);
    signals.Raise(SessionEvent::Resume);
    signals.Raise(SessionEvent::ScreenSaverStart);
  }
  signals.Raise(SessionEvent::Unlock);  // the relay is gone
  EXPECT_FALSE(signals.Locked());
  EXPECT_TRUE(signals.ScreenSaverRunning());
  const auto got = LockStates(tracer);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].wParam, kLockStateLocked);
  EXPECT_EQ(got[1].wParam, kLockStateScreenSaverStarted);
}

}  // namespace
}  // namespace qv::hooks
