// The property cache behind the query executor: what it answers must follow the index as the
// indexer changes it, and match the SQL form wherever the cache cannot answer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "context/context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/fts_rank.h"
#include "platform/indexing/property_snapshot_format.h"
#include "platform/indexing/query_executor.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRanking = "48CA09C3-119B-8534-9A91-87848040E351";
const std::string kPreamble =
    "SET PROPERTYNAME '48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x6 AS kivVisits TYPE "
    "DBTYPE_UI4; ";

class PropertyCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("qv-pcache-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    install_ = std::make_unique<Installation>(root_);
    admin_ = std::make_unique<CatalogAdmin>(install_->context().registry, root_);
    ASSERT_EQ(admin_->AddCatalog("System", root_ / "cat"), S_OK);
    auto& reg = install_->context().registry;
    reg.SetValue(Hive::LocalMachine, PropertiesKey("System"), std::string(kRanking) + " 6",
                 RegValue::Sz("19,4,0,1"));
    reg.SetValue(Hive::LocalMachine, PropertiesKey("System"), std::string(kRanking) + " 8",
                 RegValue::Sz("7,8,0,1"));
    std::vector<CachedProperty> props;
    ASSERT_EQ(admin_->GetCachedProperties("System", props), S_OK);
    ASSERT_EQ(CatalogDb::Open(root_ / "cat", props, writer_), S_OK);
    executor_ = std::make_unique<QueryExecutor>(*admin_);
  }
  void TearDown() override {
    executor_.reset();
    writer_.reset();
    fs::remove_all(root_);
  }

  // Writes a document as the indexer would, in its own transaction.
  void Put(const std::string& path, const std::string& text, std::optional<std::uint32_t> visits,
           DocState state = DocState::Filtered, std::optional<double> lastVisit = {}) {
    Transaction tx(writer_->db());
    FileStat st;
    st.path = path;
    st.write = 38000.0;
    DocState was;
    ASSERT_EQ(writer_->NoteFile(st, 1, was), S_OK);
    std::int64_t id = 0;
    ASSERT_EQ(writer_->FindDocument(path, id, was), S_OK);
    if (state != DocState::NeedsFilter) {
      DocContent c;
      c.contents = text;
      if (visits) c.props.emplace_back("{" + std::string(kRanking) + "} 6", PropVariant::UI4(*visits));
      if (lastVisit) {
        c.props.emplace_back("{" + std::string(kRanking) + "} 8", PropVariant::Date(*lastVisit));
      }
      ASSERT_EQ(writer_->StoreDocument(id, c, state), S_OK);
    }
    ASSERT_EQ(tx.Commit(), S_OK);
  }

  std::vector<std::string> Run(const std::string& rest, QueryOptions opt = {}) {
    ResultSet rs;
    std::string error;
    EXPECT_EQ(executor_->Execute(kPreamble + rest, opt, rs, error), S_OK) << error;
    std::vector<std::string> out;
    for (const auto& row : rs.Rows()) {
      std::string line;
      for (const auto& v : row) line += v.ToString() + "|";
      out.push_back(line);
    }
    return out;
  }

  // The same text through the cache and through SQL must give the same rows.
  std::vector<std::string> Both(const std::string& rest, std::size_t maxRows = 0) {
    QueryOptions cached, sql;
    cached.maxRows = sql.maxRows = maxRows;
    sql.propertyCache = false;
    const auto a = Run(rest, cached);
    EXPECT_EQ(a, Run(rest, sql)) << rest;
    return a;
  }

  // Edits a snapshot of two rows in place: `edit` gets their first values and their places
  // in path order.
  template <typename Edit>
  static void EditRowTables(const fs::path& file, Edit edit) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), {});
    snapshot::SnapshotHeader h;
    std::memcpy(&h, bytes.data(), sizeof h);
    ASSERT_EQ(h.rows, 2u);
    std::size_t at = snapshot::kHeaderSize;
    for (std::uint64_t c = 0; c < h.columns; ++c) {
      std::uint32_t n = 0;
      std::memcpy(&n, bytes.data() + at, sizeof n);
      at += sizeof n + n + 1;
    }
    at = (at + 7) / 8 * 8 + h.rows * 8 * 3;  // past the ids, the lengths and the present bits
    std::uint32_t first[2], places[2];
    std::memcpy(first, bytes.data() + at, sizeof first);
    std::memcpy(places, bytes.data() + at + 8, sizeof places);  // each table padded to 8
    edit(first, places);
    std::memcpy(bytes.data() + at, first, sizeof first);
    std::memcpy(bytes.data() + at + 8, places, sizeof places);
    f.seekp(0);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  fs::path root_;
  std::unique_ptr<Installation> install_;
  std::unique_ptr<CatalogAdmin> admin_;
  std::unique_ptr<CatalogDb> writer_;
  std::unique_ptr<QueryExecutor> executor_;
};

