#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "context/context.h"
#include "common/oledate.h"
#include "common/utf.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/query_executor.h"
#include "platform/indexing/query_parser.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRanking = "48CA09C3-119B-8534-9A91-87848040E351";
constexpr std::string_view kUserDefined = "D5CDD505-2E9C-101B-9397-08002B2CF9AE";

const std::string kPreamble =
    "SET PROPERTYNAME '48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x3 AS kivScope TYPE "
    "DBTYPE_UI4; "
    "SET PROPERTYNAME '48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x8 AS kivLvE TYPE "
    "DBTYPE_DATE; "
    "SET PROPERTYNAME '48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x6 AS kivVisits TYPE "
    "DBTYPE_UI4; "
    "SET PROPERTYNAME 'd5cdd505-2e9c-101b-9397-08002b2cf9ae' PROPID '_url' AS kivUrl TYPE "
    "DBTYPE_WSTR; "
    "SET PROPERTYNAME '48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x2 AS kivSearchKey TYPE "
    "DBTYPE_GUID; ";

struct TestDoc {
  std::string path;
  std::string text;
  DATE write = 0;
  std::optional<std::uint32_t> visits;
  std::optional<DATE> lve;
  std::optional<std::string> url;
  std::optional<Guid> key;
};

// A root with registered catalogs whose documents are written straight into the index.
class QueryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qv-query-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    install_ = std::make_unique<Installation>(root_);
    admin_ = std::make_unique<CatalogAdmin>(install_->context().registry, root_);
    executor_ = std::make_unique<QueryExecutor>(*admin_);
  }
  void TearDown() override {
    executor_.reset();
    fs::remove_all(root_);
  }

  void MakeCatalog(const std::string& name, const std::vector<TestDoc>& docs) {
    ASSERT_EQ(admin_->AddCatalog(name, root_ / "cat" / name), S_OK);
    auto& reg = install_->context().registry;
    for (auto [id, data] : {std::pair{"3", "19,4,0,1"}, {"8", "7,8,0,1"}, {"6", "19,4,0,1"},
                            {"2", "72,16,1,1"}}) {
      reg.SetValue(Hive::LocalMachine, PropertiesKey(name), std::string(kRanking) + " " + id,
                   RegValue::Sz(data));
    }
    reg.SetValue(Hive::LocalMachine, PropertiesKey(name), std::string(kUserDefined) + " _url",
                 RegValue::Sz("31,80,1,1"));
    std::vector<CachedProperty> props;
    ASSERT_EQ(admin_->GetCachedProperties(name, props), S_OK);
    std::unique_ptr<CatalogDb> db;
    ASSERT_EQ(CatalogDb::Open(root_ / "cat" / name, props, db), S_OK);
    Transaction tx(db->db());
    for (const auto& d : docs) {
      FileStat st;
      st.path = d.path;
      st.write = d.write;
      st.attrib = kAttribArchive;
      DocState state;
      ASSERT_EQ(db->NoteFile(st, 1, state), S_OK);
      std::int64_t id = 0;
      ASSERT_EQ(db->FindDocument(d.path, id, state), S_OK);
      DocContent c;
      c.contents = d.text;
      c.title = "Title of " + d.path;
      const std::string r = "{" + std::string(kRanking) + "} ";
      if (d.visits) c.props.emplace_back(r + "6", PropVariant::UI4(*d.visits));
      if (d.lve) c.props.emplace_back(r + "8", PropVariant::Date(*d.lve));
      if (d.key) c.props.emplace_back(r + "2", PropVariant::Clsid(*d.key));
      c.props.emplace_back(r + "3", PropVariant::UI4(0x1234));
      if (d.url) c.props.emplace_back("{" + std::string(kUserDefined) + "} _url",
                                      PropVariant::Lpwstr(*d.url));
      ASSERT_EQ(db->StoreDocument(id, c, DocState::Filtered), S_OK);
    }
    ASSERT_EQ(tx.Commit(), S_OK);
  }

  // Paths of the rows of a query (its first column must be Path).
  std::vector<std::string> Paths(const std::string& rest, HRESULT expect = S_OK,
                                 QueryOptions opt = {}) {
    ResultSet rs;
    std::string error;
    const HRESULT hr = executor_->Execute(kPreamble + rest, opt, rs, error);
    EXPECT_EQ(hr, expect) << error << "\n" << rest;
    std::vector<std::string> out;
    for (const auto& row : rs.Rows()) out.push_back(row[0].s);
    return out;
  }

  fs::path root_;
  std::unique_ptr<Installation> install_;
  std::unique_ptr<CatalogAdmin> admin_;
  std::unique_ptr<QueryExecutor> executor_;
};

DATE Day(int y, int m, int d) {
  return *ParseIsoDate(std::to_string(y) + "-" + (m < 10 ? "0" : "") + std::to_string(m) + "-" +
                       (d < 10 ? "0" : "") + std::to_string(d));
}

