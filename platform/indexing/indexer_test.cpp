#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "context/context.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/document_reader.h"
#include "platform/indexing/indexer.h"
#include "platform/indexing/query_executor.h"
#include "platform/indexing/regular_file.h"
#include "platform/indexing/test_tools.h"
#include "platform/propset/property_store.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;

const Guid kRankingSet = *ParseGuid("{48CA09C3-119B-8534-9A91-87848040E351}");

// Root reads every folder whatever its mode; without these two capabilities the thread meets
// folder permissions as any user does. Restored when the guard goes.
class WithoutReadOverride {
 public:
  WithoutReadOverride() {
    ok_ = syscall(SYS_capget, &header_, saved_) == 0;
    if (!ok_) return;
    __user_cap_data_struct reduced[2];
    std::memcpy(reduced, saved_, sizeof reduced);
    for (const int bit : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
      reduced[bit / 32].effective &= ~(1u << (bit % 32));
    }
    ok_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutReadOverride() {
    if (ok_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutReadOverride(const WithoutReadOverride&) = delete;
  WithoutReadOverride& operator=(const WithoutReadOverride&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool ok_ = false;
};


TEST(Filters, HtmlXmlAndTextExtraction) {
  const auto html = ExtractHtml(
      "<html><head><title> Budget\n Plan </title><style>p{x:1}</style>"
      "<script>var hidden=1;</script></head><body><!-- not this --><p>caf&eacute; &amp; "
      "&#x20AC;5 &lt;tag&gt;</p>one<br>two &bogus; &</body></html>");
  EXPECT_EQ(html.title, "Budget  Plan");
  EXPECT_NE(html.text.find("caf\xC3\xA9 & \xE2\x82\xAC" "5 <tag>"), std::string::npos);
  EXPECT_EQ(html.text.find("hidden"), std::string::npos);
  EXPECT_EQ(html.text.find("not this"), std::string::npos);
  EXPECT_EQ(html.text.find("x:1"), std::string::npos);
  EXPECT_NE(html.text.find("one two"), std::string::npos);  // a tag separates words
  EXPECT_NE(html.text.find("&bogus; &"), std::string::npos);
  // A Latin-1 page says so in its meta tag.
  const auto latin = ExtractHtml(
      "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=iso-8859-1\">caf\xE9");
  EXPECT_NE(latin.text.find("caf\xC3\xA9"), std::string::npos);
  // Broken markup never reads past the end.
  EXPECT_EQ(ExtractHtml("<p>text<scr").text, "text");
  EXPECT_EQ(ExtractHtml("<script>never closed").text, "");

  const auto xml = ExtractXml(
      "<?xml version=\"1.0\"?><!DOCTYPE r><r a=\"attr\"><x>invoice &amp; co</x><!-- c -->"
      "<![CDATA[<raw> text]]></r>");
  EXPECT_NE(xml.text.find("invoice & co"), std::string::npos);
  EXPECT_NE(xml.text.find("<raw> text"), std::string::npos);
  EXPECT_EQ(xml.text.find("attr"), std::string::npos);
  EXPECT_EQ(xml.text.find(" c "), std::string::npos);

  EXPECT_EQ(DecodeText("\xEF\xBB\xBFplain"), "plain");
  EXPECT_EQ(DecodeText(std::string("\xFF\xFEh\0i\0", 6)), "hi");
  EXPECT_EQ(DecodeText(std::string("\xFE\xFF\0h\0i", 6)), "hi");
  EXPECT_EQ(DecodeText("na\xEFve \x80"), "na\xC3\xAFve \xE2\x82\xAC");  // Windows-1252
}

class IndexerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qv-indexer-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    docs_ = root_ / "docs";
    fs::create_directories(docs_);
    install_ = std::make_unique<Installation>(root_);
    RegisterBuiltinFilterClasses(ctx().classes);
    ASSERT_EQ(RegisterBuiltinFilterExtensions(ctx().registry), S_OK);
    admin_ = std::make_unique<CatalogAdmin>(ctx().registry, root_);
    ASSERT_EQ(admin_->AddCatalog("QuillonTest", root_ / "catalog"), S_OK);
    ASSERT_EQ(admin_->AddScope("QuillonTest", docs_.string(), false), S_OK);
    for (auto [id, data] : {std::pair{"6", "19,4,0,1"}, {"8", "7,8,0,1"}, {"2", "72,16,1,1"}}) {
      ctx().registry.SetValue(Hive::LocalMachine, PropertiesKey("QuillonTest"),
                              std::string("48CA09C3-119B-8534-9A91-87848040E351 ") + id,
                              RegValue::Sz(data));
    }
  }
  void TearDown() override { fs::remove_all(root_); }
  Context& ctx() { return install_->context(); }

  void Write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }

  std::unique_ptr<CatalogIndexer> Indexer(IndexerOptions o = {}) {
    auto ix = std::make_unique<CatalogIndexer>(ctx(), *admin_, "QuillonTest", std::move(o));
    EXPECT_EQ(ix->Open(), S_OK);
    return ix;
  }

  std::vector<std::string> Query(const std::string& where, const std::string& cols = "Path") {
    QueryExecutor exec(*admin_);
    ResultSet rs;
    std::string error;
    const std::string text =
        "SET PROPERTYNAME '48CA09C3-119B-8534-9A91-87848040E351' PROPID 0x6 AS kivVisits TYPE "
        "DBTYPE_UI4; SELECT " + cols + " FROM QuillonTest..Scope() " + where + " ORDER BY Path";
    EXPECT_EQ(exec.Execute(text, {}, rs, error), S_OK) << error;
    std::vector<std::string> out;
    for (const auto& r : rs.Rows()) {
      std::string line;
      for (const auto& v : r) line += (line.empty() ? "" : "|") + v.ToString();
      out.push_back(line);
    }
    return out;
  }

  void SetVisits(const fs::path& file, std::uint32_t visits) {
    std::unique_ptr<PropertyStorage> st;
    ASSERT_EQ(PropertyStorage::Open(file, PropertyStorage::Mode::ReadWriteExclusive, st), S_OK);
    PropertySet set;
    set.fmtid = kRankingSet;
    set.clsid = kRankingSet;
    set.values[6] = PropVariant::UI4(visits);
    set.values[8] = PropVariant::Date(38000.5);
    set.values[3] = PropVariant::I4(-1);  // mistyped for a UI4 column: not cached
    ASSERT_EQ(st->Write(set), S_OK);
  }

  fs::path root_, docs_;
  std::unique_ptr<Installation> install_;
  std::unique_ptr<CatalogAdmin> admin_;
};

TEST_F(IndexerTest, CrawlFiltersFollowsChangesAndKeepsOutWhatItMust) {
  Write(docs_ / "a.txt", "alpha budget");
  Write(docs_ / "page.html", "<title>Quarterly</title><p>report alpha</p>");
  Write(docs_ / "data.xml", "<r>invoice</r>");
  Write(docs_ / "notes.unknownext", "plain words in an unregistered file");
  Write(docs_ / "blob.bin", std::string("\0\x01\x02 alpha", 9));
  Write(docs_ / "skip" / "secret.txt", "alpha");
  Write(docs_ / "Catalog.wci" / "x.txt", "alpha");
  Write(root_ / "outside" / "o.txt", "alpha");
  fs::create_directory_symlink(root_ / "outside", docs_ / "link");
  ASSERT_EQ(admin_->AddScope("QuillonTest", (docs_ / "skip").string(), true), S_OK);
  SetVisits(docs_ / "a.txt", 4);

  auto ix = Indexer();
  ASSERT_EQ(ix->Crawl(), S_OK);
  const std::string d = docs_.string();
  EXPECT_EQ(Query(""), (std::vector<std::string>{d + "/a.txt", d + "/blob.bin", d + "/data.xml",
                                                 d + "/notes.unknownext", d + "/page.html"}));
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"alpha\"')"),
            (std::vector<std::string>{d + "/a.txt", d + "/page.html"}));
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"invoice\" OR \"unregistered\"')").size(), 2u);
  EXPECT_EQ(Query("WHERE CONTAINS(CONTENTS, '\"quarterly\"')").size(), 0u);  // title only
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"quarterly\"')", "DocTitle"),
            std::vector<std::string>{"Quarterly"});
  EXPECT_EQ(Query("WHERE kivVisits = 4"), std::vector<std::string>{d + "/a.txt"});

  // A new ranking record changes only the attributes: the properties are read again.
  SetVisits(docs_ / "a.txt", 9);
  // A changed file is filtered again; a deleted one leaves the index.
  Write(docs_ / "page.html", "<p>gamma</p>");
  fs::remove(docs_ / "data.xml");
  ASSERT_EQ(ix->Crawl(), S_OK);
  EXPECT_EQ(Query("WHERE kivVisits = 9"), std::vector<std::string>{d + "/a.txt"});
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"alpha\"')"), std::vector<std::string>{d + "/a.txt"});
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"gamma\"')"), std::vector<std::string>{d + "/page.html"});
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"invoice\"')").size(), 0u);

  // Refresh: what the watcher calls for one path.
  Write(docs_ / "new" / "n.txt", "delta");
  ASSERT_EQ(ix->Refresh((docs_ / "new").string()), S_OK);
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"delta\"')").size(), 1u);
  fs::remove_all(docs_ / "new");
  ASSERT_EQ(ix->Refresh((docs_ / "new").string()), S_OK);
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"delta\"')").size(), 0u);
  EXPECT_EQ(ix->Refresh((root_ / "outside" / "o.txt").string()), S_FALSE);

  // A scope that is taken away takes its documents along at the next crawl.
  ASSERT_EQ(admin_->RemoveScope("QuillonTest", docs_.string()), S_OK);
  auto again = Indexer();
  ASSERT_EQ(again->Crawl(), S_OK);
  EXPECT_EQ(Query("").size(), 0u);
}