// More rows than the first screenfuls that are put in order at once: a reader that goes on
// to the end gets them in the order SQL gives, ties and all.
TEST_F(PropertyCacheTest, ManyRowsComeInTheOrderSqlGives) {
  for (int i = 0; i < 700; ++i) {
    std::string text = "budget";
    for (int k = 0; k < i % 5; ++k) text += " budget filler";
    Put("/h/" + std::to_string(i * 7919 % 1000) + ".txt", text,
        i % 3 ? std::optional<std::uint32_t>(i % 7) : std::nullopt);
  }
  const std::string q = "SELECT Path, kivVisits, rank FROM System..Scope() WHERE "
                        "CONTAINS(ALL,'\"budget\"') ORDER BY kivVisits DESC, rank DESC";
  // Each row after the one before it: visits down (none last), then rank down, then path.
  auto inOrder = [](const std::vector<std::string>& rows) {
    struct Key {
      long visits;
      long rank;
      std::string path;
    };
    std::vector<Key> keys;
    for (const auto& r : rows) {
      const auto a = r.find('|'), b = r.find('|', a + 1), c = r.find('|', b + 1);
      const std::string v = r.substr(a + 1, b - a - 1);
      keys.push_back({v.empty() || v == "NULL" ? -1 : std::stol(v),
                      std::stol(r.substr(b + 1, c - b - 1)), r.substr(0, a)});
    }
    for (std::size_t i = 1; i < keys.size(); ++i) {
      const Key& x = keys[i - 1];
      const Key& y = keys[i];
      if (std::tie(y.visits, y.rank) > std::tie(x.visits, x.rank)) return false;
      if (std::tie(y.visits, y.rank) == std::tie(x.visits, x.rank) && y.path < x.path) return false;
    }
    return true;
  };
  const auto first = Both(q);
  EXPECT_EQ(first.size(), 700u);
  EXPECT_TRUE(inOrder(first));
  const std::size_t before = executor_->cachedTables();
  const auto cached = Both(q);
  EXPECT_EQ(executor_->cachedTables(), before + 1);  // the second time from the cache
  EXPECT_EQ(cached, first);
}

// The first rows of a large answer are picked by a quick look where a row lacks the first
// key and loses on the rank; rows that have the first key, or a last kept row that has it,
// must still be read in full. The first key is sparse, then dense and ascending.
TEST_F(PropertyCacheTest, FirstRowsFollowASparseOrDenseFirstKey) {
  constexpr int kDocs = 400;  // more than the first rows put in order at once
  auto text = [](int i) {
    std::string t = "budget";
    for (int k = 0; i % 5 != 0 && k < 2 + i % 3; ++k) t += " budget";
    return t;
  };
  // Fewer than half the documents hold the word, so that its rows rank by their hits.
  for (int i = 0; i <= kDocs; ++i) Put("/o/" + std::to_string(i) + ".txt", "memo", std::nullopt);
  // Only every 50th document has visits: those have the lowest rank, and most come after the
  // first rows in id order.
  for (int i = 0; i < kDocs; ++i) {
    Put("/h/" + std::to_string(i) + ".txt", text(i),
        i % 50 == 0 ? std::optional<std::uint32_t>(1 + i / 50) : std::nullopt);
  }
  const std::string sparse = "SELECT Path, kivVisits, rank FROM System..Scope() WHERE "
                             "CONTAINS(ALL,'\"budget\"') ORDER BY kivVisits DESC, rank DESC";
  Both(sparse);
  std::size_t before = executor_->cachedTables();
  const auto first = Both(sparse);
  EXPECT_EQ(executor_->cachedTables(), before + 1);
  ASSERT_EQ(first.size(), static_cast<std::size_t>(kDocs));
  EXPECT_EQ(first[0].substr(0, first[0].find('|')), "/h/350.txt");  // the most visits
  EXPECT_EQ(first[7].substr(0, first[7].find('|')), "/h/0.txt");

  // Now all but every 50th have visits, and the rows without come first in ascending order.
  for (int i = 0; i < kDocs; ++i) {
    Put("/h/" + std::to_string(i) + ".txt", text(i),
        i % 50 == 0 ? std::nullopt : std::optional<std::uint32_t>(1 + i % 3));
  }
  const std::string dense = "SELECT Path, kivVisits, rank FROM System..Scope() WHERE "
                            "CONTAINS(ALL,'\"budget\"') ORDER BY kivVisits ASC, rank DESC";
  Both(dense);
  before = executor_->cachedTables();
  const auto ascending = Both(dense);
  EXPECT_EQ(executor_->cachedTables(), before + 1);
  ASSERT_EQ(ascending.size(), static_cast<std::size_t>(kDocs));
  for (int i = 0; i < 8; ++i) {
    EXPECT_NE(ascending[i].find("|NULL|"), std::string::npos) << i << ": " << ascending[i];
  }
  EXPECT_EQ(ascending[8].find("|NULL|"), std::string::npos) << ascending[8];
}

