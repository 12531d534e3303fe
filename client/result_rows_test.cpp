#include "client/result_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "client/result_columns.h"
#include "client/search_params.h"
#include "context/registry_values.h"
#include "context/test_context.h"
#include "provider/ranking/base_activation.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegValue;

constexpr std::uint32_t kScope = 0x1234;
constexpr DATE kHour = 1.0 / 24;

Value I(std::int64_t v, ValueKind k = ValueKind::UI4) {
  Value x;
  x.kind = k;
  x.i = v;
  return x;
}
Value D(double d) {
  Value x;
  x.kind = ValueKind::Date;
  x.d = d;
  return x;
}
Value S(std::string s) {
  Value x;
  x.kind = ValueKind::Str;
  x.s = std::move(s);
  return x;
}

// A row of the catalog query: rank, path and, when `lastEnd` is set, a ranking record with
// one visit of T = 100 s and N = 1 ending then.
Row MakeRow(std::int64_t rank, std::string path, std::optional<DATE> lastEnd = {},
            std::uint32_t scope = kScope) {
  Row r(kFieldCount);
  r[kFieldRank] = I(rank, ValueKind::I4);
  r[kFieldWrite] = D(45000.25);
  r[kFieldAttrib] = I(0x20);
  r[kFieldPath] = S(std::move(path));
  if (lastEnd) {
    r[kFieldScope] = I(scope);
    r[kFieldLvE] = D(*lastEnd);
    r[kFieldLvT] = I(100);
    r[kFieldLvN] = I(1);
    r[kFieldBvE] = D(0.0);
    r[kFieldBvT] = I(0);
    r[kFieldBvN] = I(0);
    r[kFieldWorkingTime] = I(3725);
    r[kFieldVisits] = I(3);
  }
  return r;
}

class ResultRowsTest : public ::testing::Test {
 protected:
  ResultRowsTest() : activation_(test_.ctx()) {}
  DATE Now() { return test_.clock().NowDate(); }
  TestContext test_;
  BaseActivation activation_;
};

TEST_F(ResultRowsTest, ScoreAndItsFallbacks) {
  // Equal rank: the row visited an hour ago beats the row never visited.
  const Row visited = MakeRow(1000, "/d/a.txt", Now() - kHour);
  const Row never = MakeRow(1000, "/d/b.txt");
  const float expected = 2.0f * (std::sqrt(3700.0f) - 60.0f) / 100.0f;  // about 0.01655
  EXPECT_NEAR(ScoreRow(visited, kScope, 500, activation_), expected * 1500, 0.01);
  EXPECT_FLOAT_EQ(ScoreRow(never, kScope, 500, activation_), kNoActivation * 1500);
  // PartialMatch 0: the weight is the rank; a rank of 0 leaves the bare activation.
  EXPECT_NEAR(ScoreRow(visited, kScope, 0, activation_), expected * 1000, 0.01);
  EXPECT_NEAR(ScoreRow(MakeRow(0, "/x", Now() - kHour), kScope, 0, activation_), expected, 1e-5);
  // A rank that is not a 32-bit integer counts as missing.
  Row big = visited;
  big[kFieldRank] = I(5, ValueKind::I8);
  EXPECT_NEAR(ScoreRow(big, kScope, 500, activation_), expected, 1e-5);
  // Another user's record, fields of other types, activations below 0.01 and visits in the
  // future all fall back.
  EXPECT_FLOAT_EQ(ScoreRow(MakeRow(1000, "/x", Now() - kHour, 99), kScope, 500, activation_),
                  kNoActivation * 1500);
  Row mistyped = visited;
  mistyped[kFieldLvT] = S("100");
  EXPECT_FLOAT_EQ(ScoreRow(mistyped, kScope, 500, activation_), kNoActivation * 1500);
  EXPECT_FLOAT_EQ(ScoreRow(MakeRow(1000, "/x", Now() - 300.0), kScope, 500, activation_),
                  kNoActivation * 1500);
  EXPECT_FLOAT_EQ(ScoreRow(MakeRow(1000, "/x", Now() + kHour), kScope, 500, activation_),
                  kNoActivation * 1500);

  // PartialMatch is read as a percentage and used ten times over.
  auto& reg = test_.registry();
  EXPECT_EQ(ReadPartialMatch(reg), 500u);
  reg.SetValue(Hive::CurrentUser, kVesperKey, kPartialMatchValue, RegValue::Dword(0));
  EXPECT_EQ(ReadPartialMatch(reg), 0u);
  reg.SetValue(Hive::CurrentUser, kVesperKey, kPartialMatchValue, RegValue::Dword(101));
  EXPECT_EQ(ReadPartialMatch(reg), 500u);
  reg.SetValue(Hive::CurrentUser, kVesperKey, kPartialMatchValue, RegValue::Sz("20"));
  EXPECT_EQ(ReadPartialMatch(reg), 500u);
}