TEST_F(IndexerTest, ChunksComeOutAsTheProtocolSays) {
  Write(docs_ / "t.html", "<title>T</title>" + std::string(100, 'x'));
  DocumentReader reader(ctx().registry, ctx().classes, {});
  std::shared_ptr<Filter> f;
  ASSERT_EQ(reader.FindFilter(docs_ / "t.html", f), S_OK);
  EXPECT_EQ(f->GetClassID(), kHtmlFilterClsid);
  std::uint32_t flags = 0;
  EXPECT_EQ(f->Init(0, flags), E_FAIL);  // nothing loaded
  ASSERT_EQ(f->Load(docs_ / "t.html"), S_OK);
  ASSERT_EQ(f->Init(0, flags), S_OK);
  StatChunk c;
  ASSERT_EQ(f->GetChunk(c), S_OK);
  EXPECT_EQ(c.idChunk, 1u);
  EXPECT_EQ(c.flags, ChunkState::Text);
  std::string text;
  int pieces = 0;
  HRESULT hr;
  while ((hr = f->GetText(text, 40)) == S_OK) ++pieces;
  EXPECT_EQ(hr, FILTER_S_LAST_TEXT);
  EXPECT_EQ(pieces, 2);
  EXPECT_EQ(f->GetText(text, 40), FILTER_E_NO_MORE_TEXT);
  PropVariant v;
  EXPECT_EQ(f->GetValue(v), FILTER_E_NO_VALUES);
  ASSERT_EQ(f->GetChunk(c), S_OK);
  EXPECT_EQ(c.idChunk, 2u);
  EXPECT_EQ(c.flags, ChunkState::Value);
  ASSERT_EQ(f->GetValue(v), S_OK);
  EXPECT_EQ(v.str, "T");
  EXPECT_EQ(f->GetValue(v), FILTER_E_NO_VALUES);
  EXPECT_EQ(f->GetChunk(c), FILTER_E_END_OF_CHUNKS);
  // A file that cannot be read fails Init with FILTER_E_ACCESS.
  ASSERT_EQ(f->Load(docs_ / "missing.html"), S_OK);
  EXPECT_EQ(f->Init(0, flags), FILTER_E_ACCESS);
  // Without a registration a binary file has no filter.
  Write(docs_ / "b.dat", std::string("\0\0\0", 3));
  EXPECT_EQ(reader.FindFilter(docs_ / "b.dat", f), S_FALSE);
}

