#include "platform/indexing/stem_tokenizer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "context/context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/fts_rank.h"
#include "platform/indexing/query_executor.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;

class StemmingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qv-stem-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    install_ = std::make_unique<Installation>(root_);
    admin_ = std::make_unique<CatalogAdmin>(install_->context().registry, root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // A catalog of one-line documents named d0, d1, ... in the order given.
  void MakeCatalog(const std::vector<std::string>& texts,
                   std::span<const std::string> stemming = kDefaultStemming) {
    ASSERT_EQ(admin_->AddCatalog("Stem", root_ / "cat"), S_OK);
    AddDocuments(texts, stemming);
  }
  void AddDocuments(const std::vector<std::string>& texts,
                    std::span<const std::string> stemming = kDefaultStemming) {
    std::unique_ptr<CatalogDb> db;
    ASSERT_EQ(CatalogDb::Open(root_ / "cat", {}, db, stemming), S_OK);
    Transaction tx(db->db());
    for (const auto& text : texts) {
      FileStat st;
      st.path = "/docs/d" + std::to_string(next_++);
      DocState state;
      ASSERT_EQ(db->NoteFile(st, 1, state), S_OK);
      std::int64_t id = 0;
      ASSERT_EQ(db->FindDocument(st.path, id, state), S_OK);
      DocContent c;
      c.contents = text;
      ASSERT_EQ(db->StoreDocument(id, c, DocState::Filtered), S_OK);
    }
    ASSERT_EQ(tx.Commit(), S_OK);
  }

  // The documents a CONTAINS text finds, as the user's query would.
  std::vector<std::string> Find(const std::string& contains) {
    QueryExecutor exec(*admin_);
    ResultSet rs;
    std::string error;
    EXPECT_EQ(exec.Execute("SELECT FileName FROM Stem..Scope() WHERE CONTAINS('" + contains +
                               "') ORDER BY FileName",
                           {}, rs, error),
              S_OK)
        << error;
    std::vector<std::string> out;
    for (const auto& r : rs.Rows()) out.push_back(r[0].ToString());
    return out;
  }

  std::string TableSql() {
    std::unique_ptr<CatalogDb> db;
    EXPECT_EQ(CatalogDb::OpenForQuery(root_ / "cat", db), S_OK);
    Statement st;
    EXPECT_EQ(db->db().Prepare("SELECT sql FROM sqlite_master WHERE name='fts'", st), S_OK);
    return st.Step() == SQLITE_ROW ? st.Text(0) : "";
  }

  using Docs = std::vector<std::string>;
  fs::path root_;
  std::unique_ptr<Installation> install_;
  std::unique_ptr<CatalogAdmin> admin_;
  int next_ = 0;
};

TEST_F(StemmingTest, AWordFindsItsFormsAndAPhraseStaysExact) {
  MakeCatalog({"the annual report is late", "annual reports for the board",
               "reporting lines changed", "the repository moved", "nothing relevant here",
               "Caf\xC3\xA9s and running"});
  // A lone word finds every form of its stem, whichever form the document or query has.
  EXPECT_EQ(Find("reports"), (Docs{"d0", "d1", "d2"}));
  EXPECT_EQ(Find("report"), (Docs{"d0", "d1", "d2"}));
  EXPECT_EQ(Find("reported"), (Docs{"d0", "d1", "d2"}));
  EXPECT_EQ(Find("repositories"), (Docs{"d3"}));  // another stem
  EXPECT_EQ(Find("run"), (Docs{"d5"}));
  EXPECT_EQ(Find("cafe"), (Docs{"d5"}));  // diacritics still removed before stemming
  // A quoted phrase matches the exact words: "annual reports" is not "annual report".
  EXPECT_EQ(Find("\"annual reports\""), (Docs{"d1"}));
  EXPECT_EQ(Find("\"annual report\""), (Docs{"d0"}));
  EXPECT_EQ(Find("\"reporting lines\""), (Docs{"d2"}));
  // A prefix matches the words that begin with it, never a stem's mark.
  EXPECT_EQ(Find("repo*"), (Docs{"d0", "d1", "d2", "d3"}));
  EXPECT_EQ(Find("repos*"), (Docs{"d3"}));
  EXPECT_EQ(Find("reports AND board"), (Docs{"d1"}));
  EXPECT_EQ(Find("reports AND NOT board"), (Docs{"d0", "d2"}));
}