TEST_F(ResultRowsTest, SortIsStableAndCancelKeepsTheRestInOrder) {
  ResultSet rs;
  for (int i = 0; i < 45; ++i) {
    rs.AddRow(i == 30 ? MakeRow(1000, "/d/visited", Now() - kHour)
                      : MakeRow(1000, "/d/" + std::to_string(i)));
  }
  auto scores = ScoreRows(rs, kScope, 500, activation_);
  ASSERT_EQ(scores.size(), 45u);
  EXPECT_EQ(scores[0].position, 31);
  for (std::size_t i = 1; i < scores.size(); ++i) {
    EXPECT_LT(scores[i - 1].position, i == 1 ? 100 : scores[i].position);  // ties by position
  }
  // Cancelled after the first batch: the scored rows first, the rest in catalog order.
  std::size_t asked = 0;
  scores = ScoreRows(rs, kScope, 500, activation_, [&](std::size_t done) {
    ++asked;
    return done >= kScoreBatch;
  });
  EXPECT_EQ(asked, 2u);
  ASSERT_EQ(scores.size(), kScoreBatch);
  EXPECT_EQ(RecordIndexOf(scores, 0), 0u);
  EXPECT_EQ(RecordIndexOf(scores, 19), 19u);
  EXPECT_EQ(RecordIndexOf(scores, 20), 20u);
  EXPECT_EQ(RecordIndexOf(scores, 44), 44u);
}

TEST_F(ResultRowsTest, BarsAndRowState) {
  EXPECT_EQ(BarPercent(0.0f, &activation_), -1);
  EXPECT_EQ(BarPercent(1.0f, &activation_), 40);       // scale 50
  EXPECT_EQ(BarPercent(2000.0f, &activation_), 80);     // scale 100
  EXPECT_EQ(BarPercent(kNoActivation, &activation_), 0);  // the scale is left at 0
  EXPECT_EQ(BarPercent(1.0f, nullptr), 0);

  const Row visited = MakeRow(1000, "/d/a.txt", Now() - kHour);
  RowState s = LoadRowState(visited, 24.8f, kScope, &activation_);
  EXPECT_TRUE(s.hasRanking);
  EXPECT_EQ(s.kind, ItemKind::File);
  EXPECT_GT(s.bar, 0);
  EXPECT_FALSE(LoadRowState(MakeRow(1, "/x", Now(), 99), 7.5f, kScope, &activation_).hasRanking);
  // Outside activation order rows have no score and no bar.
  EXPECT_EQ(LoadRowState(visited, 0.0f, kScope, &activation_).bar, -1);

  Row folder = MakeRow(1, "/d/Old.LNK");
  folder[kFieldAttrib] = I(0x10);
  s = LoadRowState(folder, 0, kScope, nullptr);
  EXPECT_TRUE(s.isFolder);
  EXPECT_EQ(s.link, LinkKind::None);
  EXPECT_EQ(LoadRowState(MakeRow(1, "/d/Old.LNK"), 0, kScope, nullptr).link, LinkKind::Shortcut);
  EXPECT_EQ(LoadRowState(MakeRow(1, "/d/x.url"), 0, kScope, nullptr).link,
            LinkKind::InternetShortcut);
  Row mail = MakeRow(1, "/m/1.Q6E");
  EXPECT_EQ(LoadRowState(mail, 0, kScope, nullptr).kind, ItemKind::Mail);
  mail[kFieldEmlMsgClass] = S("IPM.Task");
  EXPECT_EQ(LoadRowState(mail, 0, kScope, nullptr).kind, ItemKind::Task);
  EXPECT_EQ(LoadRowState(MakeRow(1, "/w/p.q6w"), 0, kScope, nullptr).kind, ItemKind::WebPage);
}

