// The real probes of the ranking service and the indexer, and the tracer process control,
// against files, sockets and processes made here.
#include "manager/runtime/system_ports.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "common/temp_dir.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/messaging/inproc_transport.h"
#include "platform/messaging/unique_fd.h"
#include "service/QvRankingSvc/service_constants.h"
#include "service/QvRankingSvc/service_registration.h"

namespace qv::manager {
namespace {

TEST(SystemPortsTest, RankingServiceFromItsEntryAndSocket) {
  TempDir dir;
  platform::Registry reg(dir.path() / "root");
  const auto run = dir.path() / "run";
  std::filesystem::create_directories(run);
  EXPECT_EQ(QueryRankingServiceStatus(reg, {}), RankingServiceStatus::NoServiceManager);
  EXPECT_EQ(QueryRankingServiceStatus(reg, run), RankingServiceStatus::Unreadable);
  ASSERT_EQ(reg.SetValue(platform::Hive::LocalMachine, service::kServiceKey, "Start",
                         platform::RegValue::Dword(3)), 0);
  EXPECT_EQ(QueryRankingServiceStatus(reg, run), RankingServiceStatus::Stopped);
  ASSERT_EQ(reg.SetValue(platform::Hive::LocalMachine, service::kServiceKey, "Start",
                         platform::RegValue::Dword(kServiceDisabledStart)), 0);
  EXPECT_EQ(QueryRankingServiceStatus(reg, run), RankingServiceStatus::StartDisabled);
  // A socket left by a service that ended does not count; one that answers does.
  const std::string path = (run / service::kSocketFileName).string();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  {
    platform::UniqueFd stale(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
    ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  EXPECT_EQ(QueryRankingServiceStatus(reg, run), RankingServiceStatus::StartDisabled);
  ::unlink(path.c_str());
  platform::UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener.get(), 4), 0);
  EXPECT_EQ(QueryRankingServiceStatus(reg, run), RankingServiceStatus::Running);
}

TEST(SystemPortsTest, IndexerFromItsLock) {
  TempDir dir;
  const auto root = dir.path();
  EXPECT_EQ(QueryIndexerStatus(root), IndexerStatus::Stopped);
  const auto lock = platform::indexing::ServiceLockPath(root);
  std::filesystem::create_directories(lock.parent_path());
  platform::UniqueFd held(::open(lock.c_str(), O_RDWR | O_CREAT, 0600));
  ASSERT_GE(held.get(), 0);
  EXPECT_EQ(QueryIndexerStatus(root), IndexerStatus::Stopped);  // left by one that ended
  ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(QueryIndexerStatus(root), IndexerStatus::Running);
  ::flock(held.get(), LOCK_UN);
  EXPECT_EQ(QueryIndexerStatus(root), IndexerStatus::Stopped);
}

class SystemPortsTracerTest : public ::testing::Test {
 protected:
  SystemPortsTracerTest() {
    station_ = std::make_unique<platform::WindowStation>(std::make_shared<platform::InProcessTransport>(clock_), clock_);
  }
  SystemPorts Make(std::filesystem::path program, std::vector<std::string> args = {}) {
    SystemPortsSetup s;
    s.config.startStopTimeoutSeconds = 10;
    s.station = station_.get();
    s.tracer.program = std::move(program);
    s.tracer.extraArgs = std::move(args);
    return SystemPorts(std::move(s));
  }
  SystemClock clock_;
  std::unique_ptr<platform::WindowStation> station_;
};

TEST_F(SystemPortsTracerTest, ATracerThatEndsOrNeverShowsAWindowIsNotHeld) {
  // Ends at once: the start fails without waiting for the whole bound.
  auto ends = Make("/bin/false");
  EXPECT_TRUE(Failed(ends.StartTracer()));
  EXPECT_EQ(ends.tracerPid(), 0);
  EXPECT_TRUE(Failed(Make("relative/QvTracer").StartTracer()));
}

}  // namespace
}  // namespace qv::manager
