// The web history and journal pages: sizes, the web history's cache group and clearing it.
#include "manager/status/store_pages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "common/temp_dir.h"
#include "platform/urlcache/url_cache.h"

namespace qv::manager {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, std::size_t bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << std::string(bytes, 'x');
}

class WebHistoryTest : public ::testing::Test {
 protected:
  // A cached copy of `url` with `bytes` bytes, in the web history's group when `grouped`.
  void Cache(const std::string& url, std::size_t bytes, bool grouped) {
    platform::UrlCache cache(dir.path(), clock);
    fs::path f;
    ASSERT_EQ(cache.CreateEntryFile(url, "htm", f), 0);
    std::ofstream(f, std::ios::binary) << std::string(bytes, 'x');
    ASSERT_EQ(cache.CommitEntry(url, f, {}), 0);
    if (!grouped) return;
    platform::CacheGroupId id = 0;
    ASSERT_EQ(cache.FindOrCreateGroup("quillonl2", id), 0);
    ASSERT_EQ(cache.AddEntryToGroup(url, id), 0);
  }
  fs::path web() const { return WebHistoryFolder(dir.path()); }

  TempDir dir;
  ManualClock clock;
  WebHistoryStore store{dir.path(), clock};
};

TEST_F(WebHistoryTest, GroupUsageCountsOnlyTheGroupsCopiesAndCreatesTheGroupOnlyWhenAsked) {
  std::uint64_t bytes = 1;
  EXPECT_EQ(store.GroupUsage(false, bytes), S_FALSE);
  EXPECT_EQ(bytes, 0u);
  Cache("http://example.org/a", 3000, true);
  Cache("http://example.org/b", 500, true);
  Cache("http://example.org/other", 7000, false);
  EXPECT_EQ(store.GroupUsage(false, bytes), S_OK);
  EXPECT_EQ(bytes, 3500u);
  EXPECT_EQ(FormatKilobytes(bytes), "4 KB");
}

TEST_F(WebHistoryTest, ClearingTwiceLeavesAnEmptyFolderAndAnEmptyGroup) {
  Cache("http://example.org/a", 3000, true);
  Cache("http://example.org/other", 100, false);
  Write(web() / "2006" / "page.htm", 10);
  Write(web() / ".hidden", 10);  // a hidden file is history too
  fs::create_directories(web() / "locked" / "deeper");
  Write(web() / "locked" / "deeper" / "page.htm", 10);
  ::chmod((web() / "locked").c_str(), 0500);  // read-only folder

  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(store.Clear(), S_OK) << round;
    EXPECT_TRUE(fs::is_directory(web()));
    EXPECT_TRUE(fs::is_empty(web()));
    std::uint64_t bytes = 1;
    EXPECT_EQ(store.GroupUsage(true, bytes), S_OK);  // the page makes a new, empty group
    EXPECT_EQ(bytes, 0u);
  }
  platform::UrlCache cache(dir.path(), clock);
  platform::CacheEntry e;
  EXPECT_NE(cache.GetEntry("http://example.org/a", e), 0);  // flushed with the group
  EXPECT_EQ(cache.GetEntry("http://example.org/other", e), 0);  // not the history's
}

TEST_F(WebHistoryTest, ClearingNeverFollowsALink) {
  TempDir outside;
  Write(outside.path() / "keep.txt", 5);
  Write(web() / "page.htm", 5);
  fs::create_directory_symlink(outside.path(), web() / "link");
  fs::create_symlink(outside.path() / "keep.txt", web() / "file-link");
  EXPECT_EQ(store.Clear(), S_OK);
  EXPECT_TRUE(fs::is_empty(web()));
  EXPECT_TRUE(fs::exists(outside.path() / "keep.txt"));

  // The web history folder itself swapped for a link: nothing behind it is touched.
  fs::remove(web());
  fs::create_directory_symlink(outside.path(), web());
  EXPECT_EQ(store.Clear(), E_ACCESSDENIED);
  EXPECT_TRUE(fs::exists(outside.path() / "keep.txt"));
}

TEST_F(WebHistoryTest, ClearingAFreshRootIsNoError) {
  EXPECT_EQ(store.Clear(), S_OK);
}

TEST(FolderSizeTest, CountsFilesBelowTheFolderButNotWhatLinksPointTo) {
  TempDir dir, outside;
  Write(dir.path() / "a", 100);
  Write(dir.path() / "sub" / "b", 28);
  Write(outside.path() / "big", 5000);
  fs::create_directory_symlink(outside.path(), dir.path() / "link");
  fs::create_symlink(outside.path() / "big", dir.path() / "file-link");
  EXPECT_EQ(FolderSize(dir.path()), 128u);
  EXPECT_EQ(FolderSize(dir.path() / "missing"), 0u);
}

TEST(FormatKilobytesTest, RoundsUpAndGroupsThousands) {
  EXPECT_EQ(FormatKilobytes(0), "0 KB");
  EXPECT_EQ(FormatKilobytes(1), "1 KB");
  EXPECT_EQ(FormatKilobytes(1024), "1 KB");
  EXPECT_EQ(FormatKilobytes(1025), "2 KB");
  EXPECT_EQ(FormatKilobytes(999ull * 1024), "999 KB");
  EXPECT_EQ(FormatKilobytes(1000ull * 1024), "1,000 KB");
  EXPECT_EQ(FormatKilobytes(1234567ull * 1024), "1,234,567 KB");
}

}  // namespace
}  // namespace qv::manager