TEST(QueryParser, ReadsTheClientsQueryText) {
  const std::string text =
      kPreamble +
      "SELECT rank, write, Path, kivUrl , kivVisits FROM (TABLE System..Scope() UNION ALL TABLE "
      "QuillonWebHistory..SCOPE(' DEEP TRAVERSAL OF \"/home/u/LocalAppData/Quillon/WebHistory\" "
      "') ) WHERE CONTAINS (ALL,'\"report\" AND \"it''s\" ') AND write >='2004/01/02 00:00:00' "
      "AND path NOT LIKE '/usr/%' AND NOT (path LIKE '/x\\%' AND kivScope IS NULL ) ORDER BY "
      "kivLvE DESC, rank DESC, write DESC ";
  ParsedQuery q;
  std::string error;
  ASSERT_EQ(ParseQueryText(text, q, error), S_OK) << error;
  ASSERT_EQ(q.properties.size(), 5u);
  EXPECT_EQ(std::get<std::string>(q.properties[3].id), "_url");
  EXPECT_EQ(std::get<std::uint32_t>(q.properties[0].id), 3u);
  EXPECT_EQ(q.properties[1].dbtype, "DBTYPE_DATE");
  EXPECT_EQ(q.columns.size(), 5u);
  ASSERT_EQ(q.tables.size(), 2u);
  EXPECT_EQ(q.tables[0].catalog, "System");
  EXPECT_TRUE(q.tables[0].scopes.empty());
  ASSERT_EQ(q.tables[1].scopes.size(), 1u);
  EXPECT_EQ(q.tables[1].scopes[0].traversal, Traversal::Deep);
  EXPECT_EQ(q.tables[1].scopes[0].path, "/home/u/LocalAppData/Quillon/WebHistory");
  ASSERT_TRUE(q.where);
  EXPECT_EQ(q.where->kind, Condition::Kind::And);
  // ((CONTAINS AND write) AND NOT LIKE) AND NOT(...): left-deep AND chain.
  EXPECT_EQ(q.where->right->kind, Condition::Kind::Not);
  EXPECT_EQ(q.where->left->right->kind, Condition::Kind::Like);
  EXPECT_TRUE(q.where->left->right->negated);
  EXPECT_EQ(q.where->left->left->left->text, "\"report\" AND \"it's\" ");
  ASSERT_EQ(q.order.size(), 3u);
  EXPECT_TRUE(q.order[0].descending);
}