TEST_F(ResultRowsTest, CellTexts) {
  const DurationLabels labels;
  EXPECT_EQ(DurationText(3725, labels), "1 h 2 min");
  EXPECT_EQ(DurationText(125, labels), "2 min 5 s");
  EXPECT_EQ(DurationText(0, labels), "0 s");
  EXPECT_EQ(DurationText(300, labels), "5 min");
  EXPECT_EQ(DurationText(305, labels), "5 min");
  EXPECT_EQ(DurationText(7200, labels), "2 h");
  EXPECT_EQ(DurationText(59, labels), "59 s");

  FixedDateLocale dates(DateOrder::DayMonthYear, '.', 120);
  CellTexts texts;
  texts.dates = &dates;
  const Row file = MakeRow(1000, "/d/sub/a.txt", Now() - kHour);
  const RowState fs = LoadRowState(file, 1.0f, kScope, nullptr);
  EXPECT_EQ(CellText(file, fs, 0, texts), "a.txt");
  EXPECT_EQ(CellText(file, fs, 1, texts), "/d/sub/");
  EXPECT_EQ(CellText(file, fs, 3, texts), "15.3.2023 08:00:00");  // 45000.25 UTC, two hours on
  EXPECT_EQ(CellText(file, fs, 4, texts), "1 h 2 min");
  EXPECT_EQ(CellText(file, fs, 5, texts), "3");
  // Without ranking by this user, no working time and no visits.
  const Row foreign = MakeRow(1000, "/d/b.txt", Now() - kHour, 99);
  const RowState fo = LoadRowState(foreign, 1.0f, kScope, nullptr);
  EXPECT_EQ(CellText(foreign, fo, 4, texts), "");
  EXPECT_EQ(CellText(foreign, fo, 5, texts), "");

  Row link = MakeRow(1, "/d/Report.lnk");
  EXPECT_EQ(CellText(link, LoadRowState(link, 0, kScope, nullptr), 0, texts), "Report");
  link[kFieldDocTitle] = S("Quarterly report");
  EXPECT_EQ(CellText(link, LoadRowState(link, 0, kScope, nullptr), 0, texts), "Quarterly report");

  Row web = MakeRow(1, "/w/p.q6w");
  web[kFieldDocTitle] = S("Example page");
  web[kFieldUrl] = S("http://example.com/");
  const RowState ws = LoadRowState(web, 0, kScope, nullptr);
  EXPECT_EQ(CellText(web, ws, 0, texts), "Example page");
  EXPECT_EQ(CellText(web, ws, 1, texts), "http://example.com/");

  Row mail = MakeRow(1, "/m/1.q6e");
  mail[kFieldEmlPrefix] = S("RE: ");
  mail[kFieldEmlSubject] = S("Budget");
  mail[kFieldEmlAddress] = S("ann@example.com");
  mail[kFieldEmlMsgFlags] = I(0x21);
  const RowState ms = LoadRowState(mail, 0, kScope, nullptr);
  EXPECT_EQ(CellText(mail, ms, 0, texts), "RE: Budget");
  EXPECT_EQ(CellText(mail, ms, 1, texts), "To: ann@example.com");
}

TEST(ResultColumns, SortingByHeaderClicks) {
  SortState s;
  EXPECT_FALSE(ClickColumn(s, kColumnBar));  // the bar column only sorts descending
  EXPECT_FALSE(ClickColumn(s, kColumnName));
  EXPECT_FALSE(ClickColumn(s, kColumnLocation));
  EXPECT_TRUE(ClickColumn(s, kColumnDate));
  EXPECT_EQ(s, (SortState{kColumnDate, false}));
  EXPECT_TRUE(ClickColumn(s, kColumnDate));
  EXPECT_EQ(s, (SortState{kColumnDate, true}));
  EXPECT_TRUE(ClickColumn(s, kColumnVisits));  // another column starts descending
  EXPECT_EQ(s, (SortState{kColumnVisits, false}));
  EXPECT_TRUE(ClickColumn(s, kColumnBar));
  EXPECT_EQ(s, (SortState{kColumnBar, false}));
}

