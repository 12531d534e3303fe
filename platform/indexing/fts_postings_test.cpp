#include "platform/indexing/fts_postings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>

#include "platform/indexing/fts_rank.h"
#include "platform/indexing/stem_tokenizer.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;

class FtsPostingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = fs::temp_directory_path() /
            ("qv-postings-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db");
    Remove();
  }
  void TearDown() override {
    db_.reset();
    Remove();
  }
  void Remove() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(file_.string() + suffix);
  }

  // A full-text table as a catalog makes it, English stemming, or with `options` instead.
  void Make(const std::string& options = "") {
    db_ = std::make_unique<Database>();
    ASSERT_EQ(db_->Open(file_, true), S_OK);
    ASSERT_EQ(RegisterStemTokenizer(db_->handle()), S_OK);
    ASSERT_EQ(RegisterPhraseHits(db_->handle()), S_OK);
    const std::vector<std::string> english{"english"};
    const std::string tail =
        options.empty() ? "tokenize = \"" + FtsTokenizeOption(english) + "\"" : options;
    ASSERT_EQ(db_->Exec("CREATE VIRTUAL TABLE fts USING fts5(contents, props, " + tail + ")"),
              S_OK);
  }

  // What FTS5's cursor lists for the word, with qv_phrase_hits' counts and totals.
  struct Truth {
    std::vector<WordPosting> rows;
    PhraseHits hits;
  };
  Truth Fts(const std::string& match) {
    Truth t;
    Statement st;
    EXPECT_EQ(db_->Prepare("SELECT rowid, qv_phrase_hits(fts, ?2) FROM fts WHERE fts MATCH ?1 "
                          "ORDER BY rowid",
                          st),
              S_OK);
    st.Bind(1, std::string_view(match));
    sqlite3_bind_pointer(st.get(), 2, &t.hits, kPhraseHitsPointer, nullptr);
    while (st.Step() == SQLITE_ROW) {
      t.rows.push_back({st.Int(0), static_cast<std::uint32_t>(t.hits.freq.at(0)), 0});
    }
    return t;
  }

  void ExpectSameAsFts(FtsWordReader& reader, const std::string& word, const std::string& at) {
    const std::string match = "\"" + word + "\"";
    std::span<const WordPosting> got;
    std::int64_t rows = 0, tokens = 0;
    const HRESULT rhr = reader.Read(match, got, rows, tokens);
    ASSERT_EQ(rhr, S_OK) << word << " " << at;
    // No transaction is left open to hold an old snapshot.
    EXPECT_NE(sqlite3_get_autocommit(db_->handle()), 0);
    const Truth truth = Fts(match);
    ASSERT_EQ(got.size(), truth.rows.size()) << word << " " << at;
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].rowid, truth.rows[i].rowid) << word << " " << at << " #" << i;
      ASSERT_EQ(got[i].hits, truth.rows[i].hits) << word << " row " << got[i].rowid << " " << at;
    }
    if (!truth.rows.empty()) {
      const PhraseHits mine = OnePhraseHits(rows, tokens, static_cast<std::int64_t>(got.size()));
      EXPECT_EQ(mine.tableRows, truth.hits.tableRows) << at;
      EXPECT_EQ(mine.avgTokens, truth.hits.avgTokens) << at;
      EXPECT_EQ(mine.idf.at(0), truth.hits.idf.at(0)) << word << " " << at;
    }
  }

  fs::path file_;
  std::unique_ptr<Database> db_;
};