TEST_F(PropertyCacheTest, FollowsTheIndexerAsItCommits) {
  Put("/h/a.txt", "budget plan", 3);
  Put("/h/b.txt", "budget", std::nullopt);
  const std::string q = "SELECT Path, kivVisits FROM System..Scope() WHERE CONTAINS (ALL,'\"budget\"') "
                        "ORDER BY kivVisits DESC";
  EXPECT_EQ(Both(q).size(), 2u);
  const std::size_t before = executor_->cachedTables();
  EXPECT_EQ(Run(q).front(), "/h/a.txt|3|");
  EXPECT_EQ(executor_->cachedTables(), before + 1);  // answered from the cache

  // The indexer changes the catalog while the cache holds it: the next query must not
  // answer from the old snapshot, and the one after reloads it.

  // A new visit count, a new document, and a removed one: the next query sees all three.
  Put("/h/b.txt", "budget", 9);
  Put("/h/c.txt", "budget again", 1);
  std::int64_t removed = 0;
  ASSERT_EQ(writer_->RemovePath("/h/a.txt", removed), S_OK);
  EXPECT_EQ(Run(q), (std::vector<std::string>{"/h/b.txt|9|", "/h/c.txt|1|"}));
  EXPECT_EQ(Run(q), (std::vector<std::string>{"/h/b.txt|9|", "/h/c.txt|1|"}));
  EXPECT_EQ(executor_->cachedTables(), before + 2);
  EXPECT_EQ(Both(q).size(), 2u);
}

// A cache is loaded only when it can pay for itself: not for a one-off query, and not while
// the indexer keeps changing the catalog; the answers are the same either way.
TEST_F(PropertyCacheTest, LoadsOnlyForACatalogThatStoodStill) {
  Put("/h/a.txt", "memo", 1);
  const std::string q = "SELECT Path, kivVisits FROM System..Scope() ORDER BY Path";
  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|1|"});
  EXPECT_EQ(executor_->cachedTables(), 0u);  // the first query of a catalog: SQL
  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|1|"});
  EXPECT_EQ(executor_->cachedTables(), 1u);  // it stood still: cached from now on
  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|1|"});
  EXPECT_EQ(executor_->cachedTables(), 2u);
  Put("/h/a.txt", "memo", 2);
  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|2|"});
  EXPECT_EQ(executor_->cachedTables(), 2u);  // changed since: SQL, and no stale value
  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|2|"});
  EXPECT_EQ(executor_->cachedTables(), 3u);  // reloaded
}

// A process that searches on loads between queries the cache its last query went without,
// once the catalog has stood still since that query; nothing while nobody searches.
TEST_F(PropertyCacheTest, LoadsBetweenQueriesTheCacheTheLastQueryWanted) {
  Put("/h/a.txt", "memo", 1);
  const std::string q = "SELECT Path, kivVisits FROM System..Scope() ORDER BY Path";
  std::size_t loaded = 99;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(loaded, 0u);  // no query yet: no catalog open, nothing wanted

  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|1|"});
  EXPECT_EQ(executor_->cachedTables(), 0u);  // the first query: SQL
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(loaded, 1u);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(loaded, 0u);  // loaded once, not again
  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|1|"});
  EXPECT_EQ(executor_->cachedTables(), 1u);  // the second query from the loaded cache

  // The indexer commits: the next query runs as SQL and wants the cache again. A commit
  // between that query and the next look defers the load; the look after loads what the
  // catalog holds then, and the query after answers from it.
  Put("/h/a.txt", "memo", 2);
  EXPECT_EQ(Run(q), std::vector<std::string>{"/h/a.txt|2|"});
  EXPECT_EQ(executor_->cachedTables(), 1u);
  Put("/h/b.txt", "memo", 5);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(loaded, 0u);
  // A query before the next look runs as SQL too, rather than load the cache itself.
  EXPECT_EQ(Run(q), (std::vector<std::string>{"/h/a.txt|2|", "/h/b.txt|5|"}));
  EXPECT_EQ(executor_->cachedTables(), 1u);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(loaded, 1u);
  EXPECT_EQ(Run(q), (std::vector<std::string>{"/h/a.txt|2|", "/h/b.txt|5|"}));
  EXPECT_EQ(executor_->cachedTables(), 2u);

  // A commit after the load: the loaded cache is out of date, and is not used.
  Put("/h/b.txt", "memo", 6);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(loaded, 0u);  // no query wanted it since the load
  EXPECT_EQ(Run(q), (std::vector<std::string>{"/h/a.txt|2|", "/h/b.txt|6|"}));
  EXPECT_EQ(executor_->cachedTables(), 2u);
}