// A file swapped after the crawl saw it: a link must not be followed and a FIFO must not
// hang the filter. The reads run in a child that an alarm ends, so a hang fails the test.
TEST_F(IndexerTest, FiltersRefuseLinksAndFifosSwappedInForFiles) {
  Write(root_ / "outside" / "secret.txt", "outsideword");
  fs::create_symlink(root_ / "outside" / "secret.txt", docs_ / "swapped.txt");
  ASSERT_EQ(mkfifo((docs_ / "pipe.txt").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((docs_ / "pipe.bin").c_str(), 0600), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    alarm(20);
    DocumentReader reader(ctx().registry, ctx().classes, {});
    int failures = 0;
    for (const char* name : {"swapped.txt", "pipe.txt"}) {
      std::shared_ptr<Filter> f;
      if (reader.FindFilter(docs_ / name, f) != S_OK) _exit(10);
      std::uint32_t flags = 0;
      if (f->Load(docs_ / name) != S_OK || f->Init(0, flags) != FILTER_E_ACCESS) ++failures;
    }
    // Without a registered extension the reader sniffs the head: that read must not hang.
    std::shared_ptr<Filter> f;
    if (reader.FindFilter(docs_ / "pipe.bin", f) != S_FALSE) ++failures;
    DocContent content;
    if (reader.Read(docs_ / "swapped.txt", content) != FILTER_E_ACCESS ||
        content.contents.find("outsideword") != std::string::npos) {
      ++failures;
    }
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the filter hung on a FIFO or crashed";
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // A folder swapped for a link is not listed either.
  fs::create_directory_symlink(root_ / "outside", docs_ / "swapped-folder");
  EXPECT_EQ(OpenFolderNoFollow((docs_ / "swapped-folder").string()), nullptr);
  DIR* real = OpenFolderNoFollow(docs_.string());
  ASSERT_NE(real, nullptr);
  closedir(real);
}

TEST_F(IndexerTest, SecretsHiddenFilesAndTheInstallationRootStayOut) {
  Write(docs_ / ".ssh" / "id_rsa", "privatekeyword");
  Write(docs_ / ".hidden.txt", "hiddenword");
  Write(docs_ / "proj" / ".git" / "config", "gitword");
  Write(docs_ / "proj" / "main.txt", "projword");
  Write(docs_ / ".notes" / "todo.txt", "notesword");
  Write(docs_ / ".notes" / "profile" / ".mozilla" / "logins.json", "mozword");
  Write(docs_ / ".notes" / "work" / ".thunderbird" / "x.txt", "mailword");
  Write(root_ / "loose.txt", "rootword");
  // Scopes that name the secret folder, a hidden folder and the installation root itself.
  for (const fs::path& scope : {docs_ / ".ssh", docs_ / ".notes", root_}) {
    ASSERT_EQ(admin_->AddScope("QuillonTest", scope.string(), false), S_OK);
  }
  auto ix = Indexer();
  ASSERT_EQ(ix->Crawl(), S_OK);
  const std::string d = docs_.string();
  EXPECT_EQ(Query(""), (std::vector<std::string>{d + "/.notes/todo.txt", d + "/proj/main.txt"}));
  // What the watcher reports goes through the same rules.
  EXPECT_EQ(ix->Refresh((docs_ / ".ssh" / "id_rsa").string()), S_FALSE);
  EXPECT_EQ(ix->Refresh((docs_ / ".hidden.txt").string()), S_FALSE);
  EXPECT_EQ(ix->Refresh((root_ / "loose.txt").string()), S_FALSE);
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"rootword\" OR \"privatekeyword\" OR \"hiddenword\"')")
                .size(),
            0u);
}

