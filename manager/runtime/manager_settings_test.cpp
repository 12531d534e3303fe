// The manager's settings with their ranges, the browser prerequisite, and the published
// cache folder file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "common/temp_dir.h"
#include "manager/runtime/browser_version.h"
#include "manager/runtime/cache_folder.h"
#include "manager/runtime/manager_config.h"

namespace qv::manager {
namespace {

using platform::Hive;
using platform::RegValue;

TEST(ManagerConfigTest, RangesUnitsAndTypes) {
  TempDir dir;
  platform::Registry reg(dir.path());
  auto set = [&](Hive h, std::string_view name, RegValue v) {
    ASSERT_EQ(reg.SetValue(h, kVesperKey, name, v), 0);
  };
  EXPECT_EQ(ReadManagerConfig(reg).statusPollSeconds, 5u);
  set(Hive::LocalMachine, "StatusPollInterval", RegValue::Dword(4));
  EXPECT_EQ(ReadManagerConfig(reg).statusPollSeconds, 5u);
  set(Hive::LocalMachine, "StatusPollInterval", RegValue::Dword(300));
  EXPECT_EQ(ReadManagerConfig(reg).statusPollSeconds, 300u);
  set(Hive::LocalMachine, "StatusPollInterval", RegValue::Dword(301));
  EXPECT_EQ(ReadManagerConfig(reg).statusPollSeconds, 5u);
  set(Hive::LocalMachine, "StatusPollInterval", RegValue::Sz("60"));
  EXPECT_EQ(ReadManagerConfig(reg).statusPollSeconds, 5u);

  set(Hive::LocalMachine, "StartStopTimeout", RegValue::Dword(9));
  set(Hive::LocalMachine, "EndSessionTimeout", RegValue::Dword(120));
  set(Hive::LocalMachine, "CfgVerifyPeriod", RegValue::Dword(0));
  set(Hive::LocalMachine, "RescanPeriod", RegValue::Dword(70001));
  set(Hive::LocalMachine, "SelfRepair", RegValue::Dword(7));
  set(Hive::CurrentUser, "Disabled", RegValue::Dword(2));
  set(Hive::CurrentUser, "ShowTaskBarIcon", RegValue::Dword(0));
  ManagerConfig c = ReadManagerConfig(reg);
  EXPECT_EQ(c.startStopTimeoutSeconds, 15u);
  EXPECT_EQ(c.endSessionTimeoutSeconds, 120u);
  EXPECT_EQ(c.cfgVerifyPeriodMinutes, 0u);
  EXPECT_EQ(c.rescanPeriodMinutes, 10080u);
  EXPECT_TRUE(c.selfRepair);
  EXPECT_FALSE(c.disabled);  // 2 is outside 0..1
  EXPECT_FALSE(c.showIcon);
  // Machine values are not taken from the user's key.
  set(Hive::CurrentUser, "StatusPollInterval", RegValue::Dword(60));
  set(Hive::LocalMachine, "StatusPollInterval", RegValue::Dword(5));
  EXPECT_EQ(ReadManagerConfig(reg).statusPollSeconds, 5u);
  set(Hive::LocalMachine, "SelfRepair", RegValue::Dword(0));
  EXPECT_FALSE(ReadManagerConfig(reg).selfRepair);
}

TEST(ManagerConfigTest, WorkingSetOnlyWithBothSizes) {
  TempDir dir;
  platform::Registry reg(dir.path());
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kVesperKey, "MaxWorkingSetSize", RegValue::Dword(4096)), 0);
  EXPECT_FALSE(TracerWorkingSet(ReadManagerConfig(reg)));
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kVesperKey, "MinWorkingSetSize", RegValue::Dword(102401)), 0);
  EXPECT_FALSE(TracerWorkingSet(ReadManagerConfig(reg)));
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kVesperKey, "MinWorkingSetSize", RegValue::Dword(1)), 0);
  const auto limit = TracerWorkingSet(ReadManagerConfig(reg));
  ASSERT_TRUE(limit);
  EXPECT_EQ(limit->minBytes, 1024u);
  EXPECT_EQ(limit->maxBytes, 4096u * 1024u);
}

TEST(BrowserVersionTest, AcceptsFiveFiveAndLaterIncludingTwoDigitMajors) {
  EXPECT_EQ(CheckBrowserVersion("5.50"), S_OK);
  EXPECT_EQ(CheckBrowserVersion("6.0"), S_OK);
  EXPECT_EQ(CheckBrowserVersion("6.0.2900.2180"), S_OK);
  EXPECT_EQ(CheckBrowserVersion("11.0.9600.17843"), S_OK);
  EXPECT_EQ(CheckBrowserVersion("10.0"), S_OK);
  EXPECT_EQ(CheckBrowserVersion("5.01"), E_UNEXPECTED);
  EXPECT_EQ(CheckBrowserVersion("4.72.3110"), E_UNEXPECTED);
  EXPECT_EQ(CheckBrowserVersion("6."), E_UNEXPECTED);
  EXPECT_EQ(CheckBrowserVersion("6"), E_UNEXPECTED);
  EXPECT_EQ(CheckBrowserVersion(""), E_UNEXPECTED);
  EXPECT_EQ(CheckBrowserVersion("x.y.z"), E_UNEXPECTED);
  EXPECT_EQ(CheckBrowserVersion("99999.0"), E_UNEXPECTED);
}

TEST(CacheFolderTest, WrittenByRenameOnlyWhenChangedAndTooLongRefused) {
  TempDir dir;
  const auto file = CacheFolderFile(dir.path() / "LocalAppData");
  std::string remembered;
  EXPECT_EQ(PublishCacheFolder(file, "/root/InternetCache", remembered), S_OK);
  EXPECT_EQ(remembered, "/root/InternetCache");
  EXPECT_EQ(ReadPublishedCacheFolder(file), "/root/InternetCache");
  EXPECT_EQ(std::filesystem::file_size(file), 2 * std::string("/root/InternetCache").size());
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".new"));
  // The same folder in other letter case is not rewritten.
  EXPECT_EQ(PublishCacheFolder(file, "/ROOT/internetcache", remembered), S_FALSE);
  // 259 characters fit, 260 do not; a refused path leaves the old file whole.
  const std::string fits(259, 'a'), over(260, 'b');
  EXPECT_EQ(PublishCacheFolder(file, fits, remembered), S_OK);
  EXPECT_EQ(PublishCacheFolder(file, over, remembered), E_INVALIDARG);
  EXPECT_EQ(remembered, fits);
  EXPECT_EQ(ReadPublishedCacheFolder(file), fits);
  // A file longer than the limit is not read.
  std::ofstream(file, std::ios::binary) << std::string(520, 'x');
  EXPECT_EQ(ReadPublishedCacheFolder(file), "");
  EXPECT_EQ(ReadPublishedCacheFolder(dir.path() / "missing"), "");
}

}  // namespace
}  // namespace qv::manager
