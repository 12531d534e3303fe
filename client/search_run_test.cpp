#include "client/search_run.h"

#include <gtest/gtest.h>

#include <random>

#include "context/test_context.h"
#include "platform/indexing/catalog_db.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/ranking.h"

namespace qv::client {
namespace {

namespace ix = platform::indexing;
using PV = platform::PropVariant;

// A file catalog filled directly: `visited` documents carry a ranking record of this user.
class SearchRunTest : public ::testing::Test {
 protected:
  SearchRunTest() : activation_(test_.ctx()), dates_(DateOrder::MonthDayYear, '/', 0) {
    auto& reg = test_.registry();
    admin_ = std::make_unique<ix::CatalogAdmin>(reg, test_.root());
    admin_->AddCatalog("System", test_.root() / "catalog");
    admin_->AddScope("System", (test_.root() / "docs").string(), false);
    for (const auto& [name, data] : cihelper::kDocumentCatalogProperties) {
      reg.SetValue(platform::Hive::LocalMachine, ix::PropertiesKey("System"), name,
                   platform::RegValue::Sz(data));
      ix::CachedProperty p;
      if (ix::ParseCachedProperty(name, data, p)) props_.push_back(p);
    }
    EXPECT_EQ(MakeComposeEnvironment(test_.ctx(), dates_, admin_.get(), env_), S_OK);
    exec_ = std::make_unique<ix::QueryExecutor>(*admin_);
  }

  void Fill(int visited, int unvisited, const std::string& text) {
    std::unique_ptr<ix::CatalogDb> db;
    ASSERT_EQ(ix::CatalogDb::Open(test_.root() / "catalog", props_, db), S_OK);
    const DATE now = test_.clock().NowDate();
    for (int i = 0; i < visited + unvisited; ++i) {
      ix::FileStat st;
      st.path = (test_.root() / "docs" / ("d" + std::to_string(i))).string();
      st.write = now - 1;
      ix::DocState state;
      std::int64_t id = 0;
      ASSERT_EQ(db->NoteFile(st, 1, state), S_OK);
      ASSERT_EQ(db->FindDocument(st.path, id, state), S_OK);
      ix::DocContent c;
      c.contents = text;
      if (i < visited) {
        auto key = [](std::uint32_t pid) { return ix::PropertyKey(ranking::kRankingFmtid, pid); };
        // Later documents were visited longer ago.
        c.props = {{key(3), PV::UI4(env_.userScope)}, {key(8), PV::Date(now - (i + 1) / 24.0)},
                   {key(9), PV::UI4(100)},           {key(10), PV::UI4(500)},
                   {key(11), PV::Date(0.0)},         {key(12), PV::UI4(0)},
                   {key(13), PV::UI4(0)}};
      }
      ASSERT_EQ(db->StoreDocument(id, c, ix::DocState::Filtered), S_OK);
    }
  }