TEST_F(IndexerTest, UnreadableFoldersAreToldNotPassedOverInSilence) {
  Write(docs_ / "open.txt", "openword");
  Write(docs_ / "locked" / "in.txt", "lockedword");
  const fs::path locked = docs_ / "locked";
  fs::permissions(locked, fs::perms::none);
  auto ix = Indexer();
  {
    WithoutReadOverride guard;
    if (DIR* probe = opendir(locked.c_str())) {
      closedir(probe);
      fs::permissions(locked, fs::perms::owner_all);
      GTEST_SKIP() << "this process reads folders whatever their mode";
    }
    ASSERT_EQ(ix->Crawl(), S_OK);
    ASSERT_EQ(ix->Crawl(), S_OK);  // found again: said once only
  }
  fs::permissions(locked, fs::perms::owner_all);

  CatalogProblems problems;
  ASSERT_EQ(admin_->GetProblems("QuillonTest", problems), S_OK);
  EXPECT_EQ(problems.unreadableTotal, 1);
  ASSERT_EQ(problems.unreadable.size(), 1u);
  EXPECT_EQ(problems.unreadable[0], locked.string() + "\t" + std::strerror(EACCES));
  int events = 0;
  for (const auto& e : ctx().eventLog.ReadAll()) {
    if (e.eventId != kEventFoldersUnreadable) continue;
    ++events;
    EXPECT_EQ(e.type, EventType::Warning);
    EXPECT_NE(std::find(e.strings.begin(), e.strings.end(), problems.unreadable[0]),
              e.strings.end());
  }
  EXPECT_EQ(events, 1);
  if (auto run = RunQvindex(root_, {"status"})) {
    EXPECT_EQ(run->exit, 0) << run->output;
    EXPECT_NE(run->output.find("incomplete"), std::string::npos) << run->output;
    EXPECT_NE(run->output.find(locked.string()), std::string::npos) << run->output;
    EXPECT_EQ(run->output.find("up to date"), std::string::npos) << run->output;
  }

  // Readable again: a rescan of the folder indexes it and the status is clean.
  ASSERT_EQ(ix->Rescan(locked.string(), false), S_OK);
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"lockedword\"')").size(), 1u);
  ASSERT_EQ(admin_->GetProblems("QuillonTest", problems), S_OK);
  EXPECT_FALSE(problems.any());
  if (auto run = RunQvindex(root_, {"status"})) {
    EXPECT_NE(run->output.find("up to date"), std::string::npos) << run->output;
  }
}