TEST(QueryParser, RefusesBrokenText) {
  ParsedQuery q;
  std::string error;
  for (const char* bad : {"", "SELECT", "SELECT Path FROM", "SELECT Path FROM System..SCOPE(",
                          "SELECT Path FROM System..SCOPE('WIDE TRAVERSAL OF \"/a\"')",
                          "SELECT Path FROM System..SCOPE() WHERE",
                          "SELECT Path FROM System..SCOPE() WHERE path LIKE 'x",
                          "SELECT Path FROM System..SCOPE() WHERE a = ",
                          "SELECT Path FROM System..SCOPE() ORDER BY",
                          "SET PROPERTYNAME 'nope' PROPID 2 AS x; SELECT x FROM SCOPE()",
                          "SELECT Path FROM (TABLE System..SCOPE() TABLE x..SCOPE())",
                          "SELECT Path FROM System..SCOPE() garbage"}) {
    EXPECT_EQ(ParseQueryText(bad, q, error), DB_E_ERRORSINCOMMAND) << bad;
    EXPECT_FALSE(error.empty());
  }
  std::string deep = "SELECT Path FROM SCOPE() WHERE " + std::string(5000, '(') + "a=1";
  EXPECT_EQ(ParseQueryText(deep, q, error), DB_E_ERRORSINCOMMAND);

  // Long flat chains build trees as deep as they are long, which every later step walks by
  // recursion: 400 joined parts are read, more are refused, and a megabyte of them neither
  // crashes nor is read.
  auto chain = [](int parts, const char* join) {
    std::string text = "SELECT Path FROM SCOPE() WHERE a=1";
    for (int i = 0; i < parts; ++i) text += std::string(join) + "a=1";
    return text;
  };
  EXPECT_EQ(ParseQueryText(chain(400, " AND "), q, error), S_OK) << error;
  EXPECT_EQ(ParseQueryText(chain(401, " OR "), q, error), DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(ParseQueryText(chain(100000, " AND "), q, error), DB_E_ERRORSINCOMMAND);
  std::unique_ptr<ContentNode> node;
  std::string terms = "\"a\"";
  for (int i = 0; i < 401; ++i) terms += " AND \"a\"";
  EXPECT_EQ(ParseContentText(terms, false, node, error), DB_E_ERRORSINCOMMAND);
}

std::string Show(const ContentNode* n) {
  if (!n) return "-";
  switch (n->kind) {
    case ContentNode::Kind::Term: return n->text + (n->prefix ? "*" : "");
    case ContentNode::Kind::Not: return "!" + Show(n->left.get());
    case ContentNode::Kind::And: return "(" + Show(n->left.get()) + "&" + Show(n->right.get()) + ")";
    case ContentNode::Kind::Or: return "(" + Show(n->left.get()) + "|" + Show(n->right.get()) + ")";
  }
  return "?";
}

TEST(QueryParser, FullTextPrecedencePhrasesAndNoise) {
  auto parse = [](std::string_view text, bool freetext = false) {
    std::unique_ptr<ContentNode> n;
    std::string error;
    const HRESULT hr = ParseContentText(text, freetext, n, error);
    return hr == S_OK ? Show(n.get()) : FormatHresult(hr);
  };
  // The client's "a b c |d": a (None), b (None), c (Or), d (Or).
  EXPECT_EQ(parse("\"a\" AND \"b\" OR \"c\" OR \"d\""), "(((a&b)|c)|d)");
  EXPECT_EQ(parse("\"a\" OR \"b\" AND \"c\""), "(a|(b&c))");
  EXPECT_EQ(parse("\"a\" AND NOT \"b\" OR \"c\""), "((a&!b)|c)");
  EXPECT_EQ(parse("\"quarterly report\" & budg*"), "(quarterly report&budg*)");
  EXPECT_EQ(parse("\"budg*\""), "budg*");
  EXPECT_EQ(parse("\"say \"\"hi\"\"\""), "say \"hi\"");
  EXPECT_EQ(parse("(\"a\" | \"b\") & !\"c\""), "((a|b)&!c)");
  EXPECT_EQ(parse("\"unclosed phrase"), "unclosed phrase");
  // Terms without a letter or digit carry no meaning and drop out.
  EXPECT_EQ(parse("\"a\" AND \"!!\""), "a");
  EXPECT_EQ(parse("\"--\" OR \"...\""), "0x80041605");
  EXPECT_EQ(parse("\"a\" AND"), "0x80040E14");
  EXPECT_EQ(parse("(\"a\""), "0x80040E14");
  EXPECT_EQ(parse("\"report budget\"", true), "(report|budget)");
  EXPECT_EQ(parse("\"\"", true), "0x80041605");
}

TEST_F(QueryFixture, ScopesDatesNullOrderAndRank) {
  MakeCatalog("System",
              {{"/h/a/one.txt", "report budget report", Day(2004, 1, 1), 5, Day(2005, 1, 1),
                std::nullopt, std::nullopt},
               {"/h/a/sub/two.txt", "report", Day(2004, 2, 1), std::nullopt, std::nullopt,
                "http://x/", std::nullopt},
               {"/h/b/three.txt", "budget quarterly report", Day(2004, 3, 1), 9,
                Day(2004, 6, 1), std::nullopt, std::nullopt},
               {"/h/ab/four.txt", "nothing here o'brien", Day(2004, 4, 1), 1, std::nullopt,
                std::nullopt, std::nullopt}});
  const std::string sel = "SELECT Path, rank, kivVisits FROM ";
  // SHALLOW takes the folder only, DEEP its sub-folders too, and never a sibling that merely
  // shares the prefix (/h/ab).
  EXPECT_EQ(Paths(sel + "System..SCOPE(' SHALLOW TRAVERSAL OF \"/h/a\" ') ORDER BY Path"),
            std::vector<std::string>{"/h/a/one.txt"});
  EXPECT_EQ(Paths(sel + "System..SCOPE(' DEEP TRAVERSAL OF \"/h/a/\" ') ORDER BY Path"),
            (std::vector<std::string>{"/h/a/one.txt", "/h/a/sub/two.txt"}));
  EXPECT_EQ(Paths(sel + "System..SCOPE(' DEEP TRAVERSAL OF \"/nowhere\" ')").size(), 0u);
  // Prefix, phrase and NOT.
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE CONTAINS (ALL,'\"budg*\"') ORDER BY Path"),
            (std::vector<std::string>{"/h/a/one.txt", "/h/b/three.txt"}));
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE CONTAINS (ALL,'\"quarterly report\"')"),
            std::vector<std::string>{"/h/b/three.txt"});
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE CONTAINS (ALL,'\"report budget\"')"),
            std::vector<std::string>{"/h/a/one.txt"});
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE CONTAINS (ALL,'\"report\" AND NOT \"budget\"')"),
            std::vector<std::string>{"/h/a/sub/two.txt"});
  // Quoting: the apostrophe doubled in the SQL string reaches the index as one.
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE CONTAINS (ALL,'\"o''brien\"')"),
            std::vector<std::string>{"/h/ab/four.txt"});
  // Dates as the client writes them.
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE write >='2004/02/01 00:00:00' AND write "
                        "<='2004/03/31 23:59:59' ORDER BY write DESC"),
            (std::vector<std::string>{"/h/b/three.txt", "/h/a/sub/two.txt"}));
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE kivLvE > '2004/12/31 00:00:00'"),
            std::vector<std::string>{"/h/a/one.txt"});
  // NULL sorts below every value: last descending, first ascending.
  EXPECT_EQ(Paths(sel + "System..Scope() ORDER BY kivVisits DESC"),
            (std::vector<std::string>{"/h/b/three.txt", "/h/a/one.txt", "/h/ab/four.txt",
                                      "/h/a/sub/two.txt"}));
  EXPECT_EQ(Paths(sel + "System..Scope() ORDER BY kivVisits ASC")[0], "/h/a/sub/two.txt");
  // A comparison with a missing value is false; NOT of it is true.
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE kivVisits < 100").size(), 3u);
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE NOT kivVisits < 100"),
            std::vector<std::string>{"/h/a/sub/two.txt"});
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE kivUrl IS NOT NULL"),
            std::vector<std::string>{"/h/a/sub/two.txt"});
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE kivScope=0x1234").size(), 4u);
  EXPECT_EQ(Paths(sel + "System..Scope() WHERE path LIKE '/H/A/%' ORDER BY path").size(), 2u);

  // Rank: 0..1000, higher for the document with more hits; 1000 without full text.
  MakeCatalog("QuillonRank", {{"/r/1.txt", "budget budget budget x", 0, {}, {}, {}, {}},
                              {"/r/2.txt", "budget x y z w v u t", 0, {}, {}, {}, {}},
                              {"/r/3.txt", "x", 0, {}, {}, {}, {}},
                              {"/r/4.txt", "y", 0, {}, {}, {}, {}},
                              {"/r/5.txt", "z", 0, {}, {}, {}, {}}});
  ResultSet rs;
  std::string error;
  ASSERT_EQ(executor_->Execute(kPreamble + sel +
                                   "QuillonRank..Scope() WHERE CONTAINS (ALL,'\"budget\"') "
                                   "ORDER BY rank DESC",
                               {}, rs, error),
            S_OK)
      << error;
  ASSERT_EQ(rs.RowCount(), 2u);
  EXPECT_EQ(rs.types[1], ValueKind::I4);
  EXPECT_EQ(rs.RowAt(0)[0].s, "/r/1.txt");
  EXPECT_GT(rs.RowAt(0)[1].i, rs.RowAt(1)[1].i);
  EXPECT_LE(rs.RowAt(0)[1].i, 1000);
  EXPECT_GE(rs.RowAt(1)[1].i, 1);
  // A condition on the rank is SQLite's to judge, with the same ranks.
  ResultSet above;
  ASSERT_EQ(executor_->Execute(kPreamble + sel +
                                   "QuillonRank..Scope() WHERE CONTAINS (ALL,'\"budget\"') "
                                   "AND rank > " + std::to_string(rs.RowAt(1)[1].i),
                               {}, above, error),
            S_OK)
      << error;
  ASSERT_EQ(above.RowCount(), 1u);
  EXPECT_EQ(above.RowAt(0)[0].s, "/r/1.txt");
  EXPECT_EQ(above.RowAt(0)[1].i, rs.RowAt(0)[1].i);
  ASSERT_EQ(executor_->Execute(kPreamble + sel + "System..Scope()", {}, rs, error), S_OK);
  EXPECT_EQ(rs.RowAt(0)[1].i, 1000);
  EXPECT_EQ(rs.types[2], ValueKind::UI4);

  // Errors the client relies on.
  Paths(sel + "System..Scope() WHERE CONTAINS (ALL,'\"--\"')", QUERY_E_ALLNOISE);
  Paths(sel + "System..Scope() WHERE nosuch = 1", DB_E_ERRORSINCOMMAND);
  Paths("SELECT Path FROM Missing..Scope()", HresultFromWin32(win32::ERROR_NOT_FOUND));
  Paths("SELECT Path FROM Quillon/../x..Scope()", DB_E_ERRORSINCOMMAND);
  QueryOptions two;
  two.maxRows = 2;
  EXPECT_EQ(Paths(sel + "System..Scope() ORDER BY write ASC", S_OK, two),
            (std::vector<std::string>{"/h/a/one.txt", "/h/a/sub/two.txt"}));
}