  TestContext test_;
  BaseActivation activation_;
  FixedDateLocale dates_;
  std::unique_ptr<ix::CatalogAdmin> admin_;
  std::vector<ix::CachedProperty> props_;
  std::unique_ptr<ix::QueryExecutor> exec_;
  ComposeEnvironment env_;
};

TEST_F(SearchRunTest, EmptyQueryIsCappedAndScored) {
  Fill(510, 5, "budget");
  SearchRequest req;
  req.params.searchWebHistory = false;
  ScoringContext scoring;
  scoring.activation = &activation_;
  SearchResult result;
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_EQ(result.RowCount(), kEmptyQueryRowLimit);
  ASSERT_TRUE(result.scored);
  // The most recent visit first, and scores never rise down the list.
  EXPECT_EQ(result.DisplayRow(0)[kFieldPath].s, (test_.root() / "docs" / "d0").string());
  for (std::size_t i = 1; i < result.scores.size(); ++i) {
    EXPECT_GE(result.DisplayScore(i - 1), result.DisplayScore(i));
  }

  // Date order: no scores, the catalog's order, no bars; not limited to visited items.
  req.params.sortOrder = kSortDate;
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_FALSE(result.scored);
  EXPECT_EQ(result.RowCount(), kEmptyQueryRowLimit);
  EXPECT_EQ(LoadRowState(result.DisplayRow(0), result.DisplayScore(0), env_.userScope,
                         &activation_).bar,
            -1);

  // A word: every matching row, none capped.
  req.queryText = "budget";
  req.params.sortOrder = kSortActivation;
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_EQ(result.RowCount(), 515u);
  EXPECT_EQ(result.scores.size(), 515u);
  // Nothing found is information, not an error.
  req.queryText = "nowhere";
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK);
  EXPECT_EQ(result.information, Messages{kMsgNoResults});
}

// Fields the caller never reads may be left out; the order, the scores and everything
// scoring, sorting and the path need stay as they are.
TEST_F(SearchRunTest, UnreadFieldsChangeNothingThatIsRead) {
  Fill(40, 60, "budget report");
  ScoringContext scoring;
  scoring.activation = &activation_;
  for (std::uint32_t sort : {kSortActivation, kSortDate, kSortVisits}) {
    SearchRequest req;
    req.params.searchWebHistory = false;
    req.params.sortOrder = sort;
    req.queryText = "budget";
    // Each as a process's first search, which reads its rows through SQL.
    SearchResult whole, narrow;
    ix::QueryExecutor first(*admin_), again(*admin_);
    ASSERT_EQ(RunSearch(req, env_, first, scoring, whole), S_OK) << whole.detail;
    req.unreadFields = ~std::uint64_t{0};
    ASSERT_EQ(RunSearch(req, env_, again, scoring, narrow), S_OK) << narrow.detail;
    ASSERT_EQ(narrow.RowCount(), whole.RowCount());
    ASSERT_EQ(narrow.scores.size(), whole.scores.size());
    for (std::size_t i = 0; i < whole.RowCount(); ++i) {
      const Row& a = whole.DisplayRow(i);
      const Row& b = narrow.DisplayRow(i);
      EXPECT_EQ(b[kFieldPath], a[kFieldPath]) << "sort " << sort << " row " << i;
      EXPECT_EQ(narrow.DisplayScore(i), whole.DisplayScore(i));
      for (std::size_t f : {kFieldRank, kFieldScope, kFieldLvE, kFieldLvT, kFieldLvN, kFieldBvE,
                            kFieldBvT, kFieldBvN}) {
        EXPECT_EQ(b[f], a[f]) << "field " << f;
      }
      EXPECT_FALSE(a[kFieldFilename].IsNull());
      EXPECT_TRUE(b[kFieldFilename].IsNull());
    }
  }
}

// The search as the window and the printed list read it (rows ordered as they are asked for,
// activation scores merged in as the list is read) against the plain model: every row read
// through SQL, sorted whole, every row scored. Random catalogs where a share of the documents
// have ranking records (some of another user, some long ago), every sort the client offers.
TEST_F(SearchRunTest, ShownOrderIsTheOrderOfScoringEveryRow) {
  std::mt19937 rng(1208);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  static constexpr const char* kWords[] = {"budget", "report", "invoice", "memo"};
  std::unique_ptr<ix::CatalogDb> db;
  ASSERT_EQ(ix::CatalogDb::Open(test_.root() / "catalog", props_, db), S_OK);
  const DATE now = test_.clock().NowDate();
  const int visitedShare = 25;
  for (int i = 0; i < 400; ++i) {
    ix::FileStat st;
    st.path = (test_.root() / "docs" / ("r" + std::to_string(i))).string();
    st.write = now - pick(5);  // equal dates are common
    ix::DocState state;
    std::int64_t id = 0;
    ASSERT_EQ(db->NoteFile(st, 1, state), S_OK);
    ASSERT_EQ(db->FindDocument(st.path, id, state), S_OK);
    ix::DocContent c;
    for (int w = pick(6) + 1; w > 0; --w) c.contents += std::string(kWords[pick(4)]) + " ";
    if (pick(100) < visitedShare) {
      auto key = [](std::uint32_t pid) { return ix::PropertyKey(ranking::kRankingFmtid, pid); };
      const std::uint32_t scope = pick(8) == 0 ? env_.userScope + 1 : env_.userScope;
      const DATE last = now - (pick(5) == 0 ? 3000.0 : pick(300) / 24.0);
      c.props = {{key(3), PV::UI4(scope)},
                 {key(4), PV::UI4(static_cast<std::uint32_t>(pick(4) * 60))},
                 {key(6), PV::UI4(static_cast<std::uint32_t>(pick(4)))},
                 {key(8), PV::Date(last)},
                 {key(9), PV::UI4(static_cast<std::uint32_t>(10 + pick(500)))},
                 {key(10), PV::UI4(static_cast<std::uint32_t>(1 + pick(20)))},
                 {key(11), PV::Date(last - pick(100))},
                 {key(12), PV::UI4(static_cast<std::uint32_t>(pick(1000)))},
                 {key(13), PV::UI4(static_cast<std::uint32_t>(pick(30)))}};
    }
    ASSERT_EQ(db->StoreDocument(id, c, ix::DocState::Filtered), S_OK);
  }
  db.reset();

  ScoringContext scoring;
  scoring.activation = &activation_;
  const std::uint32_t sorts[] = {kSortActivation, kSortDate, kSortWorkingTime, kSortVisits};
  const char* queries[] = {"budget", "report memo", "budget OR invoice", "", "budget -memo"};
  for (const char* query : queries) {
    for (std::uint32_t sort : sorts) {
      for (std::uint32_t ascending : {0u, 1u}) {
        if (sort == kSortActivation && ascending) continue;  // descending only
        SCOPED_TRACE(std::string(query) + " sort " + std::to_string(sort) +
                     (ascending ? " ascending" : ""));
        SearchRequest req;
        req.params.searchWebHistory = false;
        req.params.sortOrder = sort;
        req.params.sortAscending = ascending;
        req.queryText = query;
        SearchResult shown;
        // Twice: the second search is answered from the property cache.
        ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, shown), S_OK) << shown.detail;
        ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, shown), S_OK) << shown.detail;