// What a query reads of the documents is counted by the catalog itself: every change to it
// by any writer, and nothing for a crawl that only sees a file again.
TEST_F(PropertyCacheTest, TheChangeStampCountsWhatAQueryReads) {
  auto stamp = [&] {
    ChangeStamp s;
    EXPECT_EQ(ReadChangeStamp(writer_->db(), s), S_OK);
    return s;
  };
  const ChangeStamp fresh = stamp();
  EXPECT_FALSE(fresh.empty());
  Put("/h/a.txt", "memo", 1);
  const ChangeStamp one = stamp();
  EXPECT_EQ(one.instance, fresh.instance);
  EXPECT_GT(one.changes, fresh.changes);
  // Seen again by a crawl, unchanged: the same stamp.
  FileStat st;
  st.path = "/h/a.txt";
  st.write = 38000.0;
  DocState was;
  ASSERT_EQ(writer_->NoteFile(st, 2, was), S_OK);
  EXPECT_EQ(stamp(), one);
  // A cached property alone, a removal: each a change.
  const std::pair<std::string, PropVariant> visits{"{" + std::string(kRanking) + "} 6",
                                                   PropVariant::UI4(4)};
  std::int64_t id = 0;
  ASSERT_EQ(writer_->FindDocument("/h/a.txt", id, was), S_OK);
  ASSERT_EQ(writer_->StoreProperties(id, std::span(&visits, 1)), S_OK);
  const ChangeStamp two = stamp();
  EXPECT_GT(two.changes, one.changes);
  std::int64_t removed = 0;
  ASSERT_EQ(writer_->RemovePath("/h/a.txt", removed), S_OK);
  EXPECT_GT(stamp().changes, two.changes);

  // Opened again with one more cached property: its column is counted too, and the catalog
  // stays the same one.
  writer_.reset();
  executor_.reset();
  install_->context().registry.SetValue(Hive::LocalMachine, PropertiesKey("System"),
                                        std::string(kRanking) + " 9", RegValue::Sz("19,4,0,1"));
  std::vector<CachedProperty> props;
  ASSERT_EQ(admin_->GetCachedProperties("System", props), S_OK);
  ASSERT_EQ(CatalogDb::Open(root_ / "cat", props, writer_), S_OK);
  const ChangeStamp reopened = stamp();
  EXPECT_EQ(reopened.instance, fresh.instance);
  Put("/h/b.txt", "memo", std::nullopt);
  ASSERT_EQ(writer_->FindDocument("/h/b.txt", id, was), S_OK);
  // Any writer: a statement that sets the new column alone.
  const PropColumn* column = writer_->ColumnOf("{" + std::string(kRanking) + "} 9");
  ASSERT_NE(column, nullptr);
  const ChangeStamp before = stamp();
  ASSERT_EQ(writer_->db().Exec("UPDATE docs SET " + column->column + " = 2 WHERE id = " +
                               std::to_string(id)),
            S_OK);
  EXPECT_GT(stamp().changes, before.changes);
}

// A process that loads a cache between queries keeps it in a file; another process whose
// catalog is in the same state answers its first query from that file, and one whose catalog
// changed since, or whose file is damaged, goes on as without one.
TEST_F(PropertyCacheTest, ASnapshotServesTheNextProcessOfTheSameState) {
  Put("/h/a.txt", "budget memo", 3);
  Put("/h/b.txt", "budget", std::nullopt);
  const std::string q = "SELECT Path, kivVisits FROM System..Scope() WHERE "
                        "CONTAINS(ALL,'\"budget\"') ORDER BY Path";
  const std::vector<std::string> answer{"/h/a.txt|3|", "/h/b.txt|NULL|"};
  const fs::path file = root_ / "cat" / "Catalog.wci" / "properties.snap";
  EXPECT_EQ(Run(q), answer);
  // What writers that died mid-write left: an old one goes, one that may be in progress stays.
  const fs::path died = file.parent_path() / ".properties.snap.Ab12Cd";
  const fs::path writing = file.parent_path() / ".properties.snap.Ef34Gh";
  std::ofstream(died) << "part";
  std::ofstream(writing) << "part";
  fs::last_write_time(died, fs::file_time_type::clock::now() - std::chrono::hours(1));
  std::size_t loaded = 0;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  ASSERT_EQ(loaded, 1u);
  ASSERT_TRUE(fs::exists(file));
  EXPECT_FALSE(fs::exists(died));
  EXPECT_TRUE(fs::exists(writing));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // Another process: its first query is answered from the file.
  auto firstQueryOfANewProcess = [&](const std::vector<std::string>& expected) {
    executor_ = std::make_unique<QueryExecutor>(*admin_);
    EXPECT_EQ(Run(q), expected);
    return executor_->cachedTables();
  };
  EXPECT_EQ(firstQueryOfANewProcess(answer), 1u);
  EXPECT_EQ(Both(q), answer);

  // The catalog changes: the file is of an older state, and is not used.
  Put("/h/b.txt", "budget", 5);
  const std::vector<std::string> changed{"/h/a.txt|3|", "/h/b.txt|5|"};
  EXPECT_EQ(firstQueryOfANewProcess(changed), 0u);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  ASSERT_EQ(loaded, 1u);
  EXPECT_EQ(firstQueryOfANewProcess(changed), 1u);

  // Damaged: cut short, or its row table pointing past the values. Passed over, and the
  // next load replaces it.
  const auto whole = fs::file_size(file);
  fs::resize_file(file, whole / 2);
  EXPECT_EQ(firstQueryOfANewProcess(changed), 0u);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(fs::file_size(file), whole);
  EXPECT_EQ(firstQueryOfANewProcess(changed), 1u);
  // The second row's first value placed far past the values there are; or both rows given
  // the same place in path order (a sort could not order them).
  std::uint32_t firstBefore = 0;
  EditRowTables(file, [&](std::uint32_t* first, std::uint32_t*) {
    firstBefore = first[1];
    first[1] = 1u << 30;
  });
  EXPECT_EQ(firstQueryOfANewProcess(changed), 0u);
  EditRowTables(file, [&](std::uint32_t* first, std::uint32_t* places) {
    first[1] = firstBefore;
    places[1] = places[0];
  });
  EXPECT_EQ(firstQueryOfANewProcess(changed), 0u);
  EditRowTables(file, [](std::uint32_t*, std::uint32_t* places) { places[1] = 1 - places[0]; });
  EXPECT_EQ(firstQueryOfANewProcess(changed), 1u);  // mended by hand: used again

  // Other cached properties than the file's (more, or as many of another name), another
  // catalog, or another database file in the catalog's place: not used either.
  std::shared_ptr<const PropertyCache> mapped;
  ChangeStamp stamp;
  ASSERT_EQ(ReadChangeStamp(writer_->db(), stamp), S_OK);
  struct stat st {};
  ASSERT_EQ(::stat((file.parent_path() / "index.db").c_str(), &st), 0);
  stamp.file = st.st_ino;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(PropertyCache::Open(file, stamp, writer_->columns(), 1, mapped), S_OK);
  std::vector<PropColumn> more = writer_->columns();
  more.push_back({"{x} 1", "p99", VT_UI4});
  EXPECT_EQ(PropertyCache::Open(file, stamp, more, 1, mapped), S_FALSE);
  std::vector<PropColumn> renamed = writer_->columns();
  renamed.back().column = "p98";
  EXPECT_EQ(PropertyCache::Open(file, stamp, renamed, 1, mapped), S_FALSE);
  ChangeStamp other = stamp;
  other.instance = "{another catalog}";
  EXPECT_EQ(PropertyCache::Open(file, other, writer_->columns(), 1, mapped), S_FALSE);
  other = stamp;
  ++other.file;
  EXPECT_EQ(PropertyCache::Open(file, other, writer_->columns(), 1, mapped), S_FALSE);

  // A snapshot that cannot be written is reported (here a folder holds its name).
  fs::remove(file);
  fs::create_directory(file);
  Put("/h/b.txt", "budget", 6);
  EXPECT_EQ(Run(q), (std::vector<std::string>{"/h/a.txt|3|", "/h/b.txt|6|"}));
  EXPECT_TRUE(Failed(executor_->LoadWantedCaches(loaded)));
  EXPECT_EQ(loaded, 1u);  // loaded all the same, and used
  const std::size_t cachedBefore = executor_->cachedTables();
  EXPECT_EQ(Run(q), (std::vector<std::string>{"/h/a.txt|3|", "/h/b.txt|6|"}));
  EXPECT_EQ(executor_->cachedTables(), cachedBefore + 1);
}