TEST_F(StemmingTest, RankOfStemmedRowsIsStillSQLitesBm25) {
  MakeCatalog({"report", "reports reports reports and more words here", "reporting",
               "other text entirely", "report report"});
  std::unique_ptr<CatalogDb> db;
  ASSERT_EQ(CatalogDb::OpenForQuery(root_ / "cat", db), S_OK);
  ASSERT_EQ(RegisterPhraseHits(db->db().handle()), S_OK);
  // Stems take no position: a row's length is its words.
  std::int64_t total = 0;
  ASSERT_EQ(db->db().QueryInt("SELECT sum(length(contents) - length(replace(contents, ' ', '')) "
                              "+ 1) FROM fts",
                              total),
            S_OK);
  Statement st;
  ASSERT_EQ(db->db().Prepare("SELECT d.sz, qv_phrase_hits(fts, ?2), bm25(fts) FROM fts "
                             "JOIN fts_docsize d ON d.id = fts.rowid WHERE fts MATCH ?1",
                             st),
            S_OK);
  PhraseHits hits;
  st.Bind(1, std::string_view("\"reports\""));
  sqlite3_bind_pointer(st.get(), 2, &hits, kPhraseHitsPointer, nullptr);
  // A search read through SQL reads each row's length itself, by the id qv_phrase_hits gives.
  DocsizeReader sizes(db->db().handle());
  int rows = 0;
  std::int64_t someRow = 0;
  while (st.Step() == SQLITE_ROW) {
    const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(st.get(), 0));
    const auto tokens = DocsizeTokens(
        std::span(blob, static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 0))));
    EXPECT_EQ(-Bm25Score(hits, tokens), st.Real(2));
    std::int64_t read = -1;
    someRow = st.Int(1);
    ASSERT_EQ(sizes.Tokens(someRow, read), SQLITE_OK);
    EXPECT_EQ(read, tokens);
    ++rows;
  }
  EXPECT_EQ(rows, 4);
  // A row the table of lengths lacks is a damaged index; the reader goes on after it.
  std::int64_t read = -1;
  EXPECT_EQ(sizes.Tokens(std::int64_t{1} << 40, read), SQLITE_CORRUPT);
  EXPECT_EQ(sizes.Tokens(someRow, read), SQLITE_OK);
  EXPECT_GT(read, 0);
  EXPECT_DOUBLE_EQ(hits.avgTokens, static_cast<double>(total) / 5.0);

  // A one-phrase query may leave its IDF until every row is listed; the scores must then be
  // the same doubles, with a column filter or a phrase of two words too. A query of two
  // phrases never defers.
  for (const char* match : {"\"reports\"", "{contents}: report", "\"more words\"",
                            "report OR other", "report NOT other"}) {
    SCOPED_TRACE(match);
    PhraseHits deferred;
    deferred.mayDeferIdf = true;
    st.Reset();
    st.Bind(1, std::string_view(match));
    sqlite3_bind_pointer(st.get(), 2, &deferred, kPhraseHitsPointer, nullptr);
    std::vector<std::pair<std::vector<double>, std::int64_t>> seen;
    std::vector<double> expected;
    while (st.Step() == SQLITE_ROW) {
      const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(st.get(), 0));
      seen.emplace_back(deferred.freq,
                        DocsizeTokens(std::span(
                            blob, static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 0)))));
      expected.push_back(st.Real(2));
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(deferred.idfDeferred, std::string_view(match).find(" O") == std::string::npos &&
                                        std::string_view(match).find(" N") == std::string::npos);
    FinishDeferredIdf(deferred, static_cast<std::int64_t>(seen.size()));
    EXPECT_FALSE(deferred.idfDeferred);
    for (std::size_t i = 0; i < seen.size(); ++i) {
      deferred.freq = seen[i].first;
      EXPECT_EQ(-Bm25Score(deferred, seen[i].second), expected[i]);
    }
  }
}

TEST_F(StemmingTest, ACatalogMadeBeforeStemmingOpensAndSearchesAsBefore) {
  // The table as catalogs had it before: unicode61 alone.
  MakeCatalog({"the annual report"}, {});
  EXPECT_EQ(TableSql().find("qv_stem"), std::string::npos);
  // Opened by an indexer that stems: the table keeps its tokenizer, new text goes in the same
  // way, and words match as they always did.
  AddDocuments({"quarterly reports"});
  EXPECT_EQ(TableSql().find("qv_stem"), std::string::npos);
  EXPECT_EQ(Find("report"), (Docs{"d0"}));
  EXPECT_EQ(Find("reports"), (Docs{"d1"}));
  EXPECT_EQ(Find("\"annual report\""), (Docs{"d0"}));

  // A catalog made anew stems.
  fs::remove_all(root_ / "cat" / kIndexFolder);
  AddDocuments({"quarterly reports"});
  EXPECT_NE(TableSql().find("qv_stem"), std::string::npos);
  EXPECT_EQ(Find("report"), (Docs{"d2"}));
}

TEST(StemmingLanguages, RegistryListKeepsWhatSnowballKnows) {
  EXPECT_EQ(ParseStemmingLanguages("English, german;french  klingon,english"),
            (std::vector<std::string>{"english", "german", "french"}));
  EXPECT_TRUE(ParseStemmingLanguages("").empty());
  EXPECT_TRUE(ParseStemmingLanguages("none").empty());
  EXPECT_EQ(FtsTokenizeOption({}), "unicode61 remove_diacritics 2");
  const std::vector<std::string> two{"english", "german"};
  EXPECT_EQ(FtsTokenizeOption(two), "qv_stem 'english,german' unicode61 remove_diacritics 2");
  // Nothing but plain names reaches the table's definition.
  const std::vector<std::string> hostile{"english'); DROP TABLE docs; --"};
  EXPECT_EQ(FtsTokenizeOption(hostile), "unicode61 remove_diacritics 2");

  const auto root = fs::temp_directory_path() / ("qv-stemreg-" + std::to_string(getpid()));
  fs::remove_all(root);
  {
    Installation install(root);
    auto& reg = install.context().registry;
    EXPECT_EQ(StemmingLanguages(reg), std::vector<std::string>{"english"});
    reg.SetValue(Hive::LocalMachine, kEngineKey, kStemmingLanguagesValue, RegValue::Sz(""));
    EXPECT_TRUE(StemmingLanguages(reg).empty());
    reg.SetValue(Hive::LocalMachine, kEngineKey, kStemmingLanguagesValue,
                 RegValue::MultiSz({"German", "dutch"}));
    EXPECT_EQ(StemmingLanguages(reg), (std::vector<std::string>{"german", "dutch"}));
    reg.SetValue(Hive::LocalMachine, kEngineKey, kStemmingLanguagesValue, RegValue::Dword(1));
    EXPECT_EQ(StemmingLanguages(reg), std::vector<std::string>{"english"});
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace qv::platform::indexing