// Random tables written as a catalog's life writes them: batches, rows replaced and deleted,
// small pages so that doclists and position lists run over many leaves, merges left half done
// and finished. The reader must list what FTS5 lists, row for row, hit for hit.
TEST_F(FtsPostingsTest, ListsWhatFtsListsOverSegmentsDeletesAndSpilledLeaves) {
  const std::vector<std::string> vocabulary{
      "budget", "budgets", "meeting", "meet", "meets", "report", "reporting", "reports",
      "deadline", "zebra", "Café", "cafe", "a", "x1", "invoice", "invoiced", "Häuser",
      "Hauses", "laufen", "läuft"};
  // English stemming as new catalogs have it, two languages, and a catalog made before
  // stemming (unicode61 alone).
  const std::vector<std::string> two{"english", "german"};
  const std::string tokenizers[] = {"", "tokenize = \"" + FtsTokenizeOption(two) + "\"",
                                    "tokenize = \"" + FtsTokenizeOption({}) + "\""};
  for (unsigned seed = 1; seed <= 15; ++seed) {
    SCOPED_TRACE(seed);
    const std::string& tokenizer = tokenizers[seed % 3];
    std::mt19937 rng(seed);
    db_.reset();
    Remove();
    Make(tokenizer);
    const int pgsz = std::array{64, 100, 256, 4050}[seed % 4];
    ASSERT_EQ(db_->Exec("INSERT INTO fts(fts, rank) VALUES('pgsz', " + std::to_string(pgsz) + ")"),
              S_OK);
    ASSERT_EQ(db_->Exec("INSERT INTO fts(fts, rank) VALUES('automerge', " +
                       std::to_string(seed % 3 == 0 ? 0 : 2 + seed % 5) + ")"),
              S_OK);
    FtsWordReader reader(db_->handle());
    std::int64_t nextRow = 1;
    std::vector<std::int64_t> live;
    auto text = [&](int words) {
      std::string t;
      for (int i = 0; i < words; ++i) {
        t += vocabulary[rng() % vocabulary.size()];
        t += ' ';
      }
      return t;
    };
    for (int batch = 0; batch < 14; ++batch) {
      ASSERT_EQ(db_->Exec("BEGIN"), S_OK);
      const int docs = 1 + static_cast<int>(rng() % 40);
      for (int d = 0; d < docs; ++d) {
        Statement ins;
        ASSERT_EQ(db_->Prepare("INSERT INTO fts(rowid, contents, props) VALUES(?, ?, ?)", ins),
                  S_OK);
        // Row ids with gaps, some far apart; a few rows long enough to fill many pages.
        nextRow += 1 + (rng() % 7 == 0 ? static_cast<std::int64_t>(rng() % 100000) : 0);
        const int words = rng() % 11 == 0 ? 300 + static_cast<int>(rng() % 400)
                                          : 1 + static_cast<int>(rng() % 12);
        ins.Bind(1, nextRow);
        ins.Bind(2, std::string_view(text(words)));
        ins.Bind(3, std::string_view(text(static_cast<int>(rng() % 3))));
        ASSERT_EQ(ins.Step(), SQLITE_DONE);
        live.push_back(nextRow);
      }
      for (int k = 0; k < 4 && !live.empty(); ++k) {
        const std::size_t pick = rng() % live.size();
        const std::string id = std::to_string(live[pick]);
        if (rng() % 2) {
          ASSERT_EQ(db_->Exec("DELETE FROM fts WHERE rowid=" + id), S_OK);
          live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
        } else {
          ASSERT_EQ(db_->Exec("UPDATE fts SET contents='" + text(5) + "' WHERE rowid=" + id),
                    S_OK);
        }
      }
      ASSERT_EQ(db_->Exec("COMMIT"), S_OK);
      if (rng() % 4 == 0) {
        ASSERT_EQ(db_->Exec("INSERT INTO fts(fts, rank) VALUES('merge', " +
                           std::to_string(1 + rng() % 30) + ")"),
                  S_OK);
      }
      if (batch % 5 == 4) {
        for (const auto& w : vocabulary) ExpectSameAsFts(reader, w, "batch " + std::to_string(batch));
      }
    }
    ASSERT_EQ(db_->Exec("INSERT INTO fts(fts) VALUES('optimize')"), S_OK);
    for (const auto& w : vocabulary) ExpectSameAsFts(reader, w, "optimized");
    ExpectSameAsFts(reader, "absent", "optimized");
  }
}

// A catalog made but not yet filled (the web history before the first visit) has a table
// that was never written to: no rows, not a damaged index.
TEST_F(FtsPostingsTest, ANeverWrittenTableHasNoRows) {
  Make();
  std::span<const WordPosting> out;
  std::int64_t rows = -1, tokens = -1;
  FtsWordReader reader(db_->handle());
  EXPECT_EQ(reader.Read("\"report\"", out, rows, tokens), S_OK);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(tokens, 0);
}

