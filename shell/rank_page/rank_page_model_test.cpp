#include "shell/rank_page/rank_page_model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>

#include "context/test_context.h"
#include "provider/ranking/file_ranking.h"

namespace qv::rankpage {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

TEST(RankPageTexts, DurationsNameOnlyTheUnitsThatAreNotZero) {
  EXPECT_EQ(DurationText(0, nullptr), "0");
  EXPECT_EQ(DurationText(3725, nullptr), "1 h 2 min 5 s");
  EXPECT_EQ(DurationText(60, nullptr), "1 min");
  EXPECT_EQ(DurationText(7200, nullptr), "2 h");
  EXPECT_EQ(DurationText(3601, nullptr), "1 h 1 s");
  EXPECT_EQ(DurationText(59, nullptr), "59 s");
  // The largest stored value does not overflow the hours.
  EXPECT_EQ(DurationText(4294967295u, nullptr), "1193046 h 28 min 15 s");
}

TEST(RankPageTexts, UnsetOrBrokenDatesAreBlankNever1899) {
  EXPECT_EQ(LocalDateText(0.0), "");
  EXPECT_EQ(LocalDateText(std::nan("")), "");
  EXPECT_EQ(LocalDateText(1e12), "");
  const std::string shown = LocalDateText(46000.5);
  EXPECT_FALSE(shown.empty());
  EXPECT_NE(shown.find(", "), std::string::npos) << shown;
}

TEST(RankPageSelection, OnlyExactlyOneFileGetsAPage) {
  std::string file;
  EXPECT_EQ(SelectedFile({}, file), E_UNEXPECTED);
  const std::vector<std::string> two{"/tmp/a", "/tmp/b"};
  EXPECT_EQ(SelectedFile(two, file), E_UNEXPECTED);
  EXPECT_TRUE(file.empty());
  const std::vector<std::string> empty{""};
  EXPECT_EQ(SelectedFile(empty, file), E_INVALIDARG);
  const std::vector<std::string> one{"/tmp/a"};
  EXPECT_EQ(SelectedFile(one, file), S_OK);
  EXPECT_EQ(file, "/tmp/a");
}

// The real store on a file in the test's root.
class RankPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRankingClasses(tc.ctx());
    file = (tc.root() / "report.txt").string();
    std::ofstream(file) << "quarterly report";
  }
  void Visit(DATE end, ULONG seconds) {
    ULONG scope = 0;
    std::string key;
    ASSERT_EQ(fr.PreRank(&file, &scope, &key, nullptr), S_OK);
    const HRESULT hr = fr.UpdateRank(&file, seconds * 5, 1, end - seconds * kSecond, end,
                                     seconds * 10, seconds * 10, scope, 0,
                                     key.empty() ? nullptr : &key);
    ASSERT_EQ(hr, S_OK) << "this file system may lack user extended attributes";
  }
  static std::string IsoDate(DATE d) { return d == 0.0 ? "" : FormatIsoDate(d); }

  TestContext tc;
  FileRanking fr{tc.ctx()};
  std::string file;
};

TEST_F(RankPageTest, AFileWithARecordShowsItsVisits) {
  const DATE firstEnd = *ParseIsoDate("2025-12-08T10:00:00Z");
  const DATE lastEnd = *ParseIsoDate("2025-12-09T11:00:00Z");
  Visit(firstEnd, 3725);
  Visit(lastEnd, 60);
  RankPage page(fr, nullptr, file, IsoDate);
  ASSERT_EQ(page.Load(), S_OK);
  const RankPageView& v = page.view();
  EXPECT_TRUE(v.hasRecord);
  EXPECT_EQ(v.visits, "2");
  EXPECT_EQ(v.firstVisit, "2025-12-08T08:57:55Z");  // the start of the first visit
  EXPECT_EQ(v.lastVisit, "2025-12-09T11:00:00Z");
  EXPECT_EQ(v.workingTime, "1 h 3 min 5 s");
  EXPECT_EQ(v.activeTime, "1 h 3 min 5 s");
  EXPECT_EQ(v.searchKey.size(), 38u) << v.searchKey;  // {8-4-4-4-12}
  EXPECT_EQ(v.status, "The file's ranking record:");
  EXPECT_TRUE(v.deleteEnabled);
  EXPECT_FALSE(v.successShown || v.failureShown);
}

TEST_F(RankPageTest, AFileWithoutARecordStillGetsAPageThatSaysSo) {
  RankPage page(fr, nullptr, file, IsoDate);
  ASSERT_EQ(page.Load(), S_OK);
  const RankPageView& v = page.view();
  EXPECT_FALSE(v.hasRecord);
  EXPECT_EQ(v.status, "This file has no ranking record.");
  EXPECT_EQ(v.visits, "");
  EXPECT_EQ(v.firstVisit, "");
  EXPECT_TRUE(v.deleteEnabled);
}

TEST_F(RankPageTest, AMissingFileGetsNoPage) {
  RankPage page(fr, nullptr, (tc.root() / "gone.txt").string(), IsoDate);
  EXPECT_TRUE(Failed(page.Load()));
}