        ix::QueryOptions sqlOnly;
        sqlOnly.propertyCache = false;
        sqlOnly.maxRows = req.queryText.empty() ? kEmptyQueryRowLimit : 0;
        ix::ResultSet model;
        std::string error;
        ASSERT_EQ(exec_->Execute(shown.sql, sqlOnly, model, error), S_OK) << error;
        std::vector<ScoreEntry> scores;
        if (IsActivationOrder(sort)) {
          scores = ScoreRows(model, env_.userScope, scoring.partialMatch, activation_);
        }
        ASSERT_EQ(shown.RowCount(), model.RowCount());
        EXPECT_GT(shown.RowCount(), 0u);
        // Read from the middle first, as a list scrolled down at once would.
        const std::size_t n = shown.RowCount();
        std::vector<std::size_t> reads;
        reads.push_back(n / 2);
        for (std::size_t i = 0; i < n; ++i) reads.push_back(i);
        for (std::size_t d : reads) {
          const Row& want = model.RowAt(RecordIndexOf(scores, d));
          EXPECT_EQ(shown.DisplayRow(d)[kFieldPath], want[kFieldPath]) << "row " << d;
          EXPECT_EQ(shown.DisplayScore(d), d < scores.size() ? scores[d].score : 0.0f);
        }
      }
    }
  }
}

