// Dates, the advanced search dialog's fields, and the command line.
#include <gtest/gtest.h>

#include "client/advanced_search.h"
#include "client/command_line.h"
#include "client/messages.h"
#include "client/query_date.h"
#include "client/search_key_list.h"

namespace qv::client {
namespace {

TEST(QueryDates, LocaleOrderYearsAndBounds) {
  EXPECT_EQ(ReadCivilDate("1/2/2004", DateOrder::MonthDayYear, 2025),
            (CivilDateTime{2004, 1, 2}));
  EXPECT_EQ(ReadCivilDate("1/2/2004", DateOrder::DayMonthYear, 2025),
            (CivilDateTime{2004, 2, 1}));
  EXPECT_EQ(ReadCivilDate("2004-02-01", DateOrder::DayMonthYear, 2025),
            (CivilDateTime{2004, 2, 1}));  // four digits first: always the year
  EXPECT_EQ(ReadCivilDate("1.2.29", DateOrder::DayMonthYear, 2025), (CivilDateTime{2029, 2, 1}));
  EXPECT_EQ(ReadCivilDate("1.2.30", DateOrder::DayMonthYear, 2025), (CivilDateTime{1930, 2, 1}));
  EXPECT_EQ(ReadCivilDate("3/4", DateOrder::MonthDayYear, 2025), (CivilDateTime{2025, 3, 4}));
  EXPECT_EQ(ReadCivilDate("2/29/2004 10:30 PM", DateOrder::MonthDayYear, 2025),
            (CivilDateTime{2004, 2, 29}));  // the time of day is dropped
  for (const char* bad : {"", "2/30/2004", "13/1/2004", "1/2/2004x", "1-2/2004", "1/2/", "/1/2",
                          "1/2/3/4", "12345/1/1", "1/2/2004 noon", "abc"}) {
    EXPECT_FALSE(ReadCivilDate(bad, DateOrder::MonthDayYear, 2025)) << bad;
  }

  DateOrder order;
  char sep;
  ASSERT_TRUE(DateOrderFromPattern("%d.%m.%Y", order, sep));
  EXPECT_EQ(order, DateOrder::DayMonthYear);
  EXPECT_EQ(sep, '.');
  ASSERT_TRUE(DateOrderFromPattern("%Y-%m-%d", order, sep));
  EXPECT_EQ(order, DateOrder::YearMonthDay);
  ASSERT_TRUE(DateOrderFromPattern("%m/%d/%y", order, sep));
  EXPECT_EQ(order, DateOrder::MonthDayYear);

  // Start of the local day and its last second, in UTC (here five hours behind UTC).
  FixedDateLocale ny(DateOrder::MonthDayYear, '/', -300);
  const DATE now = 46000.5;
  EXPECT_EQ(FormatConditionDate(*ReadQueryDate("1/2/2004", false, ny, now)),
            "'2004/01/02 05:00:00'");
  EXPECT_EQ(FormatConditionDate(*ReadQueryDate("1/2/2004 10:30", true, ny, now)),
            "'2004/01/03 04:59:59'");
  EXPECT_FALSE(ReadQueryDate("", false, ny, now));
  EXPECT_EQ(ny.FormatShortDate(2004, 1, 2), "1/2/2004");
  EXPECT_EQ(FixedDateLocale(DateOrder::YearMonthDay, '-', 0).FormatShortDate(2004, 1, 2),
            "2004-01-02");
}

TEST(AdvancedSearch, ComposeAndDecompose) {
  FixedDateLocale dates(DateOrder::DayMonthYear, '.', 0);
  auto isDir = [](const std::string& p) { return p == "/home/me/My Docs"; };
  AdvancedSearchFields f;
  f.allWords = "  budget  2004\t";
  f.exactPhrase = "annual plan";
  f.anyWords = "draft final \"last one\"";
  f.noneWords = "old sdate:1.1.2000 copy";
  f.useStart = true;
  f.start = {2004, 1, 2};
  f.useEnd = true;
  f.end = {2004, 3, 4};
  f.folder = "/home/me/My Docs";
  f.includeSubfolders = true;
  std::string text;
  ASSERT_FALSE(ComposeAdvancedSearch(f, true, dates, isDir, text));
  EXPECT_EQ(text,
            "budget 2004 \"annual plan\" draft |final |\"last one\" -old -copy "
            "startdate:\"2.1.2004\" enddate:\"4.3.2004\" sdir:\"/home/me/My Docs\"");

  // Splitting the text fills the same fields back (keywords typed into a field are gone).
  AdvancedSearchFields back = DecomposeAdvancedSearch(text, true, dates, 46000.5);
  // The first any-word gets its Or from the bar of the second.
  EXPECT_EQ(back.allWords, "budget 2004");
  EXPECT_EQ(back.exactPhrase, "\"annual plan\"");
  EXPECT_EQ(back.anyWords, "draft final \"last one\"");
  EXPECT_EQ(back.noneWords, "old copy");
  EXPECT_TRUE(back.useStart && back.useEnd && back.includeSubfolders);
  EXPECT_EQ(back.start, (CivilDateTime{2004, 1, 2}));
  EXPECT_EQ(back.folder, "/home/me/My Docs");
  // A pane without folders ignores them both ways.
  EXPECT_TRUE(DecomposeAdvancedSearch(text, false, dates, 46000.5).folder.empty());
  ASSERT_FALSE(ComposeAdvancedSearch(f, false, dates, nullptr, text));
  EXPECT_EQ(text.find("sdir:"), std::string::npos);

  // What keeps the dialog open.
  AdvancedSearchFields bad = f;
  bad.exactPhrase = "\"a b\" c";
  EXPECT_EQ(ComposeAdvancedSearch(bad, true, dates, isDir, text),
            (AdvancedSearchProblem{kMsgPhraseExpected, AdvancedField::ExactPhrase}));
  bad = f;
  bad.start = {2004, 3, 5};
  EXPECT_EQ(ComposeAdvancedSearch(bad, true, dates, isDir, text),
            (AdvancedSearchProblem{kMsgStartAfterEnd, AdvancedField::EndDate}));
  bad.start = {2004, 3, 4};  // the same day is fine
  EXPECT_FALSE(ComposeAdvancedSearch(bad, true, dates, isDir, text));
  bad.folder = "/nowhere";
  EXPECT_EQ(ComposeAdvancedSearch(bad, true, dates, isDir, text),
            (AdvancedSearchProblem{kMsgNoSuchFolder, AdvancedField::Folder}));
  // A lone quote is a phrase field that never closes.
  AdvancedSearchFields quote;
  quote.exactPhrase = "\"";
  EXPECT_EQ(ComposeAdvancedSearch(quote, false, dates, isDir, text),
            (AdvancedSearchProblem{kMsgPhraseExpected, AdvancedField::ExactPhrase}));
}

TEST(SearchKeyList, StrictReading) {
  std::vector<SearchKeyItem> items;
  std::string error;
  ASSERT_EQ(ReadSearchKeyList("5\n\"t\"\n{0A0B0C0D-0000-0000-0000-000000000001}\n0\n\"f\"\n"
                              "{00000000-0000-0000-0000-000000000000}\n",
                              items, &error),
            S_OK);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].type, ItemType::Task);
  EXPECT_TRUE(items[0].hasKey);
  EXPECT_FALSE(items[1].hasKey);  // the all-zero key means none
  for (const char* bad : {"6\n\"x\"\n{}\n", "0\n\"x\"\n{00000000-0000-0000-0000-000000000000}",
                          "01\n\"x\"\n{}\n", "\n\"x\"\n{}\n"}) {
    EXPECT_EQ(ReadSearchKeyList(bad, items, &error), DB_E_ERRORSINCOMMAND) << bad;
    EXPECT_TRUE(items.empty());
    EXPECT_FALSE(error.empty());
  }
  // Lines that only look like keys are read, but carry none.
  for (const char* key : {"x}", "{1}", "{0A0B0C0D-0000-0000-0000-000000000001}}",
                          " {0A0B0C0D-0000-0000-0000-000000000001}"}) {
    ASSERT_EQ(ReadSearchKeyList("0\n\"x\"\n" + std::string(key) + "\n", items), S_OK);
    EXPECT_FALSE(items[0].hasKey) << key;
  }
}

