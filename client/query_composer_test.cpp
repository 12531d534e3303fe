#include "client/query_composer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "client/search_key_list.h"
#include "platform/indexing/query_parser.h"

namespace qv::client {
namespace {

const std::string kLad = "/home/o'neil/.qv/LocalAppData";
const std::string kExclusions =
    "path NOT LIKE '/usr/%' AND path NOT LIKE '/opt/%' AND path NOT LIKE "
    "'/home/%/cookies/%' AND path NOT LIKE '/home/%/recent/%' AND path NOT LIKE "
    "'%/System Volume Information/%' AND path NOT LIKE '%/.Trash-%' AND path NOT LIKE "
    "'%/.local/share/Trash/%' ";
const std::string kWebTable =
    "QuillonWebHistory..SCOPE(' DEEP TRAVERSAL OF \"/home/o''neil/.qv/LocalAppData/Quillon/"
    "WebHistory\" ') ";

class ComposerTest : public ::testing::Test {
 protected:
  ComposerTest() : dates_(DateOrder::MonthDayYear, '/', 60) {
    env_.userScope = 0xCAFE12;
    env_.localAppData = kLad;
    env_.windowsFolder = "/usr";
    env_.programFilesFolder = "/opt";
    env_.cookiesFolder = "/home/me/cookies";
    env_.recentFolder = "/home/me/recent";
    env_.dates = &dates_;
    env_.now = 46000.5;
  }

  std::string Catalog(std::string_view query, SearchParams p, bool freeText = false,
                      HRESULT expect = S_OK) {
    std::string sql;
    messages_.clear();
    EXPECT_EQ(ComposeCatalogQuery(query, false, &p, freeText, env_, sql, messages_), expect);
    if (!sql.empty()) CheckReads(sql);
    return sql;
  }
  // Whatever is composed, the catalog engine must read.
  static void CheckReads(const std::string& sql) {
    platform::indexing::ParsedQuery q;
    std::string error;
    EXPECT_EQ(platform::indexing::ParseQueryText(sql, q, error), S_OK) << error << "\n" << sql;
  }
  static std::string Tail(const std::string& sql) {
    EXPECT_EQ(sql.substr(0, kCatalogPreamble.size()), kCatalogPreamble);
    return sql.substr(kCatalogPreamble.size());
  }