// A snapshot's places in path order come from a file: where its rows meet another source's,
// they are ordered by their paths' bytes, so that even places that disagree with the paths
// give one consistent order, the one SQL gives.
TEST_F(PropertyCacheTest, RowsOfASnapshotAndAnotherSourceOrderByTheirPaths) {
  Put("/h/a.txt", "memo", 1);
  Put("/h/b.txt", "memo", 1);
  const std::string q = "SELECT Path FROM (TABLE System..Scope() UNION ALL TABLE "
                        "System..SCOPE(' DEEP TRAVERSAL OF \"/h\" ')) ORDER BY kivVisits";
  const std::vector<std::string> answer{"/h/a.txt|", "/h/a.txt|", "/h/b.txt|", "/h/b.txt|"};
  EXPECT_EQ(Run(q), answer);
  std::size_t loaded = 0;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  const fs::path file = root_ / "cat" / "Catalog.wci" / "properties.snap";
  // The two rows' places swapped: still one place each, but against their paths.
  EditRowTables(file, [](std::uint32_t*, std::uint32_t* places) {
    ASSERT_EQ(places[0] + places[1], 1u);
    std::swap(places[0], places[1]);
  });
  executor_ = std::make_unique<QueryExecutor>(*admin_);
  EXPECT_EQ(Run(q), answer);
  EXPECT_EQ(executor_->cachedTables(), 2u);  // both tables from the snapshot
}