TEST_F(IndexerTest, RescanHonoursItsFolderAndItsFullFlag) {
  Write(docs_ / "a" / "1.txt", "one");
  Write(docs_ / "a" / "2.txt", "two");
  Write(docs_ / "b" / "3.txt", "three");
  std::int64_t filtered = -1;
  IndexerOptions o;
  o.progress = [&](const IndexProgress& p) {
    if (p.phase == "idle") filtered = p.filtered;
  };
  auto ix = Indexer(o);
  ASSERT_EQ(ix->Crawl(), S_OK);
  EXPECT_EQ(filtered, 3);
  const std::string d = docs_.string();

  // Only the folder is walked: a file gone from b stays until b is looked at.
  fs::remove(docs_ / "a" / "1.txt");
  fs::remove(docs_ / "b" / "3.txt");
  ASSERT_EQ(ix->Rescan(d + "/a", false), S_OK);
  EXPECT_EQ(filtered, 0);
  EXPECT_EQ(Query(""), (std::vector<std::string>{d + "/a/2.txt", d + "/b/3.txt"}));
  // Full: the folder's unchanged documents are filtered again.
  ASSERT_EQ(ix->Rescan(d + "/a/", true), S_OK);
  EXPECT_EQ(filtered, 1);
  ASSERT_EQ(ix->Rescan("", false), S_OK);
  EXPECT_EQ(filtered, 0);
  EXPECT_EQ(Query(""), std::vector<std::string>{d + "/a/2.txt"});
  Write(docs_ / "c" / "4.txt", "four");
  ASSERT_EQ(ix->Rescan("", true), S_OK);
  EXPECT_EQ(filtered, 2);
  EXPECT_EQ(ix->Rescan((root_ / "outside").string(), true), S_FALSE);

  // The same from the command line (the service does not run, so in the tool's process).
  if (auto run = RunQvindex(root_, {"rescan", "QuillonTest", d + "/a", "--full"})) {
    EXPECT_EQ(run->exit, 0) << run->output;
    EXPECT_NE(run->output.find("1 files seen, 1 filtered"), std::string::npos) << run->output;
  }
  if (auto run = RunQvindex(root_, {"rescan", "QuillonTest", d + "/c"})) {
    EXPECT_EQ(run->exit, 0) << run->output;
    EXPECT_NE(run->output.find("1 files seen, 0 filtered"), std::string::npos) << run->output;
  }
  if (auto run = RunQvindex(root_, {"rescan", "QuillonTest", (root_ / "outside").string()})) {
    EXPECT_EQ(run->exit, 2) << run->output;
    EXPECT_NE(run->output.find("add-scope"), std::string::npos) << run->output;
  }
}