TEST_F(FtsPostingsTest, LeavesToFtsWhatItDoesNotRead) {
  Make();
  ASSERT_EQ(db_->Exec("INSERT INTO fts(rowid, contents, props) VALUES(1, 'annual report', '')"),
            S_OK);
  std::span<const WordPosting> out;
  std::int64_t rows = 0, tokens = 0;
  {
    FtsWordReader reader(db_->handle());
    for (const char* match : {"\"annual report\"", "\"rep\"*", "contents : (\"report\")",
                              "\"annual\" AND \"report\"", "report", "\"\"", "\"a\"\"b\""}) {
      EXPECT_EQ(reader.Read(match, out, rows, tokens), S_FALSE) << match;
    }
    EXPECT_EQ(reader.Read("\"report\"", out, rows, tokens), S_OK);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(tokens, 2);
  }

  // A table kept in another way is FTS5's alone.
  db_.reset();
  Remove();
  Make("detail=column");
  FtsWordReader other(db_->handle());
  EXPECT_EQ(other.Read("\"report\"", out, rows, tokens), S_FALSE);
}

TEST_F(FtsPostingsTest, DamagedLeavesAreReportedNotRead) {
  Make();
  ASSERT_EQ(db_->Exec("INSERT INTO fts(fts, rank) VALUES('pgsz', 64)"), S_OK);
  ASSERT_EQ(db_->Exec("BEGIN"), S_OK);
  for (int i = 1; i <= 200; ++i) {
    ASSERT_EQ(db_->Exec("INSERT INTO fts(rowid, contents, props) VALUES(" + std::to_string(i) +
                       ", 'budget zebra budget', '')"),
              S_OK);
  }
  ASSERT_EQ(db_->Exec("COMMIT"), S_OK);
  FtsWordReader reader(db_->handle());
  std::span<const WordPosting> out;
  std::int64_t rows = 0, tokens = 0;
  ASSERT_EQ(reader.Read("\"budget\"", out, rows, tokens), S_OK);
  ASSERT_EQ(out.size(), 200u);
  // Each leaf in turn cut short, then given a footer that points past its end.
  Statement leaves;
  ASSERT_EQ(db_->Prepare("SELECT id FROM fts_data WHERE id > 10 ORDER BY id", leaves), S_OK);
  std::vector<std::int64_t> ids;
  while (leaves.Step() == SQLITE_ROW) ids.push_back(leaves.Int(0));
  ASSERT_GT(ids.size(), 4u);
  int failed = 0;
  for (const std::int64_t id : ids) {
    for (const char* damage : {"substr(block, 1, 3)", "substr(block, 1, length(block) - 9)",
                               "X'00ff0010' || substr(block, 5)"}) {
      ASSERT_EQ(db_->Exec("SAVEPOINT d"), S_OK);
      ASSERT_EQ(db_->Exec(std::string("UPDATE fts_data SET block = ") + damage +
                         " WHERE id = " + std::to_string(id)),
                S_OK);
      const HRESULT hr = reader.Read("\"budget\"", out, rows, tokens);
      // Damage a reader may not notice must not change what it lists beyond that leaf.
      if (Failed(hr)) ++failed;
      EXPECT_TRUE(Failed(hr) || hr == S_OK) << id << " " << damage;
      ASSERT_EQ(db_->Exec("ROLLBACK TO d"), S_OK);
      ASSERT_EQ(db_->Exec("RELEASE d"), S_OK);
    }
  }
  EXPECT_GT(failed, static_cast<int>(ids.size()));
  ASSERT_EQ(reader.Read("\"budget\"", out, rows, tokens), S_OK);
  EXPECT_EQ(out.size(), 200u);
}

// A leaf of one term, "0budget", whose doclist is row 5 with the given position list.
class OneLeaf : public LeafPages {
 public:
  explicit OneLeaf(const std::vector<std::uint8_t>& positions) {
    std::vector<std::uint8_t> body{7, '0', 'b', 'u', 'd', 'g', 'e', 't', 5,
                                   static_cast<std::uint8_t>(2 * positions.size())};
    body.insert(body.end(), positions.begin(), positions.end());
    const auto footer = static_cast<std::uint16_t>(4 + body.size());
    leaf_ = {0, 0, static_cast<std::uint8_t>(footer >> 8), static_cast<std::uint8_t>(footer)};
    leaf_.insert(leaf_.end(), body.begin(), body.end());
    leaf_.push_back(4);  // the term starts right after the header
  }
  int Read(std::int64_t page, std::vector<std::uint8_t>& bytes) override {
    if (page != 1) return SQLITE_CORRUPT;
    bytes = leaf_;
    return SQLITE_OK;
  }

 private:
  std::vector<std::uint8_t> leaf_;
};