// Every query the parser reads must also run: a pasted text of many words, long chains of
// conditions, and the deepest nesting the parser takes, ranked or not, from the property
// cache and as SQL.
TEST_F(QueryFixture, LongAndDeepQueriesRun) {
  std::string all, half;
  for (int i = 0; i < 150; ++i) {
    all += "w" + std::to_string(i) + " ";
    if (i < 75) half += "w" + std::to_string(i) + " ";
  }
  MakeCatalog("System", {{"/l/all.txt", all, Day(2004, 1, 1), 1, {}, {}, {}},
                         {"/l/half.txt", half + "other", Day(2004, 1, 2), 2, {}, {}, {}},
                         {"/l/none.txt", "other", Day(2004, 1, 3), 3, {}, {}, {}}});
  const std::string sel = "SELECT Path, rank FROM System..Scope() WHERE ";
  auto run = [&](const std::string& where, const std::string& order = " ORDER BY Path") {
    std::vector<std::string> first;
    for (int i = 0; i < 3; ++i) {  // SQL, then the cache once the catalog stood still
      QueryOptions opt;
      opt.propertyCache = i > 0;
      const auto got = Paths(sel + where + order, S_OK, opt);
      if (i == 0) first = got;
      EXPECT_EQ(got, first) << where;
    }
    return first;
  };
  using V = std::vector<std::string>;
  // 150 words as the client joins them; also with the most parts the parser takes.
  auto words = [](int n, int from, const char* join) {
    std::string t;
    for (int i = 0; i < n; ++i) {
      if (i) t += join;
      t += "\"w" + std::to_string(from + i) + "\"";
    }
    return t;
  };
  EXPECT_EQ(run("CONTAINS (ALL,'" + words(150, 0, " AND ") + "')"), V{"/l/all.txt"});
  EXPECT_EQ(run("CONTAINS (ALL,'" + words(150, 0, " AND ") + "')", " ORDER BY rank DESC"),
            V{"/l/all.txt"});
  EXPECT_EQ(run("CONTAINS (CONTENTS,'" + words(kMaxQueryParts + 1, 0, " OR ") + "')"),
            (V{"/l/all.txt", "/l/half.txt"}));
  EXPECT_EQ(run("FREETEXT('\"" + words(150, 0, " ") + "\"')"), (V{"/l/all.txt", "/l/half.txt"}));
  // Excluded words anywhere in a long chain, the first ones included.
  EXPECT_EQ(run("CONTAINS (ALL,'NOT \"other\" AND " + words(100, 0, " AND ") +
                " AND NOT \"x1\" AND NOT \"x2\" AND \"w149\" AND NOT \"x3\"')"),
            V{"/l/all.txt"});
  EXPECT_EQ(run("CONTAINS (ALL,'" + words(74, 0, " AND NOT ") + "')"), V{});
  EXPECT_EQ(run("CONTAINS (ALL,'\"w1\" AND (\"zz\" OR \"other\") AND NOT (\"w140\" OR \"w141\")"
                " AND NOT \"w100\"')"),
            V{"/l/half.txt"});
  // A long chain of conditions.
  std::string chain = "path LIKE '/l/%'";
  for (int i = 0; i < kMaxQueryParts; ++i) chain += i % 2 ? " AND kivVisits < 3" : " AND write > 0";
  EXPECT_EQ(run(chain), (V{"/l/all.txt", "/l/half.txt"}));

  // The deepest nesting the parser reads, in the condition and in a full-text text that no
  // single FTS5 text can say (an OR with an excluded part), each level alternating.
  // A level costs one unit of depth per parenthesis and per NOT.
  std::string content = "\"w3\"";
  for (int units = 0, level = 0; units < kMaxQueryDepth; ++level) {
    const bool excluding = level % 2 == 0 && units + 2 <= kMaxQueryDepth;
    content = "(\"zz" + std::to_string(level) + "\" " + (excluding ? "OR NOT " : "AND ") +
              content + ")";
    units += excluding ? 2 : 1;
  }
  std::string cond = "CONTAINS (ALL,'" + content + "')";
  for (int units = 0, level = 0; units < kMaxQueryDepth; ++level) {
    const bool negated = level % 2 == 0 && units + 2 <= kMaxQueryDepth;
    cond = std::string(negated ? "NOT " : "") + "(write > " + std::to_string(level) +
           (negated ? " OR " : " AND ") + cond + ")";
    units += negated ? 2 : 1;
  }
  ParsedQuery q;
  std::string error;
  ASSERT_EQ(ParseQueryText(kPreamble + sel + cond, q, error), S_OK) << error;
  run(cond);
  // One level more is refused.
  EXPECT_EQ(ParseQueryText(kPreamble + sel + "(" + cond + ")", q, error), DB_E_ERRORSINCOMMAND);
}