TEST_F(RankPageTest, DeleteIsDoneOnApplyOnly) {
  Visit(*ParseIsoDate("2025-12-09T11:00:00Z"), 30);
  RankPage page(fr, nullptr, file, IsoDate);
  ASSERT_EQ(page.Load(), S_OK);
  EXPECT_EQ(page.Apply(), S_OK);  // nothing asked for: the record stays
  RankPage again(fr, nullptr, file, IsoDate);
  ASSERT_EQ(again.Load(), S_OK);
  EXPECT_TRUE(again.view().hasRecord);

  EXPECT_TRUE(page.RequestDelete());
  EXPECT_FALSE(page.RequestDelete());  // the button is disabled now
  EXPECT_FALSE(page.view().deleteEnabled);
  EXPECT_EQ(page.view().visits, "");
  EXPECT_EQ(page.view().status, "The ranking record is deleted.");
  EXPECT_TRUE(page.view().successShown);
  {
    RankPage before(fr, nullptr, file, IsoDate);
    ASSERT_EQ(before.Load(), S_OK);
    EXPECT_TRUE(before.view().hasRecord) << "deleted before apply";
  }
  ASSERT_EQ(page.Apply(), S_OK);
  EXPECT_FALSE(page.deleteRequested());
  RankPage after(fr, nullptr, file, IsoDate);
  ASSERT_EQ(after.Load(), S_OK);
  EXPECT_FALSE(after.view().hasRecord);
}

// A store whose deletion fails the way the caller chooses.
class FailingDelete final : public IKivFileRanking {
 public:
  explicit FailingDelete(HRESULT hr) : hr_(hr) {}
  HRESULT UpdateRank(const std::string*, ULONG, ULONG, DATE, DATE, ULONG, ULONG, ULONG, ULONG,
                     const std::string*) override { return E_NOTIMPL; }
  HRESULT IsLockViolation(ULONG) override { return E_NOTIMPL; }
  HRESULT IsUpdateable(const std::string*) override { return E_NOTIMPL; }
  HRESULT AccessCheck(const std::string*, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT GetStatistics(const std::string*, VARIANT_BOOL* valid, std::string* key, ULONG* w,
                        ULONG* a, ULONG* v, DATE* f, DATE* l, float*, ULONG*) override {
    *valid = VARIANT_TRUE;
    *key = "{00000000-0000-0000-0000-000000000001}";
    *w = *a = 5;
    *v = 1;
    *f = 0.0;  // a record written before first visits were kept
    *l = 46000.5;
    return S_OK;
  }
  HRESULT GetRankingSet(const std::string*, VARIANT_BOOL*, Guid*, ULONG*, ULONG*, ULONG*, ULONG*,
                        DATE*, DATE*, ULONG*, ULONG*, DATE*, ULONG*, ULONG*) override {
    return E_NOTIMPL;
  }
  HRESULT DeleteRank(const std::string*) override { return hr_; }
  HRESULT get_CurrentScope(ULONG*) override { return E_NOTIMPL; }
  HRESULT PreRank(const std::string*, ULONG*, std::string*, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }

 private:
  HRESULT hr_;
};

TEST(RankPageFailures, AFailedDeleteSaysWhyAndTriesAgainOnTheNextApply) {
  FailingDelete store(STG_E_LOCKVIOLATION);
  RankPage page(store, nullptr, "/nowhere/report.txt");
  ASSERT_EQ(page.Load(), S_OK);
  EXPECT_EQ(page.view().firstVisit, "");  // 0.0 is blank, not 30 December 1899
  EXPECT_FALSE(page.view().lastVisit.empty());
  page.RequestDelete();
  EXPECT_EQ(page.Apply(), STG_E_LOCKVIOLATION);
  EXPECT_TRUE(page.view().failureShown);
  EXPECT_FALSE(page.view().successShown);
  EXPECT_EQ(page.view().status.rfind("The ranking record could not be deleted: ", 0), 0u)
      << page.view().status;
  EXPECT_GT(page.view().status.size(), 41u);  // the reason follows
  EXPECT_TRUE(page.deleteRequested());
}

TEST(RankPageFailures, AccessDeniedHasItsOwnText) {
  for (HRESULT hr : {E_ACCESSDENIED, STG_E_ACCESSDENIED}) {
    FailingDelete store(hr);
    RankPage page(store, nullptr, "/nowhere/report.txt");
    ASSERT_EQ(page.Load(), S_OK);
    page.RequestDelete();
    EXPECT_EQ(page.Apply(), hr);
    EXPECT_EQ(page.view().status, "You are not allowed to change this file's ranking record.");
  }
}

TEST_F(RankPageTest, AReadOnlyFileShowsTheRemarkAndTheWarning) {
  RankPage writable(fr, nullptr, file, IsoDate);
  ASSERT_EQ(writable.Load(), S_OK);
  EXPECT_FALSE(writable.view().remark.warning);

  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  RankPage page(fr, nullptr, file, IsoDate);
  ASSERT_EQ(page.Load(), S_OK);
  EXPECT_TRUE(page.view().remark.warning);
  EXPECT_NE(page.view().remark.text.find("read-only"), std::string::npos);
}

}  // namespace
}  // namespace qv::rankpage