// The client's path exclusions, and the whole condition made of them, are matched against
// every row between searches and kept with the snapshot: the next process matches none of
// them again, and answers the same.
TEST_F(PropertyCacheTest, ASnapshotKeepsTheExclusionsMatchedForEveryRow) {
  Put("/h/a.txt", "budget", 1);
  Put("/h/Trash/b.txt", "budget", 1);
  Put("/h/c.txt", "budget memo", std::nullopt);
  const std::string q = "SELECT Path FROM System..Scope() WHERE CONTAINS(ALL,'\"budget\"') "
                        "AND Path NOT LIKE '%/trash/%' ORDER BY Path";
  const std::vector<std::string> answer{"/h/a.txt|", "/h/c.txt|"};
  const fs::path file = root_ / "cat" / "Catalog.wci" / "properties.snap";
  std::string bytes;
  snapshot::SnapshotHeader h;
  auto readSnapshot = [&] {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    std::memcpy(&h, bytes.data(), sizeof h);
  };
  // Where the results of the section whose key holds `needle` begin: after the key's
  // length and the key, padded to eight bytes.
  auto resultsOf = [&](std::string_view needle) {
    std::size_t at = bytes.find(needle);
    if (at == std::string::npos) return bytes.size();
    while (at > 0 && std::isdigit(static_cast<unsigned char>(bytes[at - 1]))) --at;
    std::uint32_t n = 0;
    std::memcpy(&n, bytes.data() + at - sizeof n, sizeof n);
    return (at + n + 7) / 8 * 8;
  };
  auto results = [&](std::string_view needle) {
    const std::size_t at = resultsOf(needle);
    return at + 3 <= bytes.size() ? bytes.substr(at, 3) : std::string();
  };
  // The first query runs as SQL, which matches no pattern here: the snapshot written after
  // it holds none.
  EXPECT_EQ(Run(q), answer);
  std::size_t loaded = 0;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  readSnapshot();
  EXPECT_EQ(h.likeResults, 0u);
  // A query on the cache matches the pattern for its own rows; the next look keeps it with
  // every row matched. The whole condition, asked once, is not kept yet; asked again, it is.
  EXPECT_EQ(Run(q), answer);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  EXPECT_EQ(loaded, 0u);
  readSnapshot();
  EXPECT_EQ(h.likeResults, 1u);
  ASSERT_EQ(h.rows, 3u);
  EXPECT_EQ(results(":%/trash/%"), std::string("\0\1\0", 3));
  EXPECT_EQ(Run(q), answer);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  readSnapshot();
  EXPECT_EQ(h.likeResults, 2u);
  EXPECT_EQ(results(":%/trash/%"), std::string("\0\1\0", 3));
  EXPECT_EQ(results("plan "), std::string("\1\0\1", 3));
  // Another condition asked once: its new pattern is kept, the condition itself not.
  const std::string once = "SELECT Path FROM System..Scope() WHERE CONTAINS(ALL,'\"budget\"') "
                           "AND Path NOT LIKE '%/trash/%' AND Path NOT LIKE '%/c.%' ORDER BY Path";
  EXPECT_EQ(Run(once), std::vector<std::string>{"/h/a.txt|"});
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  readSnapshot();
  EXPECT_EQ(h.likeResults, 3u);
  EXPECT_EQ(results(":%/c.%"), std::string("\0\0\1", 3));
  // After a change the patterns and the condition asked again are carried to the new
  // cache, whose rows are all matched when it is kept, though the query that wanted it ran
  // as SQL.
  Put("/h/c.txt", "budget memo", 2);
  EXPECT_EQ(Run(q), answer);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  ASSERT_EQ(loaded, 1u);
  readSnapshot();
  EXPECT_EQ(h.likeResults, 3u);
  EXPECT_EQ(results(":%/trash/%"), std::string("\0\1\0", 3));
  EXPECT_EQ(results("plan "), std::string("\1\0\1", 3));

  executor_ = std::make_unique<QueryExecutor>(*admin_);
  EXPECT_EQ(Run(q), answer);
  EXPECT_EQ(executor_->cachedTables(), 1u);
  EXPECT_EQ(Both(q), answer);

  // A process that mapped the snapshot keeps its condition kept, though it asked it only
  // once itself: carried to its next cache.
  executor_ = std::make_unique<QueryExecutor>(*admin_);
  EXPECT_EQ(Run(q), answer);
  EXPECT_EQ(executor_->cachedTables(), 1u);
  Put("/h/c.txt", "budget memo", 3);
  EXPECT_EQ(Run(q), answer);
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  ASSERT_EQ(loaded, 1u);
  readSnapshot();
  EXPECT_EQ(results("plan "), std::string("\1\0\1", 3));

  // A result that is none of the four values: the snapshot is refused, the answer the same.
  bytes[resultsOf("plan ") + 1] = 7;
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  executor_ = std::make_unique<QueryExecutor>(*admin_);
  EXPECT_EQ(Run(q), answer);
  EXPECT_EQ(executor_->cachedTables(), 0u);
}

// The results kept with a snapshot are checked eight bytes at a time: every byte of a word
// counts, a pattern's result may be "no value" (2), a whole condition's may not.
TEST_F(PropertyCacheTest, EveryByteOfTheKeptResultsIsChecked) {
  for (int i = 0; i < 12; ++i) {
    Put("/h/" + std::string(i % 3 == 0 ? "Trash/" : "") + std::to_string(i) + ".txt", "budget", 1);
  }
  const std::string q = "SELECT Path FROM System..Scope() WHERE CONTAINS(ALL,'\"budget\"') "
                        "AND Path NOT LIKE '%/trash/%' ORDER BY Path";
  const std::vector<std::string> answer = Run(q);
  ASSERT_EQ(answer.size(), 8u);
  std::size_t loaded = 0;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Run(q), answer);
    ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  }
  const fs::path file = root_ / "cat" / "Catalog.wci" / "properties.snap";
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string good = bytes;
  auto sectionOf = [&](std::string_view needle) {
    std::size_t at = good.find(needle);
    while (at > 0 && std::isdigit(static_cast<unsigned char>(good[at - 1]))) --at;
    std::uint32_t n = 0;
    std::memcpy(&n, good.data() + at - sizeof n, sizeof n);
    return (at + n + 7) / 8 * 8;
  };
  const std::size_t pattern = sectionOf(":%/trash/%"), condition = sectionOf("plan ");
  ASSERT_EQ(good.substr(pattern, 12), std::string("\1\0\0\1\0\0\1\0\0\1\0\0", 12));
  auto firstQueryWith = [&](std::size_t at, char value) {
    bytes = good;
    bytes[at] = value;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    executor_ = std::make_unique<QueryExecutor>(*admin_);
    EXPECT_EQ(Run(q), answer);
    return executor_->cachedTables();
  };
  EXPECT_EQ(firstQueryWith(pattern + 2, 0), 1u);  // as written: used
  for (const std::size_t at : {pattern, pattern + 5, pattern + 7, condition + 3}) {
    for (const char bad : {'\x03', '\x7f', '\x80', '\xfe'}) {
      EXPECT_EQ(firstQueryWith(at, bad), 0u) << at << " " << int(bad);
    }
  }
  EXPECT_EQ(firstQueryWith(pattern + 6, 2), 1u);     // a pattern's "no value"
  EXPECT_EQ(firstQueryWith(condition + 6, 2), 0u);   // a condition is true or false
  EXPECT_EQ(firstQueryWith(condition + 9, -1), 1u);  // not known yet: worked out
}