TEST_F(QueryFixture, UnionAllSortsAcrossCatalogs) {
  const Guid key = *ParseGuid("{3108EFA7-0C78-4930-8542-237B2C341ED2}");
  MakeCatalog("System", {{"/f/a.txt", "word", Day(2004, 1, 1), 3, Day(2004, 1, 5),
                          std::nullopt, key},
                         {"/f/b.txt", "word", Day(2004, 1, 2), std::nullopt, std::nullopt,
                          std::nullopt, std::nullopt}});
  MakeCatalog("QuillonWebHistory", {{"/w/c.q6w", "word", Day(2004, 1, 3), 1, Day(2004, 1, 9),
                                     "http://c/", std::nullopt}});
  EXPECT_EQ(Paths("SELECT Path FROM (TABLE System..Scope() UNION ALL TABLE "
                  "QuillonWebHistory..SCOPE(' DEEP TRAVERSAL OF \"/w\" ') ) WHERE CONTAINS "
                  "(ALL,'\"word\"') ORDER BY kivLvE DESC, rank DESC, write DESC "),
            (std::vector<std::string>{"/w/c.q6w", "/f/a.txt", "/f/b.txt"}));
  EXPECT_EQ(Paths("SELECT Path FROM System..Scope() WHERE  kivSearchKey "
                  "='3108efa7-0c78-4930-8542-237b2c341ed2'"),
            std::vector<std::string>{"/f/a.txt"});
  ResultSet rs;
  std::string error;
  ASSERT_EQ(executor_->Execute(kPreamble + "SELECT kivSearchKey, kivUrl FROM System..Scope() "
                                           "ORDER BY Path",
                               {}, rs, error),
            S_OK);
  EXPECT_EQ(rs.types[0], ValueKind::Guid);
  EXPECT_EQ(rs.RowAt(0)[0].g, key);
  EXPECT_TRUE(rs.RowAt(1)[0].IsNull());
  EXPECT_TRUE(rs.RowAt(0)[1].IsNull());
  // Read by SQL, a row keeps its values in small cells: a GUID comes back whole and orders
  // as its fields do, above a missing one.
  QueryOptions sqlOnly;
  sqlOnly.propertyCache = false;
  ASSERT_EQ(executor_->Execute(kPreamble + "SELECT kivSearchKey, Path FROM System..Scope() "
                                           "ORDER BY kivSearchKey DESC",
                               sqlOnly, rs, error),
            S_OK);
  ASSERT_EQ(rs.RowCount(), 2u);
  EXPECT_EQ(rs.RowAt(0)[0].g, key);
  EXPECT_EQ(rs.RowAt(0)[1].s, "/f/a.txt");
  EXPECT_TRUE(rs.RowAt(1)[0].IsNull());
}

// A catalog made but not yet filled (the web history before the first visit) adds no rows
// to a search of several catalogs, whether it runs as SQL or from the property cache.
TEST_F(QueryFixture, ANeverFilledCatalogAddsNoRows) {
  MakeCatalog("System", {{"/f/a.txt", "word", Day(2004, 1, 1), std::nullopt, std::nullopt,
                          std::nullopt, std::nullopt}});
  MakeCatalog("QuillonWebHistory", {});
  const std::string query =
      "SELECT Path FROM (TABLE System..Scope() UNION ALL TABLE QuillonWebHistory..Scope()) "
      "WHERE CONTAINS (ALL,'\"word\"') ORDER BY kivLvE DESC, rank DESC, write DESC";
  // The first runs as SQL; once the catalogs stood still, the next come from the cache.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Paths(query), std::vector<std::string>{"/f/a.txt"}) << i;
  }
  EXPECT_EQ(executor_->cachedTables(), 4u);
}

// A row whose length the full-text index lacks makes the index a damaged one: a search that
// ranks it says to rebuild the catalog instead of ranking the row as if it were empty.
TEST_F(QueryFixture, AMissingRowLengthIsReportedAsDamage) {
  MakeCatalog("System", {{"/f/a.txt", "word", Day(2004, 1, 1), std::nullopt, std::nullopt,
                          std::nullopt, std::nullopt},
                         {"/f/b.txt", "word and more", Day(2004, 1, 2), std::nullopt,
                          std::nullopt, std::nullopt, std::nullopt}});
  {
    Database db;
    ASSERT_EQ(db.Open(CatalogDb::DatabasePath(root_ / "cat" / "System"), false), S_OK);
    ASSERT_EQ(db.Exec("DELETE FROM fts_docsize WHERE id = (SELECT max(id) FROM fts_docsize)"),
              S_OK);
  }
  QueryOptions sqlOnly;
  sqlOnly.propertyCache = false;
  ResultSet rs;
  std::string error;
  EXPECT_TRUE(Failed(executor_->Execute(
      kPreamble + "SELECT Path, rank FROM System..Scope() WHERE CONTAINS (ALL,'\"word\"')",
      sqlOnly, rs, error)));
  EXPECT_NE(error.find("rebuild the catalog"), std::string::npos) << error;
}

TEST_F(QueryFixture, RowsReadBySqlKeepLongAndEmptyTexts) {
  const std::string longUrl = "http://long/" + std::string(40000, 'x');
  MakeCatalog("System", {{"/f/a.txt", "word", Day(2004, 1, 1), 1, Day(2004, 1, 5), longUrl, {}},
                         {"/f/b.txt", "word", Day(2004, 1, 2), 2, Day(2004, 1, 6), "", {}},
                         {"/f/c.txt", "word", Day(2004, 1, 3), 3, Day(2004, 1, 7), "http://c/",
                          {}}});
  QueryOptions sqlOnly;
  sqlOnly.propertyCache = false;
  ResultSet rs;
  std::string error;
  ASSERT_EQ(executor_->Execute(kPreamble + "SELECT kivUrl, Path FROM System..Scope() WHERE "
                                           "CONTAINS (ALL,'\"word\"') ORDER BY kivUrl DESC",
                               sqlOnly, rs, error),
            S_OK)
      << error;
  ASSERT_EQ(rs.RowCount(), 3u);
  EXPECT_EQ(rs.RowAt(0)[0].s, longUrl);
  EXPECT_EQ(rs.RowAt(1)[0].s, "http://c/");
  EXPECT_EQ(rs.RowAt(2)[0].kind, ValueKind::Str);
  EXPECT_EQ(rs.RowAt(2)[0].s, "");
  EXPECT_EQ(rs.RowAt(2)[1].s, "/f/b.txt");
}

