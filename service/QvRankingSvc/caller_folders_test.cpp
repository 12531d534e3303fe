#include "service/QvRankingSvc/caller_folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/scope_hash.h"
#include "common/temp_dir.h"
#include "service/QvRankingSvc/catalog_config.h"

namespace qv::service {
namespace {

namespace fs = std::filesystem;

TEST(OwnerIdentity, NamesTheMailCatalogs) {
  EXPECT_EQ(OwnerIdentity(1000), "S-1-22-1-1000");
  EXPECT_EQ(ScopeHash("S-1-5-18"), 0xCDE219B7u);
  EXPECT_EQ(ScopeHash(""), 0u);
  EXPECT_EQ(MailCatalogName("S-1-5-18", "a"), "Quillon_cde219b7_a");
  EXPECT_EQ(MailCatalogName("", "ff"), "Quillon_0_ff");
}

class CallerFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::canonical(dir_.path());
    home_ = base_ / "home";
    data_ = base_ / "root";
    fs::create_directories(home_ / "docs");
    fs::create_directories(data_ / "LocalAppData");
    fs::create_directories(base_ / "elsewhere");
  }
  HRESULT Check(std::string_view dir, std::string& out) {
    return CheckCallerFolder(dir, home_, data_, out);
  }
  TempDir dir_;
  fs::path base_, home_, data_;
};

TEST_F(CallerFolderTest, TrailingSeparatorsAndBackslashesGiveTheSameFolder) {
  const std::string want = (data_ / "LocalAppData").string();
  for (const std::string& form : {want, want + "/", want + "//", want + "\\"}) {
    std::string out;
    ASSERT_EQ(Check(form, out), S_OK) << form;
    EXPECT_EQ(out, want);
  }
  std::string out;
  std::string back = want;
  std::replace(back.begin(), back.end(), '/', '\\');
  ASSERT_EQ(Check(back, out), S_OK);
  EXPECT_EQ(out, want);
  // A folder that does not exist yet is fine, inside the home as in the data.
  EXPECT_EQ(Check((home_ / "docs" / "new").string(), out), S_OK);
  EXPECT_EQ(Check(home_.string(), out), S_OK);
}

TEST_F(CallerFolderTest, OnlyCanonicalPathsInsideHomeOrData) {
  std::string out = "stale";
  EXPECT_EQ(Check("", out), E_INVALIDARG);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Check("LocalAppData", out), E_INVALIDARG);
  EXPECT_EQ(Check((data_ / "LocalAppData" / ".." / ".." / "elsewhere").string(), out),
            E_INVALIDARG);
  EXPECT_EQ(Check((data_ / "." / "LocalAppData").string(), out), E_INVALIDARG);
  EXPECT_EQ(Check(data_.string() + "//LocalAppData", out), E_INVALIDARG);
  EXPECT_EQ(Check((base_ / "elsewhere").string(), out), E_ACCESSDENIED);
  EXPECT_EQ(Check("/", out), E_ACCESSDENIED);
  // A name that merely begins like the home is not inside it.
  fs::create_directories(base_ / "home2");
  EXPECT_EQ(Check((base_ / "home2").string(), out), E_ACCESSDENIED);
  // A link inside the home that leads out of it.
  fs::create_directory_symlink(base_ / "elsewhere", home_ / "link");
  EXPECT_EQ(Check((home_ / "link").string(), out), E_INVALIDARG);
  EXPECT_EQ(Check((home_ / "link" / "sub").string(), out), E_INVALIDARG);
}

TEST_F(CallerFolderTest, LongFolderIsRefusedNeverCut) {
  const std::string prefix = (data_ / "LocalAppData").string() + "/";
  ASSERT_LT(prefix.size(), kMaxRequestFolderChars);
  const std::string fits = prefix + std::string(kMaxRequestFolderChars - prefix.size(), 'x');
  std::string out;
  EXPECT_EQ(Check(fits, out), S_OK);
  EXPECT_EQ(out, fits);
  EXPECT_EQ(Check(fits + "/", out), S_OK);  // the separator is not part of the folder
  EXPECT_EQ(Check(fits + "y", out), HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(out.empty());
  // Characters, not bytes: an accented folder of the same length fits.
  // (in folders of 50 characters, within the file system's limit on one name).
  std::string accented = prefix;
  for (std::size_t i = prefix.size(); i < kMaxRequestFolderChars; ++i) {
    accented += (i - prefix.size()) % 51 == 50 ? "/" : "\xC3\xA9";
  }
  EXPECT_EQ(Check(accented, out), S_OK);
  EXPECT_EQ(Check(accented + "\xC3\xA9", out),
            HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE));
}

TEST(StoreList, EmptyItemsSkippedAndNamesNormalised) {
  std::vector<std::string> out;
  ASSERT_EQ(ParseStoreList(";;A;;B;", out), S_OK);
  EXPECT_EQ(out, (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(ParseStoreList("00fF;DEADBEEF;000000001", out), S_OK);
  EXPECT_EQ(out, (std::vector<std::string>{"ff", "deadbeef", "1"}));
  for (const char* bad : {"", ";;", "A;g", "0x1A", "-1", "+1", "0", "100000000", "A B",
                          "a/../b", "FFFFFFFFF"}) {
    EXPECT_EQ(ParseStoreList(bad, out), E_INVALIDARG) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
}

TEST(ShortcutFileName, ThreeExtensionsInAnyCase) {
  EXPECT_TRUE(IsShortcutFileName("/a/b/page.q6w"));
  EXPECT_TRUE(IsShortcutFileName("/a/b/PAGE.Q6W"));
  EXPECT_TRUE(IsShortcutFileName("/a/b/01AB.q6e"));
  EXPECT_TRUE(IsShortcutFileName("/a/b/{X}.Q6j"));
  EXPECT_FALSE(IsShortcutFileName("/a/b/Journal.q6d"));
  EXPECT_FALSE(IsShortcutFileName("/a/b/noextension"));
  EXPECT_FALSE(IsShortcutFileName("/a/dir.q6w/file"));
  EXPECT_FALSE(IsShortcutFileName("/a/b/page.q6w.txt"));
}

}  // namespace
}  // namespace qv::service