// Of the conditions asked more than once, the snapshot keeps the four asked most (ties by
// their text): each costs a pass over every row and a byte per row.
TEST_F(PropertyCacheTest, ASnapshotKeepsTheFourConditionsAskedMost) {
  Put("/h/a.txt", "budget", 1);
  Put("/h/x3/b.txt", "budget", 1);
  auto q = [](int n) {
    return "SELECT Path FROM System..Scope() WHERE CONTAINS(ALL,'\"budget\"') AND Path NOT "
           "LIKE '%/x" + std::to_string(n) + "/%' ORDER BY Path";
  };
  EXPECT_EQ(Run(q(1)).size(), 2u);  // as SQL: the cache is loaded after it
  std::size_t loaded = 0;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  // Asked 5, 4, 3, 2 and 2 times; the last two tie.
  const std::vector<std::pair<int, int>> asks{{1, 5}, {2, 4}, {3, 3}, {4, 2}, {5, 2}};
  for (const auto& [n, times] : asks) {
    for (int i = 0; i < times; ++i) EXPECT_EQ(Run(q(n)).size(), n == 3 ? 1u : 2u);
  }
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  std::string bytes;
  {
    std::ifstream in(root_ / "cat" / "Catalog.wci" / "properties.snap", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto has = [&](std::string_view s) { return bytes.find(s) != std::string::npos; };
  std::size_t plans = 0;
  for (auto at = bytes.find("plan "); at != std::string::npos; at = bytes.find("plan ", at + 1)) {
    ++plans;
  }
  EXPECT_EQ(plans, 4u);
  for (int n = 1; n <= 5; ++n) {
    EXPECT_EQ(has("s6:%/x" + std::to_string(n) + "/%"), n != 5) << n;  // the condition's text
  }
}

// A process's first query of a word found in few documents costs less through SQL than
// mapping a snapshot and checking it; a word found in many is answered from the snapshot.
TEST_F(PropertyCacheTest, ASnapshotIsMappedForAWordOfManyMatches) {
  for (int i = 0; i < 250; ++i) Put("/h/" + std::to_string(i) + ".txt", "common words", 1);
  Put("/h/rare.txt", "common rare", 2);
  auto q = [](std::string_view word) {
    return "SELECT Path FROM System..Scope() WHERE CONTAINS(ALL,'\"" + std::string(word) +
           "\"') ORDER BY Path";
  };
  EXPECT_EQ(Run(q("rare")), std::vector<std::string>{"/h/rare.txt|"});
  std::size_t loaded = 0;
  ASSERT_EQ(executor_->LoadWantedCaches(loaded), S_OK);
  ASSERT_EQ(loaded, 1u);
  executor_ = std::make_unique<QueryExecutor>(*admin_);
  EXPECT_EQ(Run(q("rare")), std::vector<std::string>{"/h/rare.txt|"});
  EXPECT_EQ(executor_->cachedTables(), 0u);
  executor_ = std::make_unique<QueryExecutor>(*admin_);
  EXPECT_EQ(Run(q("common")).size(), 251u);
  EXPECT_EQ(executor_->cachedTables(), 1u);
  // Mapped once, the snapshot answers every later query of the process, small or not.
  EXPECT_EQ(Run(q("rare")), std::vector<std::string>{"/h/rare.txt|"});
  EXPECT_EQ(executor_->cachedTables(), 2u);
}

TEST_F(PropertyCacheTest, DocumentsWaitingForTheFilterAreNotAnswers) {
  Put("/h/ready.txt", "memo", 1);
  Put("/h/waiting.txt", "", std::nullopt, DocState::NeedsFilter);
  EXPECT_EQ(Both("SELECT Path FROM System..Scope() ORDER BY Path"),
            (std::vector<std::string>{"/h/ready.txt|"}));
}

TEST_F(PropertyCacheTest, OneCatalogTwiceInAUnionAndRowLimits) {
  for (int i = 0; i < 12; ++i) {
    Put("/h/d" + std::to_string(i) + ".txt", i % 2 ? "alpha beta" : "alpha", i % 4);
  }
  const std::string twice =
      "SELECT Path, rank, kivVisits FROM (TABLE System..Scope() UNION ALL TABLE "
      "System..SCOPE(' DEEP TRAVERSAL OF \"/h\" ')) WHERE CONTAINS (ALL,'\"alpha\"') "
      "ORDER BY kivVisits DESC, rank DESC";
  EXPECT_EQ(Both(twice).size(), 24u);
  EXPECT_EQ(Both(twice, 5).size(), 5u);
  // A limit keeps the best rows of the whole order, not the first ones read.
  const auto top = Both("SELECT Path, kivVisits FROM System..Scope() ORDER BY kivVisits DESC", 3);
  for (const auto& row : top) EXPECT_NE(row.find("|3|"), std::string::npos) << row;
}

// Each faulted once while the cache was new: a commit between two reads of one catalog in
// a UNION, a row limit without an order, a limit over values that read differently as
// their declared type, and more LIKE patterns than the cache keeps results for.
TEST_F(PropertyCacheTest, LimitsUnionsAfterCommitsAndManyPatterns) {
  Put("/h/b.txt", "alpha", 1, DocState::Filtered, 2.5);
  Put("/h/a.txt", "alpha", 2, DocState::Filtered, 2.7);
  Put("/h/c.txt", "alpha", 3, DocState::Filtered, 1.0);
  const std::string twice =
      "SELECT Path, kivVisits FROM (TABLE System..Scope() UNION ALL TABLE "
      "System..SCOPE(' DEEP TRAVERSAL OF \"/h\" ')) ORDER BY kivVisits DESC";
  Run(twice);
  Run(twice);  // loaded
  Put("/h/a.txt", "alpha", 7);
  EXPECT_EQ(Both(twice).front(), "/h/a.txt|7|");

  // No order: a limit keeps the first rows by path, read either way.
  EXPECT_EQ(Both("SELECT Path FROM System..Scope()", 2),
            (std::vector<std::string>{"/h/a.txt|", "/h/b.txt|"}));
  // Dates read as integers: 2.5 and 2.7 are both 2 as the type, but SQLite orders the stored
  // values; with a limit the cache must not pick its own top row.
  const std::string asInt =
      "SET PROPERTYNAME '48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x8 AS lvInt TYPE "
      "DBTYPE_I4; SELECT Path, lvInt FROM System..Scope() ORDER BY lvInt DESC";
  Put("/h/a.txt", "alpha", 7, DocState::Filtered, 2.7);
  Run(asInt);
  EXPECT_EQ(Both(asInt, 1).size(), 1u);

  // Forty patterns, over several queries and then in one.
  std::string all = "SELECT Path FROM System..Scope() WHERE path NOT LIKE '/x0/%'";
  for (int i = 0; i < 40; ++i) {
    const std::string p = "path NOT LIKE '/h/" + std::to_string(i) + "%'";
    EXPECT_EQ(Both("SELECT Path FROM System..Scope() WHERE " + p + " AND path NOT LIKE '%c%'")
                  .size(),
              2u);
    all += " AND " + p;
  }
  EXPECT_EQ(Both(all).size(), 3u);
  EXPECT_EQ(Both(all).size(), 3u);
}

TEST_F(PropertyCacheTest, ConditionsOnTheRankRunAsSql) {
  Put("/h/a.txt", "budget budget budget", 1);
  Put("/h/b.txt", "budget and many other words that make the text long", 1);
  const std::size_t before = executor_->cachedTables();
  const auto rows = Both("SELECT Path, rank FROM System..Scope() WHERE CONTAINS (ALL,'\"budget\"') "
                         "AND rank > 0 ORDER BY rank DESC");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].substr(0, 9), "/h/a.txt|");
  EXPECT_EQ(executor_->cachedTables(), before);  // neither run took the cache
}

}  // namespace
}  // namespace qv::platform::indexing

namespace qv::platform::indexing {
namespace {

// A row's length comes from its docsize blob, which a damaged index may hold anything in.
TEST(DocsizeTokens, SumsVarintsAndSurvivesDamage) {
  auto tokens = [](std::initializer_list<std::uint8_t> b) {
    const std::vector<std::uint8_t> v(b);
    return DocsizeTokens(v);
  };
  EXPECT_EQ(tokens({}), 0);
  EXPECT_EQ(tokens({3, 0x81, 0x00, 5}), 3 + 128 + 5);
  EXPECT_EQ(tokens({7, 0x81}), 7);  // cut short: the whole varints count
  // Nine bytes give all 64 bits; sums that would pass the largest count stop there.
  const std::initializer_list<std::uint8_t> huge = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                    0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(tokens(huge), INT64_MAX);
  std::vector<std::uint8_t> twice(huge);
  twice.insert(twice.end(), huge.begin(), huge.end());
  twice.push_back(1);
  EXPECT_EQ(DocsizeTokens(twice), INT64_MAX);
}

}  // namespace
}  // namespace qv::platform::indexing