// A row read by SQL keeps the values it has and a bit per column; a query of more than 64
// columns takes more than one word of bits.
TEST_F(QueryFixture, RowsReadBySqlKeepManyColumnsWithGaps) {
  MakeCatalog("System", {{"/f/a.txt", "word", Day(2004, 1, 1), 1, Day(2004, 1, 5), "http://a/", {}},
                         {"/f/b.txt", "word", Day(2004, 1, 2), {}, {}, {}, {}},
                         {"/f/c.txt", "word", Day(2004, 1, 3), 3, {}, "http://c/", {}}});
  std::string text = kPreamble;
  std::string columns = "Path";
  const char* props[] = {
      "'d5cdd505-2e9c-101b-9397-08002b2cf9ae' PROPID '_url' AS u%d TYPE DBTYPE_WSTR; ",
      "'48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x8 AS u%d TYPE DBTYPE_DATE; ",
      "'48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x6 AS u%d TYPE DBTYPE_UI4; "};
  for (int i = 0; i < 150; ++i) {
    char alias[160];
    std::snprintf(alias, sizeof alias, props[i % 3], i);
    text += std::string("SET PROPERTYNAME ") + alias;
    columns += ", u" + std::to_string(i);
  }
  text += "SELECT " + columns + " FROM System..Scope() WHERE CONTAINS (ALL,'\"word\"') "
          "ORDER BY Path";
  QueryOptions sqlOnly;
  sqlOnly.propertyCache = false;
  ResultSet fromSql, fromCache;
  std::string error;
  ASSERT_EQ(executor_->Execute(text, sqlOnly, fromSql, error), S_OK) << error;
  // The second query of a catalog that stood still reads the property cache.
  ASSERT_EQ(executor_->Execute(text, {}, fromCache, error), S_OK) << error;
  ASSERT_EQ(executor_->Execute(text, {}, fromCache, error), S_OK) << error;
  EXPECT_EQ(executor_->cachedTables(), 1u);
  ASSERT_EQ(fromSql.RowCount(), 3u);
  EXPECT_EQ(fromSql.Rows(), fromCache.Rows());
  const Row& b = fromSql.RowAt(1);
  for (std::size_t c = 1; c < b.size(); ++c) EXPECT_TRUE(b[c].IsNull()) << c;
  const Row& c = fromSql.RowAt(2);
  EXPECT_EQ(c[1 + 147].s, "http://c/");
  EXPECT_TRUE(c[1 + 148].IsNull());
  EXPECT_EQ(c[1 + 149].i, 3);
}

TEST_F(QueryFixture, RebuiltIndexIsOpenedAgain) {
  MakeCatalog("System", {{"/f/old.txt", "word", 1.0, {}, {}, {}, {}}});
  EXPECT_EQ(Paths("SELECT Path FROM System..Scope()"), std::vector<std::string>{"/f/old.txt"});
  // What a repair does: the index folder goes, and the indexer builds a new one.
  fs::remove_all(root_ / "cat" / "System" / "Catalog.wci");
  EXPECT_EQ(Paths("SELECT Path FROM System..Scope()").size(), 0u);
  ASSERT_EQ(admin_->RemoveCatalog("System"), S_OK);
  MakeCatalog("System", {{"/f/new.txt", "word", 1.0, {}, {}, {}, {}}});
  EXPECT_EQ(Paths("SELECT Path FROM System..Scope()"), std::vector<std::string>{"/f/new.txt"});
}

// ---- model versus engine ----

