#include "platform/indexing/like_pattern.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <string>

namespace qv::platform::indexing {
namespace {

TEST(LikePattern, WildcardsCaseAndCharacters) {
  EXPECT_TRUE(LikeMatches("/home/%", "/HOME/ann/a.txt"));
  EXPECT_FALSE(LikeMatches("/home/%", "/homes/a"));
  EXPECT_TRUE(LikeMatches("_:\\system volume information\\%", "c:\\System Volume Information\\x"));
  EXPECT_FALSE(LikeMatches("_:\\system%", "/tmp/system"));
  EXPECT_TRUE(LikeMatches("%", ""));
  EXPECT_FALSE(LikeMatches("_", ""));
  // '_' is one character, however many bytes it takes; only ASCII letters fold.
  EXPECT_TRUE(LikeMatches("a_c", "a\xC3\xA9" "c"));
  EXPECT_FALSE(LikeMatches("a__c", "a\xC3\xA9" "c"));
  EXPECT_FALSE(LikeMatches("\xC3\xA9", "\xC3\x89"));
  // Backtracking over several '%'.
  EXPECT_TRUE(LikeMatches("%ab%ab%", "xxabyyaab"));
  EXPECT_FALSE(LikeMatches("%ab%abc", "xxabyyabab"));
  // Text ends at a NUL, as it does for SQLite.
  EXPECT_TRUE(LikeMatches("ab", std::string("ab\0cd", 5)));
  // Two different lone lead bytes are both U+FFFD to SQLite.
  EXPECT_TRUE(LikeMatches("\xEA", "\xF5"));
}

// The matcher stands in for SQLite's LIKE, so it must answer as SQLite does for any text:
// compare the two on random patterns and texts over an alphabet of letters in both cases,
// wildcards, multi-byte and broken UTF-8.
TEST(LikePattern, AgreesWithSqlite) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT ?2 LIKE ?1", -1, &st, nullptr), SQLITE_OK);
  // Broken forms too: lone lead bytes (SQLite reads each as U+FFFD, so two different ones
  // are the same character), a stray continuation byte, U+0080 and U+FFFD themselves.
  const std::string alphabet[] = {"a", "A", "b", "/", "%", "_", "\xC3\xA9", "\xC3\x89",
                                  "\x80", "\xE2\x82\xAC", "\xC3", "\xF5", "\xC2\x80",
                                  "\xEF\xBF\xBD", "z"};
  std::mt19937 rng(20261207);
  auto make = [&](int maxLen, bool wild) {
    std::string s;
    const int n = static_cast<int>(rng() % (maxLen + 1));
    for (int i = 0; i < n; ++i) {
      const std::string& t = alphabet[rng() % std::size(alphabet)];
      s += (!wild && (t == "%" || t == "_")) ? "a" : t;
    }
    return s;
  };
  int matches = 0;
  for (int i = 0; i < 40000; ++i) {
    std::string pattern = make(6, true);
    // Every other pattern is plain ASCII without '_': the matcher takes its pieces path.
    if (i % 2) {
      for (char& ch : pattern) {
        if (ch == '_' || static_cast<unsigned char>(ch) >= 0x80) ch = 'b';
      }
    }
    const std::string text = make(8, i % 2 == 0);
    sqlite3_reset(st);
    sqlite3_bind_text(st, 1, pattern.data(), static_cast<int>(pattern.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 2, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    const bool expected = sqlite3_column_int(st, 0) != 0;
    matches += expected;
    ASSERT_EQ(LikeMatches(pattern, text), expected)
        << "pattern '" << pattern << "' text '" << text << "'";
  }
  EXPECT_GT(matches, 500);  // the inputs exercise matches, not only mismatches
  sqlite3_finalize(st);
  sqlite3_close(db);
}

}  // namespace
}  // namespace qv::platform::indexing