  FixedDateLocale dates_;
  ComposeEnvironment env_;
  Messages messages_;
};

TEST_F(ComposerTest, OneWordOverFilesAndWebHistory) {
  SearchParams p;  // files and web history, activation order
  EXPECT_EQ(Tail(Catalog("budget", p)),
            "(TABLE System..Scope() UNION ALL TABLE " + kWebTable + ") " +
                " WHERE  CONTAINS (ALL,'\"budget\"')  AND " + kExclusions +
                " AND NOT  (path LIKE '/home/o''neil/.qv/LocalAppData/%'  AND kivScope IS NULL ) "
                " ORDER BY kivLvE DESC, rank DESC, write DESC ");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ComposerTest, EmptyQueriesInEachSortOrder) {
  SearchParams p;
  p.searchWebHistory = false;
  p.sortOrder = kSortDate;
  EXPECT_EQ(Tail(Catalog("", p)), "System..Scope()  WHERE write > '1970/01/01 00:00:00' AND " +
                                      kExclusions + " ORDER BY write DESC ");
  p.sortAscending = 1;
  EXPECT_NE(Catalog("", p).find(" ORDER BY write ASC "), std::string::npos);
  // Every other order lists only what this user visited.
  p.sortOrder = kSortActivation;
  EXPECT_EQ(Tail(Catalog("", p)), "System..Scope()  WHERE kivScope=0xcafe12  AND " + kExclusions +
                                      " ORDER BY kivLvE DESC, rank DESC, write DESC ");
  p.sortOrder = kSortWorkingTime;
  p.sortAscending = 0;
  EXPECT_NE(Catalog("", p).find("kivScope=0xcafe12 "), std::string::npos);
  EXPECT_NE(Catalog("", p).find(" ORDER BY kivWorkingTime DESC, write DESC "), std::string::npos);
  p.sortOrder = kSortVisits;
  p.sortAscending = 1;
  EXPECT_NE(Catalog("", p).find(" ORDER BY kivVisits ASC, write DESC "), std::string::npos);
  // An unknown code sorts like activation, whatever the direction.
  p.sortOrder = 77;
  EXPECT_NE(Catalog("", p).find(" ORDER BY kivLvE DESC, rank DESC, write DESC "),
            std::string::npos);
}

TEST_F(ComposerTest, FoldersDatesAndApostrophes) {
  SearchParams p;
  p.searchWebHistory = false;
  // A folder scope: shallow for dir:, deep for sdir:, the apostrophe doubled, and no default
  // exclusions.
  EXPECT_EQ(Tail(Catalog("dir:\"/home/me/it's here\" plan", p)),
            "System..SCOPE(' SHALLOW TRAVERSAL OF \"/home/me/it''s here\" ')  WHERE  CONTAINS "
            "(ALL,'\"plan\"')  ORDER BY kivLvE DESC, rank DESC, write DESC ");
  EXPECT_NE(Catalog("sdir:/a dir:/b x", p).find("DEEP TRAVERSAL OF \"/a\""), std::string::npos);
  // A term's apostrophe is doubled, and so is a quote kept inside it.
  EXPECT_NE(Catalog("o'brien", p).find("CONTAINS (ALL,'\"o''brien\"') "), std::string::npos);
  EXPECT_NE(Catalog("\"\"x", p).find("CONTAINS (ALL,'\"\"\"\"\"x\"') "), std::string::npos);
  // Dates only: local days in UTC (one hour ahead here), the short activation order.
  EXPECT_EQ(Tail(Catalog("sdate:1/2/2004 edate:\"1/3/2004 10:30\"", p)),
            "System..Scope()  WHERE write >='2004/01/01 23:00:00' AND write <='2004/01/03 "
            "22:59:59' AND " + kExclusions + " ORDER BY kivLvE DESC, write DESC ");
  // An unreadable date is dropped with a warning; the search still composes.
  const std::string sql = Catalog("report sdate:13/45/2004 edate:", p);
  EXPECT_EQ(messages_, Messages{kMsgBadStartDate});
  EXPECT_EQ(sql.find("write >="), std::string::npos);
}

TEST_F(ComposerTest, FreeTextAndOperators) {
  SearchParams p;
  p.searchWebHistory = false;
  p.includeSystemFolders = true;
  EXPECT_EQ(Tail(Catalog("a |b -c \"d e\"", p)),
            "System..Scope()  WHERE  CONTAINS (ALL,'\"a\" OR \"b\" AND NOT \"c\" AND \"d e\"') "
            " ORDER BY kivLvE DESC, rank DESC, write DESC ");
  EXPECT_EQ(Tail(Catalog("a |b -c \"d e\"", p, true)),
            "System..Scope()  WHERE  FREETEXT('\"a b d e\"')  AND NOT FREETEXT('\"c\"')  ORDER "
            "BY kivLvE DESC, rank DESC, write DESC ");
  Catalog("-a b", p, false, DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(messages_, Messages{kMsgFirstTermExcluded});
  p.searchFiles = false;
  Catalog("a", p, false, E_INVALIDARG);
  EXPECT_EQ(messages_, Messages{kMsgNoCatalog});
  std::string sql;
  EXPECT_EQ(ComposeCatalogQuery("a", false, nullptr, false, env_, sql, messages_), E_INVALIDARG);
}

TEST_F(ComposerTest, MailCatalogs) {
  SearchParams p;
  p.searchFiles = p.searchWebHistory = false;
  p.searchEmail = true;
  // Without mail stores no table can be formed.
  Catalog("a", p, false, E_INVALIDARG);
  EXPECT_EQ(messages_, Messages{kMsgNoCatalogTable});

  env_.mailStores = {0x1234, 0, 0xBEEF, 0x77};
  env_.userSid = [](std::string& s) {
    s = "S-1-22-1-1000";
    return S_OK;
  };
  std::vector<std::string> asked;
  env_.mailCatalogUsable = [&](std::string_view name, bool& usable) {
    asked.emplace_back(name);
    usable = name.find("_77") == std::string_view::npos;  // the last one is stopped
    return S_OK;
  };
  const std::string tail = Tail(Catalog("a", p));
  ASSERT_EQ(asked.size(), 3u);  // the zero hash is skipped
  const std::string first = asked[0], second = asked[1];
  EXPECT_EQ(first.substr(0, 8), "Quillon_");
  EXPECT_EQ(first.substr(first.size() - 5), "_1234");
  EXPECT_EQ(tail.substr(0, tail.find(" WHERE")), "(TABLE " + first + "..SCOPE() UNION ALL TABLE " +
                                                     second + "..SCOPE() ) ");
  EXPECT_NE(tail.find(" AND kivEmlMsgClass IS NULL) "), std::string::npos);

  env_.userSid = [](std::string&) { return E_FAIL; };
  Catalog("a", p, false, E_ACCESSDENIED);
  env_.mailCatalogUsable = nullptr;
  Catalog("a", p, false, REGDB_E_CLASSNOTREG);
}

// A missing files or web history catalog is left out with a message, not a failed search;
// only when nothing is left does the search fail.
TEST_F(ComposerTest, MissingCatalogLeftOutOfTheUnion) {
  SearchParams p;  // files and web history
  std::vector<std::string> registered = {"System"};
  env_.catalogRegistered = [&](std::string_view name, bool& found) {
    found = std::find(registered.begin(), registered.end(), name) != registered.end();
    return S_OK;
  };
  std::string tail = Tail(Catalog("budget", p));
  EXPECT_EQ(tail.substr(0, tail.find(" WHERE")), "System..Scope() ");
  EXPECT_EQ(messages_, Messages{kMsgWebCatalogMissing});

  registered = {"QuillonWebHistory"};
  tail = Tail(Catalog("budget", p));
  EXPECT_EQ(tail.substr(0, tail.find(" WHERE")), kWebTable);
  EXPECT_EQ(messages_, Messages{kMsgFilesCatalogMissing});
  // The folder form of the files table reads the same catalog.
  Catalog("sdir:/tmp budget", p);
  EXPECT_EQ(messages_, Messages{kMsgFilesCatalogMissing});

  registered.clear();
  Catalog("budget", p, false, E_INVALIDARG);
  EXPECT_EQ(messages_,
            (Messages{kMsgFilesCatalogMissing, kMsgWebCatalogMissing, kMsgNoCatalogTable}));

  // A failing question counts as registered: the engine then says what is wrong.
  env_.catalogRegistered = [](std::string_view, bool&) { return E_FAIL; };
  tail = Tail(Catalog("budget", p));
  EXPECT_EQ(tail.substr(0, 7), "(TABLE ");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ComposerTest, SearchKeyMode) {
  const Guid fileKey = *ParseGuid("{11111111-2222-3333-4444-555555555555}");
  const Guid webKey = *ParseGuid("{AAAAAAAA-2222-3333-4444-555555555555}");
  const SearchKeySource items[] = {{ItemType::File, "/a/b \"c\".txt", fileKey},
                                   {ItemType::WebPage, "Page", webKey},
                                   {ItemType::Contact, "Nobody", Guid{}}};
  const std::string list = WriteSearchKeyList(items);
  EXPECT_EQ(list, "0\n\"/a/b  c .txt\"\n{11111111-2222-3333-4444-555555555555}\n1\n\"Page\"\n"
                  "{AAAAAAAA-2222-3333-4444-555555555555}\n4\n\"Nobody\"\n"
                  "{00000000-0000-0000-0000-000000000000}\n");
  SearchParams p;
  p.searchFiles = false;
  p.visitedOnly = true;
  std::string sql;
  ASSERT_EQ(ComposeCatalogQuery(list, true, &p, false, env_, sql, messages_), S_OK);
  CheckReads(sql);
  EXPECT_EQ(Tail(sql), "(TABLE System..Scope() UNION ALL TABLE " + kWebTable +
                           ")  WHERE  kivSearchKey ='11111111-2222-3333-4444-555555555555' OR "
                           "kivSearchKey ='AAAAAAAA-2222-3333-4444-555555555555' AND NOT  (path "
                           "LIKE '/home/o''neil/.qv/LocalAppData/%'  AND kivScope IS NULL ) "
                           " ORDER BY kivLvE DESC, rank DESC, write DESC ");
  // No free-text form in search-key mode.
  EXPECT_EQ(ComposeCatalogQuery(list, true, &p, true, env_, sql, messages_), S_OK);
  EXPECT_TRUE(sql.empty());

  // The journal form ORs names and keys.
  std::string text;
  EXPECT_EQ(BuildSearchKeyCondition(SearchKeyMode::JournalText, list, text, p), S_OK);
  EXPECT_EQ(text, "\"/a/b  c .txt\" |{11111111-2222-3333-4444-555555555555} |\"Page\" "
                  "|{AAAAAAAA-2222-3333-4444-555555555555} |\"Nobody\"");

  // A key line that merely ends in '}' is no key: nothing is left to search for.
  const std::string hostile = "0\n\"x\"\n' OR kivScope IS NULL OR ''='}\n";
  EXPECT_EQ(ComposeCatalogQuery(hostile, true, &p, false, env_, sql, messages_),
            DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(BuildSearchKeyCondition(SearchKeyMode::CatalogCondition, "7\n\"x\"\n{}\n", text, p),
            DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(BuildSearchKeyCondition(SearchKeyMode::CatalogCondition, "0\n\"x\"\n", text, p),
            DB_E_ERRORSINCOMMAND);
}

TEST_F(ComposerTest, JournalQuery) {
  std::string sql;
  ASSERT_EQ(ComposeJournalQuery("budget -draft", false, false, env_, sql, messages_), S_OK);
  CheckReads(sql);
  EXPECT_EQ(sql, std::string(kJournalPreamble) +
                     "/home/o''neil/.qv/LocalAppData/Quillon/Journal\" ') WHERE  CONTAINS "
                     "(CONTENTS,'\"budget\" AND NOT \"draft\"')  AND kivPST = 0 ORDER BY write "
                     "DESC");
  env_.mailStores = {0xAB, 0x1F};
  ASSERT_EQ(ComposeJournalQuery("budget", true, true, env_, sql, messages_), S_OK);
  CheckReads(sql);
  EXPECT_NE(sql.find(" FREETEXT('\"budget\"')  AND (kivPST =0 OR kivPST=0xab OR kivPST=0x1f) "
                     "ORDER BY write ASC"),
            std::string::npos);
  // The journal needs a word.
  EXPECT_EQ(ComposeJournalQuery("", false, false, env_, sql, messages_), DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(ComposeJournalQuery("sdate:1/1/2004", false, false, env_, sql, messages_),
            DB_E_ERRORSINCOMMAND);
}

}  // namespace
}  // namespace qv::client