std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      cur += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!cur.empty()) {
      out.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

bool ModelTerm(const std::vector<std::string>& doc, const ContentNode& t) {
  const auto want = Tokens(t.text);
  if (want.empty()) return false;
  for (std::size_t i = 0; i + want.size() <= doc.size(); ++i) {
    bool ok = true;
    for (std::size_t k = 0; k < want.size() && ok; ++k) {
      const bool last = k + 1 == want.size();
      ok = (last && t.prefix) ? doc[i + k].rfind(want[k], 0) == 0 : doc[i + k] == want[k];
    }
    if (ok) return true;
  }
  return false;
}

bool ModelContent(const std::vector<std::string>& doc, const ContentNode& n) {
  switch (n.kind) {
    case ContentNode::Kind::Term: return ModelTerm(doc, n);
    case ContentNode::Kind::Not: return !ModelContent(doc, *n.left);
    case ContentNode::Kind::And: return ModelContent(doc, *n.left) && ModelContent(doc, *n.right);
    case ContentNode::Kind::Or: return ModelContent(doc, *n.left) || ModelContent(doc, *n.right);
  }
  return false;
}

bool LikeMatch(std::string_view s, std::string_view p) {
  if (p.empty()) return s.empty();
  if (p[0] == '%') {
    for (std::size_t i = 0; i <= s.size(); ++i) {
      if (LikeMatch(s.substr(i), p.substr(1))) return true;
    }
    return false;
  }
  if (s.empty()) return false;
  if (p[0] == '_' || std::tolower(static_cast<unsigned char>(p[0])) ==
                         std::tolower(static_cast<unsigned char>(s[0]))) {
    return LikeMatch(s.substr(1), p.substr(1));
  }
  return false;
}

template <class T>
bool Cmp(const std::optional<T>& v, const std::string& op, const T& lit) {
  if (!v) return false;
  if (op == "=") return *v == lit;
  if (op == "!=") return *v != lit;
  if (op == "<") return *v < lit;
  if (op == "<=") return *v <= lit;
  if (op == ">") return *v > lit;
  return *v >= lit;
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Pick(100) < percent; }

  static constexpr const char* kWords[] = {"alpha", "alpine", "beta", "gamma", "delta",
                                           "alphabet", "eps", "zeta"};
  static constexpr const char* kDirs[] = {"/m/a", "/m/a/x", "/m/b", "/m/ab"};

  TestDoc Doc(int i) {
    TestDoc d;
    d.path = std::string(kDirs[Pick(4)]) + "/doc" + std::to_string(i) + ".txt";
    const int n = Pick(10);
    for (int k = 0; k < n; ++k) d.text += std::string(kWords[Pick(8)]) + (Pick(4) ? " " : ". ");
    d.write = Day(2004, 1 + Pick(12), 1 + Pick(28));
    if (Chance(70)) d.visits = static_cast<std::uint32_t>(Pick(20));
    if (Chance(60)) d.lve = Day(2005, 1 + Pick(12), 1 + Pick(28));
    if (Chance(40)) d.url = std::string("http://") + kWords[Pick(8)] + "/";
    if (Chance(30)) {
      Guid g;
      g.data1 = static_cast<std::uint32_t>(Pick(1 << 30));
      g.data4[7] = static_cast<std::uint8_t>(Pick(256));
      d.key = g;
    }
    return d;
  }

  std::string Term() {
    switch (Pick(4)) {
      case 0: return std::string("\"") + kWords[Pick(8)] + " " + kWords[Pick(8)] + "\"";
      case 1: return std::string("\"") + std::string(kWords[Pick(8)]).substr(0, 3) + "*\"";
      default: return std::string("\"") + kWords[Pick(8)] + "\"";
    }
  }
  std::string Content(int depth) {
    if (depth == 0 || Chance(40)) return Term();
    static constexpr const char* kOps[] = {" AND ", " OR ", " AND NOT ", " | ", " & "};
    return "(" + Content(depth - 1) + kOps[Pick(5)] + Content(depth - 1) + ")";
  }
  std::string Date() {
    char buf[32];
    std::snprintf(buf, sizeof buf, "'%d/%02d/%02d 00:00:00'", 2004 + Pick(2), (1 + Pick(12)) % 100,
                  (1 + Pick(28)) % 100);
    return buf;
  }
  std::string Predicate() {
    static constexpr const char* kOps[] = {"=", "!=", "<", "<=", ">", ">="};
    switch (Pick(7)) {
      case 0: return "kivVisits " + std::string(kOps[Pick(6)]) + " " + std::to_string(Pick(20));
      case 1: return "kivLvE " + std::string(kOps[Pick(6)]) + " " + Date();
      case 2: return "write " + std::string(kOps[Pick(6)]) + " " + Date();
      case 3: return std::string("kivUrl IS ") + (Chance(50) ? "NOT " : "") + "NULL";
      case 4: return std::string("path ") + (Chance(50) ? "NOT " : "") + "LIKE '" +
                     kDirs[Pick(4)] + "/%'";
      case 5: return std::string("kivUrl LIKE '%") + std::string(kWords[Pick(8)]).substr(0, 2) +
                     "%'";
      default: return "CONTAINS (ALL,'" + Content(2) + "')";
    }
  }
  std::string Condition(int depth) {
    if (depth == 0 || Chance(35)) return Predicate();
    switch (Pick(3)) {
      case 0: return "(" + Condition(depth - 1) + " AND " + Condition(depth - 1) + ")";
      case 1: return "(" + Condition(depth - 1) + " OR " + Condition(depth - 1) + ")";
      default: return "NOT (" + Condition(depth - 1) + ")";
    }
  }

 private:
  std::mt19937 rng_;
};

bool ModelCondition(const TestDoc& d, const Condition& c) {
  switch (c.kind) {
    case Condition::Kind::And: return ModelCondition(d, *c.left) && ModelCondition(d, *c.right);
    case Condition::Kind::Or: return ModelCondition(d, *c.left) || ModelCondition(d, *c.right);
    case Condition::Kind::Not: return !ModelCondition(d, *c.left);
    case Condition::Kind::IsNull: return d.url.has_value() == c.negated;
    case Condition::Kind::Like: {
      const std::optional<std::string> v =
          EqualsNoCase(c.column, "path") ? std::optional<std::string>(d.path) : d.url;
      if (!v) return false;
      return LikeMatch(*v, c.literal.text) != c.negated;
    }
    case Condition::Kind::FullText: {
      std::unique_ptr<ContentNode> n;
      std::string error;
      if (ParseContentText(c.text, c.freetext, n, error) != S_OK) return false;
      return ModelContent(Tokens(d.text), *n);
    }
    case Condition::Kind::Compare: {
      if (EqualsNoCase(c.column, "kivVisits")) {
        return Cmp<std::uint32_t>(d.visits, c.op, std::stoul(c.literal.text));
      }
      double lit = 0;
      EXPECT_TRUE(ParseQueryDate(c.literal.text, lit));
      if (EqualsNoCase(c.column, "write")) return Cmp<double>(d.write, c.op, lit);
      return Cmp<double>(d.lve, c.op, lit);
    }
  }
  return false;
}

