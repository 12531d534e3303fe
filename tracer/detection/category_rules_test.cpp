// The per-category rules: disable switches, inclusive and exclusive lists, and the system's
// own file types.
#include "tracer/detection/category_rules.h"

#include <gtest/gtest.h>

#include "context/test_context.h"
#include "tracer/detection/detection_constants.h"

namespace qv::tracer {
namespace {

using namespace qv::platform;

class CategoryRulesTest : public ::testing::Test {
 protected:
  void Set(std::string_view key, std::string_view name, RegValue v) {
    ASSERT_EQ(tc_.registry().SetValue(Hive::CurrentUser, key, name, v), 0);
  }
  RecordSwitches Apply(ItemCategory c, std::string_view item, std::uint32_t flags = 0) {
    RecordSwitches s = SwitchesFromFlags(flags);
    ApplyCategoryRules(tc_.registry(), c, item, s);
    return s;
  }
  TestContext tc_;
};

TEST_F(CategoryRulesTest, NoSettingsKeepEverythingOn) {
  auto s = Apply(ItemCategory::Files, "/home/u/a.txt");
  EXPECT_TRUE(s.rank && s.journal);
  s = Apply(ItemCategory::Files, "/home/u/a.txt", kRecordNoRank);
  EXPECT_FALSE(s.rank);
  EXPECT_TRUE(s.journal);
  s = Apply(ItemCategory::Files, "");  // no item: nothing to record
  EXPECT_FALSE(s.rank || s.journal);
  s = Apply(ItemCategory::WebPages, "");
  EXPECT_FALSE(s.rank || s.journal);
}

TEST_F(CategoryRulesTest, InclusiveModeWithEmptyListExcludesNothing) {
  Set(kFilesCategoryKey, "matchtype", RegValue::Dword(1));
  Set(kFilesCategoryKey, "include", RegValue::MultiSz({}));
  auto s = Apply(ItemCategory::Files, "/home/u/a.txt");
  EXPECT_TRUE(s.rank && s.journal);
  // A list whose first string is empty holds no pattern either.
  Set(kFilesCategoryKey, "include", RegValue::MultiSz({"", "*.doc"}));
  s = Apply(ItemCategory::Files, "/home/u/a.txt");
  EXPECT_TRUE(s.rank && s.journal);
  // The list of the other mode does not count.
  Set(kFilesCategoryKey, "include", RegValue::Sz("*.doc"));  // wrong type: no rule
  Set(kFilesCategoryKey, "exclude", RegValue::MultiSz({"*.txt"}));
  s = Apply(ItemCategory::Files, "/home/u/a.txt");
  EXPECT_TRUE(s.rank && s.journal);
}

TEST_F(CategoryRulesTest, InclusiveDocListTurnsOtherFilesOff) {
  Set(kFilesCategoryKey, "matchtype", RegValue::Dword(1));
  Set(kFilesCategoryKey, "include", RegValue::MultiSz({"*.doc"}));
  auto s = Apply(ItemCategory::Files, "/home/u/notes.txt");
  EXPECT_FALSE(s.rank || s.journal);
  s = Apply(ItemCategory::Files, "/home/u/Report.DOC");
  EXPECT_TRUE(s.rank && s.journal);
  // A rule never turns a switch back on.
  s = Apply(ItemCategory::Files, "/home/u/Report.doc", kRecordNoJournal);
  EXPECT_TRUE(s.rank);
  EXPECT_FALSE(s.journal);
}

TEST_F(CategoryRulesTest, ExclusiveModeAndOddMatchTypes) {
  Set(kWebCategoryKey, "exclude", RegValue::MultiSz({"http://intranet/*", "*.pdf"}));
  EXPECT_FALSE(Apply(ItemCategory::WebPages, "http://INTRANET/wiki").rank);
  EXPECT_TRUE(Apply(ItemCategory::WebPages, "http://example.com/").journal);
  for (auto mt : {RegValue::Dword(0), RegValue::Dword(2), RegValue::Sz("1")}) {
    Set(kWebCategoryKey, "matchtype", mt);  // anything but DWORD 1 is exclusive
    EXPECT_FALSE(Apply(ItemCategory::WebPages, "http://x/a.pdf").journal);
    EXPECT_TRUE(Apply(ItemCategory::WebPages, "http://x/a.html").journal);
  }
}

TEST_F(CategoryRulesTest, DisableValuesPerCategory) {
  Set(kMailCategoryKey, "DisableRanking", RegValue::Dword(1));
  auto s = Apply(ItemCategory::Mail, "outlook:abc");
  EXPECT_FALSE(s.rank);
  EXPECT_TRUE(s.journal);
  Set(kMailCategoryKey, "DisableJournaling", RegValue::Dword(7));
  EXPECT_FALSE(Apply(ItemCategory::Mail, "outlook:abc").journal);
  Set(kFilesCategoryKey, "DisableRanking", RegValue::Sz("1"));  // not a DWORD: ignored
  EXPECT_TRUE(Apply(ItemCategory::Files, "/a/b.txt").rank);
  // Mail has no lists.
  Set(kMailCategoryKey, "DisableRanking", RegValue::Dword(0));
  Set(kMailCategoryKey, "DisableJournaling", RegValue::Dword(0));
  Set(kMailCategoryKey, "exclude", RegValue::MultiSz({"*"}));
  s = Apply(ItemCategory::Mail, "outlook:abc");
  EXPECT_TRUE(s.rank && s.journal);
}

TEST_F(CategoryRulesTest, OwnFileTypesAreJournaledButNeverRanked) {
  for (const char* p : {"/m/item.q6e", "/w/page.Q6W", "/j/{x}.q6j"}) {
    auto s = Apply(ItemCategory::Files, p);
    EXPECT_FALSE(s.rank) << p;
    EXPECT_TRUE(s.journal) << p;
  }
  // Also without any settings key, and only for files.
  EXPECT_TRUE(Apply(ItemCategory::WebPages, "http://x/page.q6w").rank);
  EXPECT_TRUE(Apply(ItemCategory::Files, "/a/q6e").rank);
}

}  // namespace
}  // namespace qv::tracer
