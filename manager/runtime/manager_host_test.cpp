// The host window on an in-process message loop: commands from other windows, the tracer's
// busy messages, the balloon shown once per message, the icon switched off by the user, and
// the cache folder published at a tick.
#include "manager/runtime/manager_host.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "manager/runtime/cache_folder.h"
#include "platform/folders/folders.h"
#include "platform/messaging/inproc_transport.h"

namespace qv::manager {
namespace {

class QuietPorts : public ManagerPorts {
 public:
  bool tracer = false;
  RankingServiceStatus QueryRankingService() override { return RankingServiceStatus::Running; }
  IndexerStatus QueryIndexer() override { return IndexerStatus::Running; }
  bool TracerWindowExists() override { return tracer; }
  HRESULT StartTracer() override {
    tracer = true;
    return S_OK;
  }
  void StopTracer(ManagerState, bool) override { tracer = false; }
  void SetPollTimer(bool) override {}
  std::string LocalAppDataFolder() override { return "/nowhere"; }
  HRESULT BeginCfgVerify(const std::string&, bool) override { return S_OK; }
};

class ManagerHostTest : public ::testing::Test {
 protected:
  ManagerHostTest()
      : install_(dir_.path()),
        station_(std::make_shared<platform::InProcessTransport>(clock_), clock_),
        loop_(clock_) {}

  void Run(ManagerConfig config) {
    core_ = std::make_unique<ManagerCore>(config, ports_, install_.context().registry, clock_);
    host_ = std::make_unique<ManagerHost>(install_.context(), station_, loop_, *core_);
    host_->SetIconObserver([this](const IconUpdate& u) { updates_.push_back(u); });
    ASSERT_EQ(host_->Create(), S_OK);
  }
  // Delivers a message to the host window as another window would, and runs the loop.
  void Send(std::uint32_t message, std::uint64_t wParam) {
    ASSERT_EQ(station_.PostMessage(station_.FindWindow(hooks::kHostWindowClass), message, wParam, 0),
              S_OK);
    for (int i = 0; i < 10; ++i) loop_.Pump(std::chrono::milliseconds(5));
  }

  SystemClock clock_;
  TempDir dir_;
  Installation install_;
  platform::WindowStation station_;
  platform::MessageLoop loop_;
  QuietPorts ports_;
  std::unique_ptr<ManagerCore> core_;
  std::unique_ptr<ManagerHost> host_;
  std::vector<IconUpdate> updates_;
};

TEST_F(ManagerHostTest, BalloonOncePerMessageAndCommandsFromOtherWindows) {
  Run({});
  ASSERT_EQ(updates_.size(), 1u);
  EXPECT_EQ(updates_[0].choice.message, 1001u);
  EXPECT_TRUE(updates_[0].showBalloon);
  EXPECT_TRUE(ports_.tracer);

  Send(hooks::KIVM_TRACER_BUSY, hooks::kTracerBusyBegin);
  ASSERT_EQ(updates_.size(), 2u);
  EXPECT_EQ(updates_[1].choice.icon, 1004u);
  EXPECT_TRUE(updates_[1].showBalloon);
  Send(hooks::KIVM_TRACER_BUSY, 0);  // a refresh: same message, no second balloon
  EXPECT_FALSE(updates_.back().showBalloon);
  Send(hooks::KIVM_TRACER_BUSY, hooks::kTracerBusyEnd);
  EXPECT_EQ(updates_.back().choice.icon, 1001u);

  Send(platform::WM_COMMAND, kCmdDisable);
  EXPECT_EQ(core_->state(), ManagerState::Disabled);
  EXPECT_FALSE(ports_.tracer);
  EXPECT_EQ(updates_.back().state, ManagerState::Disabled);
  EXPECT_EQ(updates_.back().choice.message, 1002u);
  Send(platform::WM_COMMAND, kCmdEnable);
  EXPECT_EQ(core_->state(), ManagerState::Active);
  EXPECT_TRUE(ports_.tracer);

  // The end of the session asked: ending set, nothing closed yet; a close ends the loop.
  Send(platform::WM_QUERYENDSESSION, 0);
  EXPECT_TRUE(core_->ending());
  EXPECT_TRUE(ports_.tracer);
  Send(platform::WM_COMMAND, kCmdClose);
  EXPECT_FALSE(ports_.tracer);
  EXPECT_EQ(loop_.quitCode(), 0);
  EXPECT_EQ(station_.FindWindow(hooks::kHostWindowClass), 0u);
}

TEST_F(ManagerHostTest, IconSwitchedOffShowsNoBalloonAndTicksPublishTheCacheFolder) {
  ManagerConfig config;
  config.showIcon = false;
  Run(config);
  ASSERT_FALSE(updates_.empty());
  EXPECT_FALSE(updates_.back().showIcon);
  EXPECT_FALSE(updates_.back().showBalloon);

  host_->OnTick();
  const auto root = install_.context().root;
  const auto file = CacheFolderFile(platform::KnownFolderPath(root, platform::KnownFolder::LocalAppData));
  EXPECT_EQ(ReadPublishedCacheFolder(file),
            platform::KnownFolderPath(root, platform::KnownFolder::InternetCache).string());
}

}  // namespace
}  // namespace qv::manager