// A pasted paragraph: every word must be found, the excluded ones too.
TEST_F(SearchRunTest, LongPastedQueryRuns) {
  std::string text, query;
  for (int i = 0; i < 150; ++i) {
    text += "word" + std::to_string(i) + " ";
    query += (i % 10 == 9 ? "-missing" : "word") + std::to_string(i) + " ";
  }
  Fill(2, 1, text);
  SearchRequest req;
  req.params.searchWebHistory = false;
  req.queryText = query + "|either \"word1 word2\" sdir:/";
  ScoringContext scoring;
  scoring.activation = &activation_;
  SearchResult result;
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_FALSE(result.ranFreeText);
  EXPECT_EQ(result.RowCount(), 3u);
  req.queryText = query + "-word5";
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_EQ(result.information, Messages{kMsgNoResults});  // every file holds word5
}

// Blanks are no query at all; wildcards and punctuation alone are explained, not run.
TEST_F(SearchRunTest, BlankAndWordlessQueries) {
  Fill(3, 2, "budget");
  SearchRequest req;
  req.params.searchWebHistory = false;
  req.queryText = " \t\r\n\u2028 ";
  ScoringContext scoring;
  scoring.activation = &activation_;
  SearchResult result;
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_EQ(result.RowCount(), 3u);  // the visited items only, as for the empty query
  EXPECT_TRUE(result.scored);
  EXPECT_TRUE(result.messages.empty());

  for (const char* text : {"*", "** ... ?!", "\"--\" |*"}) {
    req.queryText = text;
    EXPECT_EQ(RunSearch(req, env_, *exec_, scoring, result), ix::QUERY_E_ALLNOISE) << text;
    EXPECT_TRUE(result.ranFreeText) << text;
    EXPECT_EQ(result.messages, Messages{kMsgNothingToSearch}) << text;
  }
  // A wildcard after a letter is a prefix search.
  req.queryText = "bud*";
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_EQ(result.RowCount(), 5u);
}

// The default search reads files and web history; without the web history catalog it still
// runs over the files and says what was left out (it used to fail with 0x80070490).
TEST_F(SearchRunTest, MissingWebHistoryCatalogIsLeftOut) {
  Fill(1, 1, "budget");
  SearchRequest req;  // files and web history
  ASSERT_TRUE(req.params.searchFiles && req.params.searchWebHistory);
  req.queryText = "budget";
  ScoringContext scoring;
  scoring.activation = &activation_;
  SearchResult result;
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_EQ(result.RowCount(), 2u);
  EXPECT_EQ(result.messages, Messages{kMsgWebCatalogMissing});
  EXPECT_NE(MessageText(nullptr, kMsgWebCatalogMissing).find("qvindex verify"), std::string::npos);

  ASSERT_EQ(admin_->AddCatalog("QuillonWebHistory", test_.root() / "web"), S_OK);
  ASSERT_EQ(RunSearch(req, env_, *exec_, scoring, result), S_OK) << result.detail;
  EXPECT_EQ(result.RowCount(), 2u);
  EXPECT_TRUE(result.messages.empty());
}

TEST_F(SearchRunTest, IgnoredWordsAreTriedAgainAsFreeText) {
  Fill(1, 1, "budget");
  QueryRunner runner(*exec_);
  ResultSet rows;
  bool retried = false;
  std::string error;
  const std::string head = "SELECT Path FROM System..Scope() WHERE ";
  EXPECT_EQ(runner.Run(head + "CONTAINS (ALL,'\"..\"')", head + "FREETEXT('\"budget\"')", 0, rows,
                       retried, error),
            S_OK);
  EXPECT_TRUE(retried);
  EXPECT_EQ(rows.RowCount(), 2u);
  // Without a free-text form the error stands.
  EXPECT_EQ(runner.Run(head + "CONTAINS (ALL,'\"..\"')", "", 0, rows, retried, error),
            ix::QUERY_E_ALLNOISE);
  EXPECT_FALSE(retried);
}

}  // namespace
}  // namespace qv::client