TEST_F(IndexerTest, KilledCrawlResumesToAConsistentCatalog) {
  constexpr int kFiles = 400;
  for (int i = 0; i < kFiles; ++i) {
    Write(docs_ / ("d" + std::to_string(i % 7)) / ("f" + std::to_string(i) + ".txt"),
          "common word" + std::string(i % 10 == 0 ? " marker" : "") + " n" + std::to_string(i));
  }
  // Kill the crawl twice: once while scanning, once while filtering. SIGKILL leaves no
  // chance to clean up, just as a crash or an OOM kill would.
  for (const char* phase : {"scanning", "filtering"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      IndexerOptions o;
      o.batchSize = 16;
      o.notesPerCommit = 50;
      int calls = 0;
      o.progress = [&](const IndexProgress& p) {
        if (p.phase == phase && ++calls == 3) raise(SIGKILL);
      };
      CatalogIndexer ix(ctx(), *admin_, "QuillonTest", o);
      if (Failed(ix.Open())) _exit(2);
      ix.Crawl();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << phase;
  }
  // Something was indexed before the kill and is not filtered again.
  auto ix = Indexer();
  EXPECT_TRUE(ix->CrawlInterrupted());
  std::int64_t total = 0, pending = 0;
  ASSERT_EQ(ix->db().Counts(total, pending), S_OK);
  EXPECT_EQ(total, kFiles);  // the scan finished in the second run
  EXPECT_GT(pending, 0);
  EXPECT_LT(pending, kFiles);
  std::int64_t filteredBefore = total - pending;

  std::int64_t filteredNow = 0;
  IndexerOptions o;
  o.progress = [&](const IndexProgress& p) { filteredNow = p.filtered; };
  auto resume = Indexer(o);
  ASSERT_EQ(resume->Crawl(), S_OK);
  EXPECT_EQ(filteredNow, kFiles - filteredBefore);
  EXPECT_FALSE(resume->CrawlInterrupted());

  auto& db = resume->db().db();
  std::int64_t docs = 0, fts = 0, bad = 0;
  ASSERT_EQ(db.QueryInt("SELECT count(*) FROM docs", docs), S_OK);
  ASSERT_EQ(db.QueryInt("SELECT count(*) FROM fts", fts), S_OK);
  ASSERT_EQ(db.QueryInt("SELECT count(*) FROM docs WHERE state <> 1", bad), S_OK);
  EXPECT_EQ(docs, kFiles);
  EXPECT_EQ(fts, kFiles);
  EXPECT_EQ(bad, 0);
  // The segments that the many small batches left were merged into one at the end.
  std::int64_t segments = 0;
  ASSERT_EQ(db.QueryInt("SELECT count(DISTINCT segid) FROM fts_idx", segments), S_OK);
  EXPECT_EQ(segments, 1);
  EXPECT_EQ(db.Exec("INSERT INTO fts(fts) VALUES('integrity-check')"), S_OK);
  Statement check;
  ASSERT_EQ(db.Prepare("PRAGMA integrity_check", check), S_OK);
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_EQ(check.Text(0), "ok");
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, '\"marker\"')").size(), static_cast<std::size_t>(kFiles / 10));
}

