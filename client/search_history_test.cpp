#include "client/search_history.h"

#include <gtest/gtest.h>

#include <string>

#include "context/test_context.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegValue;

class SearchHistoryTest : public ::testing::Test {
 protected:
  std::size_t Count(std::string_view key) {
    RegValues values;
    test_.registry().EnumValues(Hive::CurrentUser, key, values);
    return values.size();
  }
  void Tick() { test_.clock().Advance(std::chrono::seconds(1)); }

  TestContext test_;
  SearchHistory history_{test_.registry(), test_.clock()};
};

TEST_F(SearchHistoryTest, SearchingTheSameTextAgainKeepsOneEntryWithTheLaterTime) {
  ASSERT_EQ(history_.Remember("budget", false), S_OK);
  const FileTime first = test_.clock().Now();
  Tick();
  ASSERT_EQ(history_.Remember("report", false), S_OK);
  Tick();
  ASSERT_EQ(history_.Remember("budget", false), S_OK);
  const auto entries = history_.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].query, "budget");
  EXPECT_GT(entries[0].lastUse, first);
  EXPECT_EQ(entries[1].query, "report");
}

TEST_F(SearchHistoryTest, EmptyTextsAndSearchKeyListsAreNotStored) {
  EXPECT_EQ(history_.Remember("", false), S_FALSE);
  EXPECT_EQ(history_.Remember("0\n\"a\"\n{00000000-0000-0000-0000-000000000000}\n", true), S_FALSE);
  EXPECT_EQ(history_.Remember("\xff\xfe", false), E_INVALIDARG);
  EXPECT_TRUE(history_.Entries().empty());
  EXPECT_FALSE(test_.registry().KeyExists(Hive::CurrentUser, kHistoryKey));
}

TEST_F(SearchHistoryTest, The65thQueryEvictsTheOldestAndTheCountStaysAt64) {
  for (int i = 0; i < 65; ++i) {
    ASSERT_EQ(history_.Remember("query " + std::to_string(i), false), S_OK);
    Tick();
  }
  const auto entries = history_.Entries();
  ASSERT_EQ(entries.size(), kMaxHistoryEntries);
  EXPECT_EQ(entries.front().query, "query 64");
  EXPECT_EQ(entries.back().query, "query 1");
  EXPECT_EQ(Count(kHistoryKey), kMaxHistoryEntries);
  EXPECT_EQ(Count(kHistorySequenceKey), kMaxHistoryEntries);
}

TEST_F(SearchHistoryTest, AHistoryFarOverItsLimitIsBroughtBackToItInOneAddition) {
  // Another program (or an older version) left 80 entries behind.
  auto& reg = test_.registry();
  for (int i = 0; i < 80; ++i) {
    const std::string text = "old " + std::to_string(i);
    const std::string name = HistoryValueName(text);
    ASSERT_EQ(reg.SetValue(Hive::CurrentUser, kHistoryKey, name, RegValue::Sz(text)), 0);
    std::vector<std::uint8_t> t(8, 0);
    t[0] = static_cast<std::uint8_t>(i + 1);
    ASSERT_EQ(reg.SetValue(Hive::CurrentUser, kHistorySequenceKey, name, RegValue::Binary(t)), 0);
  }
  ASSERT_EQ(history_.Remember("new", false), S_OK);
  const auto entries = history_.Entries();
  ASSERT_EQ(entries.size(), kMaxHistoryEntries);
  EXPECT_EQ(entries.front().query, "new");
  EXPECT_EQ(entries.back().query, "old 17");  // the 17 oldest are gone
  EXPECT_EQ(Count(kHistoryKey), kMaxHistoryEntries);
}

TEST_F(SearchHistoryTest, UnreadableTimeValuesAreDroppedNotAllowedToStopTheTrimming) {
  auto& reg = test_.registry();
  // Unusable: the wrong size, the wrong type, a name that is no number, no text beside it.
  reg.SetValue(Hive::CurrentUser, kHistoryKey, "0x1", RegValue::Sz("short time"));
  reg.SetValue(Hive::CurrentUser, kHistorySequenceKey, "0x1", RegValue::Binary({1, 2, 3}));
  reg.SetValue(Hive::CurrentUser, kHistoryKey, "0x2", RegValue::Sz("dword time"));
  reg.SetValue(Hive::CurrentUser, kHistorySequenceKey, "0x2", RegValue::Dword(7));
  reg.SetValue(Hive::CurrentUser, kHistorySequenceKey, "not a number",
               RegValue::Binary(std::vector<std::uint8_t>(8, 1)));
  reg.SetValue(Hive::CurrentUser, kHistorySequenceKey, "0x3",
               RegValue::Binary(std::vector<std::uint8_t>(8, 1)));
  for (int i = 0; i < 65; ++i) {
    ASSERT_EQ(history_.Remember("query " + std::to_string(i), false), S_OK);
    Tick();
  }
  EXPECT_EQ(Count(kHistorySequenceKey), kMaxHistoryEntries);
  EXPECT_EQ(Count(kHistoryKey), kMaxHistoryEntries);
  EXPECT_EQ(history_.Entries().back().query, "query 1");
}

TEST_F(SearchHistoryTest, ALongQueryIsStoredWholeUnderTheNameOfItsFirst2084Characters) {
  const std::string head(kHistoryHashChars, 'a');
  const std::string longer = head + "bcd";
  EXPECT_EQ(HistoryValueName(longer), HistoryValueName(head + "xyz"));
  EXPECT_NE(HistoryValueName(head.substr(1) + "b"), HistoryValueName(head));
  ASSERT_EQ(history_.Remember(longer, false), S_OK);
  ASSERT_EQ(history_.Entries().size(), 1u);
  EXPECT_EQ(history_.Entries()[0].query, longer);
  // Characters, not bytes: a text of two-byte characters is cut at the same count.
  std::string u;
  for (std::size_t i = 0; i < kHistoryHashChars; ++i) u += "\xc3\xa4";
  EXPECT_EQ(HistoryValueName(u + "1"), HistoryValueName(u + "2"));
}

TEST(HistoryNames, NamesAreLowerCaseHexAndReadBackWithOrWithoutThePrefix) {
  const std::string name = HistoryValueName("budget");
  EXPECT_EQ(name.substr(0, 2), "0x");
  EXPECT_EQ(name.find_first_of("ABCDEF"), std::string::npos);
  EXPECT_EQ(ParseHistoryName(name), HistoryHash("budget"));
  EXPECT_EQ(ParseHistoryName("0XFF"), 0xFFu);
  EXPECT_EQ(ParseHistoryName("ff"), 0xFFu);
  EXPECT_FALSE(ParseHistoryName("0x"));
  EXPECT_FALSE(ParseHistoryName("0x123456789"));
  EXPECT_FALSE(ParseHistoryName("0xfg"));
}

TEST_F(SearchHistoryTest, ClearingRemovesBothKeys) {
  ASSERT_EQ(history_.Remember("budget", false), S_OK);
  EXPECT_EQ(history_.Clear(), S_OK);
  EXPECT_FALSE(test_.registry().KeyExists(Hive::CurrentUser, kHistoryKey));
  EXPECT_EQ(history_.Clear(), S_OK);
  EXPECT_TRUE(history_.Entries().empty());
}

}  // namespace
}  // namespace qv::client