// Counting a row's hits and reading its positions agree on every list, damaged ones too: a
// word is counted or read depending on which of its forms the index holds.
TEST(FtsDoclist, CountingAndReadingPositionsAgree) {
  const std::uint8_t term[] = {'0', 'b', 'u', 'd', 'g', 'e', 't'};
  struct Case {
    const char* what;
    std::vector<std::uint8_t> positions;
    DoclistResult result;
    std::uint32_t hits;
  };
  const std::vector<Case> cases{
      {"plain", {2, 3, 0x81, 0x05}, DoclistResult::Found, 3},
      {"a second column", {2, 1, 1, 2, 4}, DoclistResult::Found, 3},
      {"a column mark written long", {0x80, 1, 1, 2}, DoclistResult::Found, 1},
      {"a zero written long", {2, 0x80, 0}, DoclistResult::Damaged, 0},
      {"a lone zero", {2, 0}, DoclistResult::Damaged, 0},
      {"a column past 2^32", {2, 1, 0x90, 0x80, 0x80, 0x80, 0, 2}, DoclistResult::Damaged, 0},
      {"cut inside a varint", {2, 0x81}, DoclistResult::Damaged, 0},
  };
  for (const Case& c : cases) {
    for (const bool positions : {false, true}) {
      OneLeaf leaf(c.positions);
      SegmentDoclist out;
      ASSERT_EQ(ReadDoclist(leaf, 1, 1, term, positions, out), c.result)
          << c.what << (positions ? ", positions read" : ", counted");
      if (c.result != DoclistResult::Found) continue;
      ASSERT_EQ(out.entries.size(), 1u) << c.what;
      EXPECT_EQ(out.entries[0].rowid, 5) << c.what;
      EXPECT_EQ(out.entries[0].hits, c.hits) << c.what << (positions ? ", positions read" : "");
    }
  }
}

TEST(FtsStructure, ReadsThePlainFormAndRefusesOthers) {
  // cookie, 2 levels, 3 segments, write counter 9; level 0: 0 merging, 2 segments; level 1:
  // 0 merging, 1 segment.
  const std::vector<std::uint8_t> plain{0, 0, 0, 1, 2, 3, 9, 0, 2, 1, 1, 5, 2, 1, 3, 0, 1, 3, 1, 8};
  std::vector<FtsSegment> segs;
  ASSERT_TRUE(ParseStructure(plain, segs));
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(segs[0].id, 2);  // newest first: the later segment of the lowest level
  EXPECT_EQ(segs[1].id, 1);
  EXPECT_EQ(segs[2].id, 3);
  EXPECT_EQ(segs[2].lastPage, 8);
  // A merge's output before its first leaf is an empty segment.
  const std::vector<std::uint8_t> empty{0, 0, 0, 1, 1, 2, 9, 1, 2, 4, 1, 6, 5, 0, 0};
  ASSERT_TRUE(ParseStructure(empty, segs));
  ASSERT_EQ(segs.size(), 1u);
  EXPECT_EQ(segs[0].id, 4);
  std::vector<std::uint8_t> v2{0, 0, 0, 1, 0xFF, 0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 1};
  EXPECT_FALSE(ParseStructure(v2, segs));
  for (std::size_t cut = 0; cut < plain.size(); ++cut) {
    EXPECT_FALSE(ParseStructure(std::span(plain).first(cut), segs)) << cut;
  }
  std::vector<std::uint8_t> counts = plain;
  counts[5] = 4;  // more segments announced than listed
  EXPECT_FALSE(ParseStructure(counts, segs));
}

TEST(FtsStructure, TokenizeArgumentsAsTheCatalogWritesThem) {
  std::vector<std::string> args;
  ASSERT_TRUE(TokenizeArguments(
      "CREATE VIRTUAL TABLE fts USING fts5(contents, props, tokenize = \"qv_stem "
      "'english,german' unicode61 remove_diacritics 2\")",
      args));
  EXPECT_EQ(args, (std::vector<std::string>{"qv_stem", "english,german", "unicode61",
                                            "remove_diacritics", "2"}));
  ASSERT_TRUE(TokenizeArguments("x(tokenize = \"a 'it''s'\")", args));
  EXPECT_EQ(args, (std::vector<std::string>{"a", "it's"}));
  EXPECT_FALSE(TokenizeArguments("x(tokenize = \"a 'open\")", args));
  EXPECT_FALSE(TokenizeArguments("x(contents, props)", args));
}

}  // namespace
}  // namespace qv::platform::indexing