TEST_F(IndexerTest, AdministrationRefusesNamesThatLeaveTheFolder) {
  for (const char* bad : {"", "..", "a/b", "Quillon/../../x", "x\\y", "a..b"}) {
    EXPECT_EQ(admin_->AddCatalog(bad, root_ / "c"), E_INVALIDARG) << bad;
    EXPECT_EQ(admin_->FindCatalog(bad), E_INVALIDARG) << bad;
  }
  EXPECT_EQ(admin_->AddCatalog("Relative", "rel/path"), E_INVALIDARG);
  EXPECT_EQ(admin_->AddCatalog("QuillonTest", root_ / "c"),
            HresultFromWin32(win32::ERROR_ALREADY_EXISTS));
  EXPECT_EQ(admin_->FindCatalog("Nothing"), HresultFromWin32(win32::ERROR_NOT_FOUND));
  EXPECT_EQ(admin_->GetScopeByPath("QuillonTest", "/nope", *std::make_unique<ScopeEntry>()),
            HresultFromWin32(win32::ERROR_NOT_FOUND));

  std::string name;
  EXPECT_EQ(admin_->LocateCatalog((docs_ / "x" / "y.txt").string(), 0, name), S_OK);
  EXPECT_EQ(name, "QuillonTest");
  EXPECT_EQ(admin_->LocateCatalog((docs_ / "x").string(), 1, name), S_FALSE);
  EXPECT_EQ(admin_->LocateCatalog((root_ / "docsX").string(), 0, name), S_FALSE);

  bool running = true;
  EXPECT_FALSE(admin_->IsRunning());
  EXPECT_EQ(admin_->Stop(), S_OK);  // nothing to stop
  ASSERT_EQ(admin_->StopCatalog("QuillonTest"), S_OK);
  bool stopped = false;
  ASSERT_EQ(admin_->IsCatalogStopped("QuillonTest", stopped), S_OK);
  EXPECT_TRUE(stopped);
  ASSERT_EQ(admin_->StartCatalog("QuillonTest"), S_OK);
  ASSERT_EQ(admin_->IsCatalogRunning("QuillonTest", running), S_OK);
  EXPECT_FALSE(running);  // the service itself does not run

  // Removing a catalog deletes its index but never follows a link out of it.
  Write(root_ / "keep" / "k.txt", "keep");
  fs::create_directories(root_ / "catalog" / "Catalog.wci");
  fs::create_directory_symlink(root_ / "keep", root_ / "catalog" / "Catalog.wci" / "link");
  ASSERT_EQ(admin_->RemoveCatalog("QuillonTest"), S_OK);
  EXPECT_FALSE(fs::exists(root_ / "catalog" / "Catalog.wci"));
  EXPECT_TRUE(fs::exists(root_ / "keep" / "k.txt"));
  EXPECT_EQ(admin_->FindCatalog("QuillonTest"), HresultFromWin32(win32::ERROR_NOT_FOUND));
}

TEST(CatalogKeys, CachedPropertyRegistrations) {
  CachedProperty p;
  ASSERT_TRUE(ParseCachedProperty("48CA09C3-119B-8534-9A91-87848040E351 11", "7,8,0,1", p));
  EXPECT_EQ(p.vt, 7);
  EXPECT_EQ(p.size, 8u);
  EXPECT_EQ(p.Key(), "{48CA09C3-119B-8534-9A91-87848040E351} 11");
  ASSERT_TRUE(ParseCachedProperty("d5cdd505-2e9c-101b-9397-08002b2cf9ae _URL", "31,80,1,1", p));
  EXPECT_EQ(p.Key(), "{D5CDD505-2E9C-101B-9397-08002B2CF9AE} _url");
  EXPECT_FALSE(ParseCachedProperty("48CA09C3-119B-8534-9A91-87848040E351", "7,8,0,1", p));
  EXPECT_FALSE(ParseCachedProperty("nope 3", "7,8,0,1", p));
  EXPECT_FALSE(ParseCachedProperty("48CA09C3-119B-8534-9A91-87848040E351 3", "x,8", p));
  EXPECT_FALSE(ParseCachedProperty("48CA09C3-119B-8534-9A91-87848040E351 3", "70000,8", p));
  bool excluded = true;
  EXPECT_TRUE(ParseScopeData(",,5", excluded));
  EXPECT_FALSE(excluded);
  EXPECT_TRUE(ParseScopeData(",,4", excluded));
  EXPECT_TRUE(excluded);
  EXPECT_FALSE(ParseScopeData("5", excluded));
  ScopeSet s({{"/a", false}, {"/a/*/cache/*", true}, {"/a/b", true}});
  EXPECT_TRUE(s.Covers("/a/x.txt"));
  EXPECT_FALSE(s.Covers("/a/u/cache/x"));
  EXPECT_FALSE(s.Covers("/a/b/c"));
  EXPECT_TRUE(s.Covers("/a/bc"));
  EXPECT_FALSE(s.Covers("/ab"));
}

}  // namespace
}  // namespace qv::platform::indexing