TEST_F(QueryFixture, ModelAgreesWithEngine) {
  Generator gen(20240611);
  std::vector<TestDoc> docs;
  // More documents than the engine picks its first rows from, so that answers of every
  // size are put in order both ways.
  for (int i = 0; i < 600; ++i) docs.push_back(gen.Doc(i));
  MakeCatalog("System", docs);

  int nonEmpty = 0;
  int large = 0;
  for (int round = 0; round < 300; ++round) {
    const std::string cond = gen.Condition(3);
    // No scope, or one or two folders, one of which may be the root (which takes all).
    std::string scope = "System..Scope()";
    std::vector<std::pair<std::string, bool>> scopes;  // folder, deep
    if (gen.Chance(40)) {
      const int count = gen.Chance(30) ? 2 : 1;
      for (int i = 0; i < count; ++i) {
        const bool root = count == 2 && gen.Chance(30);
        scopes.emplace_back(root ? "/" : Generator::kDirs[gen.Pick(4)], root || gen.Chance(50));
      }
      scope = "System..SCOPE(";
      for (std::size_t i = 0; i < scopes.size(); ++i) {
        scope += std::string(i ? ", " : "") + "' " + (scopes[i].second ? "DEEP" : "SHALLOW") +
                 " TRAVERSAL OF \"" + scopes[i].first + "\" '";
      }
      scope += ")";
    }
    static constexpr const char* kKeys[] = {"kivVisits", "kivLvE", "write", "kivUrl"};
    const int key = gen.Pick(4);
    const bool desc = gen.Chance(50);
    const std::string text = kPreamble + "SELECT Path FROM " + scope + " WHERE " + cond +
                             " ORDER BY " + kKeys[key] + (desc ? " DESC" : " ASC");
    ParsedQuery q;
    std::string error;
    ASSERT_EQ(ParseQueryText(text, q, error), S_OK) << error << "\n" << text;

    std::vector<const TestDoc*> expected;
    for (const auto& d : docs) {
      const std::string dir = d.path.substr(0, d.path.rfind('/'));
      const bool in = scopes.empty() ||
                      std::any_of(scopes.begin(), scopes.end(), [&](const auto& sc) {
                        const auto& [folder, deep] = sc;
                        if (folder == "/") return true;
                        return deep ? (dir == folder || dir.rfind(folder + "/", 0) == 0)
                                    : dir == folder;
                      });
      if (!in) continue;
      if (ModelCondition(d, *q.where)) expected.push_back(&d);
    }
    auto keyOf = [&](const TestDoc& d) {
      Value v;
      switch (key) {
        case 0:
          if (d.visits) {
            v.kind = ValueKind::UI4;
            v.i = *d.visits;
          }
          break;
        case 1:
          if (d.lve) {
            v.kind = ValueKind::Date;
            v.d = *d.lve;
          }
          break;
        case 2:
          v.kind = ValueKind::Date;
          v.d = d.write;
          break;
        default:
          if (d.url) {
            v.kind = ValueKind::Str;
            v.s = *d.url;
          }
      }
      return v;
    };
    std::stable_sort(expected.begin(), expected.end(), [&](const TestDoc* a, const TestDoc* b) {
      const int c = CompareValues(keyOf(*a), keyOf(*b));
      if (c != 0) return desc ? c > 0 : c < 0;
      return a->path < b->path;
    });
    std::vector<std::string> want;
    for (const auto* d : expected) want.push_back(d->path);
    ResultSet rs;
    const HRESULT hr = executor_->Execute(text, {}, rs, error);
    ASSERT_EQ(hr, S_OK) << error << "\n" << text;
    ASSERT_EQ(rs.RowCount(), want.size()) << text;
    // Rows are put in order as they are asked for: a row far down first, as a list scrolled
    // at once asks, then every row.
    // A row handed out stays valid while later rows are put in order.
    if (!want.empty() && round % 2) {
      const Row& top = rs.RowAt(0);
      const std::size_t far = (want.size() - 1) * static_cast<std::size_t>(round % 7) / 6;
      ASSERT_EQ(rs.Field(far, 0).s, want[far]) << text;
      ASSERT_EQ(top[0].s, want[0]) << text;
    }
    std::vector<std::string> got;
    for (const auto& r : rs.Rows()) got.push_back(r[0].s);
    ASSERT_EQ(got, want) << text;
    nonEmpty += !want.empty();
    large += want.size() > 300;

    // The property cache and the SQL form must give the same rows, ranks included, in the
    // same order, also when the rank sorts.
    const std::string wide =
        kPreamble + "SELECT Path, rank, write, kivVisits, kivUrl, kivLvE, kivSearchKey FROM " +
        scope + " WHERE " + cond + " ORDER BY " +
        (round % 3 == 0   ? "kivSearchKey DESC, "
         : round % 3 == 1 ? "kivLvE DESC, rank DESC, "
                          : "rank DESC, ") +
        kKeys[key] +
        (desc ? " DESC" : " ASC");
    QueryOptions sqlOnly;
    sqlOnly.propertyCache = false;
    ResultSet fromCache, fromSql;
    ASSERT_EQ(executor_->Execute(wide, {}, fromCache, error), S_OK) << error;
    ASSERT_EQ(executor_->Execute(wide, sqlOnly, fromSql, error), S_OK) << error;
    ASSERT_EQ(fromCache.Rows(), fromSql.Rows()) << wide;
    // Both work the rank out from the hits and the rows' lengths; with a row limit the
    // catalog sorts, and SQLite's own bm25() ranks. The ranks must be the same.
    QueryOptions sqlRanked = sqlOnly;
    sqlRanked.maxRows = 1000;
    ResultSet bySqlite;
    ASSERT_EQ(executor_->Execute(wide, sqlRanked, bySqlite, error), S_OK) << error;
    ASSERT_EQ(bySqlite.RowCount(), fromSql.RowCount()) << wide;
    std::map<std::string, std::int64_t> ranks, sqliteRanks;
    for (const auto& r : fromSql.Rows()) ranks[r[0].s] = r[1].i;
    for (const auto& r : bySqlite.Rows()) sqliteRanks[r[0].s] = r[1].i;
    ASSERT_EQ(ranks, sqliteRanks) << wide;
  }
  EXPECT_GT(nonEmpty, 100);  // the generator must not only make empty answers
  EXPECT_GT(large, 30);       // nor only small ones
  // Every one of these queries can be answered from the cache, twice per round; only the
  // very first runs as SQL (the catalog had not yet stood still between two queries).
  EXPECT_EQ(executor_->cachedTables(), 599u);
}

}  // namespace
}  // namespace qv::platform::indexing
