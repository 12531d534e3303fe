#include "provider/ranking/ranking_switches.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "context/registry_values.h"
#include "context/test_context.h"

namespace qv::ranking {
namespace {

using platform::Hive;
using platform::RegValue;

TEST(SwitchCache, FollowsEveryChangeOfTheHive) {
  TestContext tc;
  SwitchCache cache(tc.registry(), tc.clock());
  // No hive file yet: everything off.
  EXPECT_EQ(cache.Get(), (Switches{false, false}));

  auto& reg = tc.registry();
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kVesperKey, "DisableStatistics", RegValue::Dword(1)),
            0);
  EXPECT_EQ(cache.Get(), (Switches{true, false}));
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kFilesKey, "NoSearchKeys", RegValue::Dword(1)), 0);
  EXPECT_EQ(cache.Get(), (Switches{true, true}));
  EXPECT_EQ(cache.Get(), (Switches{true, true}));  // unchanged file, same answer
  ASSERT_EQ(reg.DeleteValue(Hive::LocalMachine, kVesperKey, "DisableStatistics"), 0);
  EXPECT_EQ(cache.Get(), (Switches{false, true}));

  // The hive removed altogether is the same as an empty one.
  std::filesystem::remove(reg.HivePath(Hive::LocalMachine));
  EXPECT_EQ(cache.Get(), (Switches{false, false}));
  // Other hives do not count.
  ASSERT_EQ(reg.SetValue(Hive::CurrentUser, kFilesKey, "NoSearchKeys", RegValue::Dword(1)), 0);
  EXPECT_EQ(cache.Get(), (Switches{false, false}));
}

TEST(SwitchCache, SeesAFileEditedInPlace) {
  TestContext tc;
  auto& reg = tc.registry();
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kFilesKey, "NoSearchKeys", RegValue::Dword(1)), 0);
  SwitchCache cache(reg, tc.clock());
  EXPECT_EQ(cache.Get(), (Switches{false, true}));

  // An editor that rewrites the same file (same inode) rather than replacing it.
  const auto path = reg.HivePath(Hive::LocalMachine);
  const auto inode = [&] {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_ino;
  };
  const auto before = inode();
  std::ofstream(path, std::ios::trunc)
      << "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Quillon\\Vesper]\r\n"
         "\"DisableStatistics\"=dword:00000001\r\n";
  ASSERT_EQ(inode(), before);
  EXPECT_EQ(cache.Get(), (Switches{true, false}));

  // A hive that no longer parses reads as all switches off, as the registry reads it.
  std::ofstream(path, std::ios::trunc) << "not a registry file";
  EXPECT_EQ(cache.Get(), (Switches{false, false}));
}

// Two writes within one tick of a coarse file system clock can leave the same stamp: a
// hive changed lately is read on every call until it has stood still for a few seconds.
TEST(SwitchCache, ReadsAHiveChangedLatelyUntilItStandsStill) {
  TestContext tc;
  auto& reg = tc.registry();
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kFilesKey, "NoSearchKeys", RegValue::Dword(1)), 0);
  tc.clock().SetNow(SystemClock().Now());  // the hive was written just now
  SwitchCache cache(reg, tc.clock());
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  EXPECT_EQ(cache.reads(), 2u);
  tc.clock().Advance(std::chrono::seconds(5));
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  EXPECT_EQ(cache.reads(), 3u);  // kept once it stood still
  // A change is read at once, and again while it is new.
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kVesperKey, "DisableStatistics", RegValue::Dword(1)),
            0);
  tc.clock().SetNow(SystemClock().Now());
  EXPECT_EQ(cache.Get(), (Switches{true, true}));
  EXPECT_EQ(cache.Get(), (Switches{true, true}));
  EXPECT_EQ(cache.reads(), 5u);
}

}  // namespace
}  // namespace qv::ranking