TEST(ResultColumns, LayoutValuesAreCheckedWhenRead) {
  TestContext test;
  auto& reg = test.registry();
  auto put = [&](const char* name, std::uint32_t v) {
    reg.SetValue(Hive::CurrentUser, kViewKey, name, RegValue::Dword(v));
  };
  EXPECT_EQ(LoadColumnLayout(reg), ColumnLayout{});

  ColumnLayout saved;
  saved.positions = {5, 4, 3, 2, 1, 0};
  saved.widths = {100, 200, 80, 90, 60, 40};
  saved.sort = {kColumnWorkingTime, true};
  ASSERT_EQ(SaveColumnLayout(reg, saved), 0);
  platform::RegValue v;
  ASSERT_EQ(reg.GetValue(Hive::CurrentUser, kViewKey, "scl0", v), 0);  // position of column 0
  EXPECT_EQ(v.dword, 5u);
  ASSERT_EQ(reg.GetValue(Hive::CurrentUser, kViewKey, "scls0", v), 0);  // its width
  EXPECT_EQ(v.dword, 100u);
  EXPECT_EQ(LoadColumnLayout(reg), saved);

  // Two columns at one place: the positions are not taken; the widths still are.
  put("scl1", 5);
  ColumnLayout read = LoadColumnLayout(reg);
  EXPECT_EQ(read.positions, (ColumnLayout{}.positions));
  EXPECT_EQ(read.widths, saved.widths);
  put("scl1", 9);  // out of range: that one value is ignored, the rest still place each column
  read = LoadColumnLayout(reg);
  EXPECT_EQ(read.positions, (ColumnLayout{}.positions));  // 5,1,3,2,1,0 collides again

  // A sort on a column that cannot sort, or a direction it does not allow, is ignored.
  put("sorts", 1);
  put("sortdirs", 1);
  read = LoadColumnLayout(reg);
  EXPECT_EQ(read.sort, (SortState{kColumnBar, false}));
  put("sorts", 3);
  put("sortdirs", 2);
  EXPECT_EQ(LoadColumnLayout(reg).sort, (SortState{kColumnDate, false}));
}

TEST(SearchParamsRecord, TwentyBytesAndDefaults) {
  SearchParams p;
  p.searchFiles = false;
  p.searchEmail = true;
  p.includeSystemFolders = true;
  p.sortOrder = kSortVisits;
  p.sortAscending = 1;
  p.selectRow = 0x01020304;
  const auto bytes = EncodeSearchParams(p);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 20>{0, 1, 1, 0, 1, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0,
                                                 4, 3, 2, 1}));
  EXPECT_EQ(DecodeSearchParams(bytes), p);
  std::array<std::uint8_t, 20> none{};
  EXPECT_FALSE(DecodeSearchParams(none));  // no catalog chosen
  EXPECT_FALSE(DecodeSearchParams(std::span(bytes).first(19)));

  TestContext test;
  auto& reg = test.registry();
  EXPECT_EQ(LoadSearchParams(reg, false), SearchParams{});
  SearchParams withMail;
  withMail.searchEmail = true;
  EXPECT_EQ(LoadSearchParams(reg, true), withMail);
  ASSERT_EQ(SaveSearchParams(reg, p), 0);
  EXPECT_EQ(LoadSearchParams(reg, true), p);
  // Mail alone, with no mail stores left: the defaults.
  SearchParams mailOnly;
  mailOnly.searchFiles = mailOnly.searchWebHistory = false;
  mailOnly.searchEmail = true;
  SaveSearchParams(reg, mailOnly);
  EXPECT_EQ(LoadSearchParams(reg, false), SearchParams{});
  reg.SetValue(Hive::CurrentUser, kVesperKey, kSearchParamsValue, RegValue::Dword(1));
  EXPECT_EQ(LoadSearchParams(reg, false), SearchParams{});
}