TEST(CommandLine, SeekParametersAndPrintOptions) {
  SeekParameters p = ParseSeekParameters("&q=a%20b&ct=Files");
  EXPECT_TRUE(p.usable);
  EXPECT_EQ(p.query, "a b");
  EXPECT_TRUE(p.searchFiles);
  EXPECT_FALSE(p.searchWebHistory || p.searchEmail || p.journal || p.searchKeyMode);
  p = ParseSeekParameters("&CT=journal&q=x");
  EXPECT_TRUE(p.usable && p.journal);
  EXPECT_FALSE(ParseSeekParameters("&q=a&exn=1").usable);  // without &ct= it is ignored
  p = ParseSeekParameters("&ct=WebHistory,Email&exn=1&sys=01&dd=1&q=%zz%4");
  EXPECT_TRUE(p.searchWebHistory && p.searchEmail && p.visitedOnly && p.includeSystemFolders &&
              p.searchKeyMode);
  EXPECT_EQ(p.query, "%zz%4");

  PrintOptions o;
  std::string error;
  const std::string_view args[] = {"budget plan", "--catalogs", "files,web", "--sort", "visits",
                                   "--ascending", "--max", "3"};
  ASSERT_TRUE(ParsePrintOptions(args, o, error)) << error;
  EXPECT_EQ(o.query, "budget plan");
  EXPECT_TRUE(*o.files && *o.web && !*o.email);
  EXPECT_EQ(*o.sortOrder, 5u);
  EXPECT_TRUE(*o.ascending);
  EXPECT_EQ(o.maxRows, 3u);
  for (auto bad : std::vector<std::vector<std::string_view>>{
           {"--catalogs", "disk"}, {"--sort"}, {"a", "b"}, {"--max", "x"}, {"--frobnicate"}}) {
    PrintOptions x;
    EXPECT_FALSE(ParsePrintOptions(bad, x, error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace qv::client
