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
  // An unchanged file that has stood still is not read again.
  tc.clock().Advance(std::chrono::seconds(5));
  EXPECT_EQ(cache.Get(), (Switches{true, true}));
  const auto reads = cache.reads();
  EXPECT_EQ(cache.Get(), (Switches{true, true}));
  EXPECT_EQ(cache.reads(), reads);
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
// hive is read on every call until a read comes a few seconds after its stamp was first
// seen, and only then kept.
TEST(SwitchCache, ReadsAHiveAgainUntilItsStampHasStoodStill) {
  TestContext tc;
  auto& reg = tc.registry();
  SwitchCache cache(reg, tc.clock());
  EXPECT_EQ(cache.Get(), (Switches{false, false}));  // no hive: nothing to wait for
  EXPECT_EQ(cache.Get(), (Switches{false, false}));
  EXPECT_EQ(cache.reads(), 1u);
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kFilesKey, "NoSearchKeys", RegValue::Dword(1)), 0);
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  tc.clock().Advance(std::chrono::seconds(1));
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  EXPECT_EQ(cache.reads(), 3u);
  tc.clock().Advance(std::chrono::seconds(3));
  EXPECT_EQ(cache.Get(), (Switches{false, true}));  // the read that settles it
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  EXPECT_EQ(cache.Get(), (Switches{false, true}));
  EXPECT_EQ(cache.reads(), 4u);
  // A change is read at once, and again until it has stood still.
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kVesperKey, "DisableStatistics", RegValue::Dword(1)),
            0);
  EXPECT_EQ(cache.Get(), (Switches{true, true}));
  EXPECT_EQ(cache.Get(), (Switches{true, true}));
  EXPECT_EQ(cache.reads(), 6u);
}

}  // namespace
}  // namespace qv::ranking