// The order worked out as the list is read must be the order of scoring every row, whatever
// share of the rows has a record and in whatever order the rows are read.
TEST_F(ResultRowsTest, ActivationOrderAgreesWithScoringEveryRow) {
  std::mt19937 rng(20261208);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  for (int round = 0; round < 300; ++round) {
    const int n = pick(90);
    const int visitedShare = pick(101);
    const std::uint32_t partial = pick(2) ? 500 : 0;
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i) {
      // Few distinct ranks, so equal scores are common.
      const std::int64_t rank = pick(8) == 0 ? 0 : 1 + 111 * pick(10);
      std::optional<DATE> lastEnd;
      std::uint32_t scope = kScope;
      if (pick(100) < visitedShare) {
        // Recent visits, visits so old they fall below 0.01, and other users' records.
        lastEnd = Now() - (pick(4) == 0 ? 4000.0 : pick(200) * kHour);
        if (pick(6) == 0) scope = 77;
      }
      rows.push_back(MakeRow(rank, "/d/" + std::to_string(i), lastEnd, scope));
    }
    // The catalog order the activation sort asks for: last visit descending (missing last),
    // rank descending, path. Some rounds break it, which the order must survive.
    const bool catalogOrder = round % 5 != 4;
    if (catalogOrder) {
      std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (int c = platform::indexing::CompareValues(a[kFieldLvE], b[kFieldLvE]); c) return c > 0;
        return a[kFieldRank].i > b[kFieldRank].i;
      });
    } else {
      std::shuffle(rows.begin(), rows.end(), rng);
      if (!rows.empty()) rows[pick(n)][kFieldRank] = I(5, ValueKind::I8);  // counts as no rank
    }
    ResultSet rs;
    for (auto& r : rows) rs.AddRow(r);
    const auto eager = ScoreRows(rs, kScope, partial, activation_);
    ActivationOrder lazy;
    lazy.Start(rs, kScope, partial, activation_);
    ASSERT_EQ(lazy.size(), rs.RowCount());
    if (!catalogOrder) {
      // Noticed late: every row still comes exactly once.
      std::vector<std::size_t> seen;
      for (std::size_t d = 0; d < rs.RowCount(); ++d) seen.push_back(lazy.RecordIndex(rs, d));
      std::sort(seen.begin(), seen.end());
      for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], i) << "round " << round;
      continue;
    }
    // Read from a random place first, then every row.
    std::vector<std::size_t> reads(rs.RowCount());
    for (std::size_t i = 0; i < reads.size(); ++i) reads[i] = i;
    if (!reads.empty()) std::swap(reads[0], reads[static_cast<std::size_t>(pick(n))]);
    for (std::size_t d : reads) {
      ASSERT_EQ(lazy.RecordIndex(rs, d), RecordIndexOf(eager, d)) << "round " << round << " row " << d;
      ASSERT_EQ(lazy.Score(rs, d), eager[d].score) << "round " << round << " row " << d;
    }
    EXPECT_EQ(lazy.Score(rs, rs.RowCount()), 0.0f);
    EXPECT_EQ(lazy.RecordIndex(rs, rs.RowCount() + 3), rs.RowCount() + 3);
  }
}

// Only the rows with a last visit are scored up front; cancelling stops among them and shows
// the rows scored so far first, the rest in catalog order.
TEST_F(ResultRowsTest, ActivationOrderScoresOnlyVisitedRowsUpFront) {
  ResultSet rs;
  for (int i = 0; i < 50; ++i) rs.AddRow(MakeRow(1000, "/v/" + std::to_string(i), Now() - (i + 1) * kHour));
  for (int i = 0; i < 1000; ++i) rs.AddRow(MakeRow(1000 - i % 700, "/u/" + std::to_string(i)));
  std::vector<std::size_t> asked;
  ActivationOrder order;
  order.Start(rs, kScope, 500, activation_, [&](std::size_t done) {
    asked.push_back(done);
    return false;
  });
  // Three batches cover the fifty visited rows; the unvisited thousand cost no batch.
  EXPECT_EQ(asked, (std::vector<std::size_t>{0, 20, 40}));
  EXPECT_EQ(order.size(), 1050u);
  EXPECT_EQ(order.RecordIndex(rs, 0), 0u);

  ActivationOrder cancelled;
  cancelled.Start(rs, kScope, 500, activation_, [](std::size_t done) { return done >= kScoreBatch; });
  ASSERT_EQ(cancelled.size(), kScoreBatch);
  EXPECT_EQ(cancelled.RecordIndex(rs, 19), 19u);
  EXPECT_EQ(cancelled.RecordIndex(rs, 700), 700u);
  EXPECT_EQ(cancelled.Score(rs, 700), 0.0f);
}

}  // namespace
}  // namespace qv::client
