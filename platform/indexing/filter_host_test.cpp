#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/temp_dir.h"
#include "context/context.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/filter_host.h"
#include "platform/indexing/filter_host_protocol.h"
#include "platform/indexing/indexer.h"
#include "platform/indexing/query_executor.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The sanitizers map far more address space than any memory cap leaves a process.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerShadow = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizerShadow = true;
#else
constexpr bool kSanitizerShadow = false;
#endif
#else
constexpr bool kSanitizerShadow = false;
#endif

std::string Feed(ReplyDecoder& d, std::string_view bytes) {
  d.Feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  return d.error();
}

TEST(FilterHostProtocol, ReplyCrossesInAnyPiecesAndKeepsToTheLimits) {
  DocumentText doc;
  doc.chunks = {"first chunk", std::string(3u << 20, 'x') + "tail", ""};
  doc.title = "Title";
  doc.author = "Author";
  doc.created = 40000.5;
  ReaderLimits limits;
  const std::string reply = EncodeReply(doc, S_FALSE, limits, true);
  // One byte at a time: every frame boundary falls in the middle of a read somewhere.
  ReplyDecoder d(limits);
  for (char c : reply) {
    ASSERT_EQ(d.state(), ReplyDecoder::State::NeedMore);
    Feed(d, std::string_view(&c, 1));
  }
  ASSERT_EQ(d.state(), ReplyDecoder::State::Done) << d.error();
  EXPECT_EQ(d.text().chunks, doc.chunks);
  EXPECT_EQ(d.text().title, doc.title);
  EXPECT_EQ(d.text().author, doc.author);
  EXPECT_EQ(d.text().created, doc.created);
  EXPECT_FALSE(d.text().modified);
  EXPECT_EQ(d.status(), S_FALSE);
  EXPECT_TRUE(d.retiring());
  EXPECT_FALSE(d.text().truncated);

  // The host cuts what exceeds the limits, on a character boundary, and says so.
  ReaderLimits small;
  small.maxTextBytes = 6;
  small.maxEntries = 1;
  DocumentText accents;
  accents.chunks = {"caf\xC3\xA9\xC3\xA9", "second"};
  ReplyDecoder cut(small);
  Feed(cut, EncodeReply(accents, S_OK, small, false));
  ASSERT_EQ(cut.state(), ReplyDecoder::State::Done) << cut.error();
  EXPECT_EQ(cut.text().chunks, std::vector<std::string>{"caf\xC3\xA9"});
  EXPECT_TRUE(cut.text().truncated);
  EXPECT_FALSE(cut.retiring());

  std::string path;
  ReaderLimits back;
  const std::string request = EncodeRequest("/docs/a.pdf", small);
  ASSERT_TRUE(DecodeRequest(std::string_view(request).substr(5), path, back));
  EXPECT_EQ(path, "/docs/a.pdf");
  EXPECT_EQ(back.maxTextBytes, 6u);
  EXPECT_EQ(back.maxEntries, 1u);
  EXPECT_FALSE(DecodeRequest(std::string_view(EncodeRequest("relative", small)).substr(5), path,
                             back));
}

TEST(FilterHostProtocol, RefusesRepliesOutOfBounds) {
  ReaderLimits limits;
  limits.maxTextBytes = 100;
  limits.maxEntries = 2;
  auto frame = [](char type, std::string_view payload) {
    std::string out;
    AppendFrame(out, type, payload);
    return out;
  };
  const std::string end = frame(kFrameEnd, std::string("\0\0\0\0\0", 5));
  const struct {
    std::string bytes;
    const char* why;
  } cases[] = {
      {std::string("\xFF\xFF\xFF\x7F", 4), "a frame larger than any frame"},
      {std::string("\0\0\0\0", 4), "an empty frame"},
      {frame(kFrameChunk, std::string(101, 'a')), "more text than the limit"},
      {frame(kFrameChunk, std::string(60, 'a')) + frame(kFrameAppend, std::string(60, 'a')),
       "more text than the limit, in pieces"},
      {frame(kFrameChunk, "") + frame(kFrameChunk, "") + frame(kFrameChunk, ""),
       "too many chunks"},
      {frame(kFrameAppend, "x"), "more text before any chunk"},
      {frame(kFrameProperty, "\x01title") + frame(kFrameProperty, "\x01again"),
       "a property twice"},
      {frame(kFrameProperty, "\x03short"), "a date of the wrong size"},
      {frame(kFrameProperty, "\x09x"), "an unknown property"},
      {frame(kFrameProperty, std::string(1, '\x01') + std::string(kMaxHostProperty + 1, 'a')),
       "a property too long"},
      {frame('Z', "x"), "an unknown frame"},
      {frame(kFrameEnd, "\0"), "a short end"},
      {end + "x", "bytes after the end"},
  };
  for (const auto& c : cases) {
    ReplyDecoder d(limits);
    EXPECT_FALSE(Feed(d, c.bytes).empty()) << c.why;
    EXPECT_EQ(d.state(), ReplyDecoder::State::Bad) << c.why;
    EXPECT_LE(d.text().chunks.size(), 2u) << c.why;
  }
}

fs::path TestReader() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path() / "filter_host_test_reader";
}

class FilterHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv-fhost-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_TRUE(fs::exists(TestReader())) << "build the filter_host_test_reader target";
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Doc(const std::string& name, const std::string& text) {
    const auto p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  FilterHostOptions Options() {
    FilterHostOptions o;
    o.program = TestReader();
    o.limits.maxTextBytes = 4u << 20;
    o.timeout = 90s;  // far beyond the CPU limit: a loop ends by that limit, not by this
    o.memoryMiB = 256;
    o.cpuSecondsPerDocument = 1;
    o.cpuSecondsPerBatch = 60;
    return o;
  }

  // An ordinary document read after a failure: the failure cost only its own document.
  void ExpectNextDocumentRead(FilterHost& host) {
    DocumentText text;
    EXPECT_EQ(host.Read(Doc("fine.pdf", "echo the next document"), text), S_OK)
        << host.lastProblem();
    EXPECT_EQ(text.chunks, std::vector<std::string>{"the next document"});
    EXPECT_TRUE(host.lastProblem().empty());
  }

  fs::path dir_;
};

TEST_F(FilterHostTest, MisbehavingReadersFailAloneAndTheHostComesBack) {
  FilterHost host(Options());
  DocumentText text;
  ASSERT_EQ(host.Read(Doc("a.pdf", "echo hello world"), text), S_OK) << host.lastProblem();
  EXPECT_EQ(text.chunks, std::vector<std::string>{"hello world"});
  EXPECT_EQ(text.title, "Echoed");
  const pid_t first = host.pid();
  ASSERT_GT(first, 0);
  ASSERT_EQ(host.Read(Doc("b.pdf", "unknown"), text), FILTER_E_UNKNOWNFORMAT);
  EXPECT_EQ(host.pid(), first);  // a reader's own error leaves the host running

  const struct {
    const char* content;
    HRESULT expected;
  } cases[] = {
      {"loop", kHostDied},     // SIGXCPU after a second of CPU time
      {"crash", kHostDied},    // SIGSEGV
      {"write", kHostDied},    // SIGXFSZ: the host writes no file
      {"exit", kHostDied},     // leaves without a word
      {"flood", kHostBadReply},// more text than the limit: killed while it writes
  };
  int starts = host.starts();
  for (const auto& c : cases) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(host.Read(Doc(std::string(c.content) + ".docx", c.content), text), c.expected)
        << c.content << ": " << host.lastProblem();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 60s) << c.content;
    EXPECT_FALSE(host.lastProblem().empty()) << c.content;
    EXPECT_TRUE(text.chunks.empty()) << c.content;
    EXPECT_EQ(host.pid(), -1) << c.content;  // gone and reaped
    ExpectNextDocumentRead(host);
    EXPECT_EQ(host.starts(), ++starts) << c.content;
  }
  EXPECT_FALSE(fs::exists(dir_ / "write.docx.out") && fs::file_size(dir_ / "write.docx.out") > 0);
}

TEST_F(FilterHostTest, AHangingReaderIsKilledAtTheTimeOut) {
  auto o = Options();
  o.timeout = 1500ms;
  FilterHost host(o);
  DocumentText text;
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(host.Read(Doc("hang.epub", "sleep"), text), kHostTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
  EXPECT_EQ(host.pid(), -1);
  ExpectNextDocumentRead(host);
}

TEST_F(FilterHostTest, AReaderOutOfMemoryCostsOneDocument) {
  if (kSanitizerShadow) GTEST_SKIP() << "no memory cap under a sanitizer's shadow memory";
  FilterHost host(Options());
  DocumentText text;
  const HRESULT hr = host.Read(Doc("big.xlsx", "alloc"), text);
  // The allocation fails inside the cap: the host answers, or dies trying.
  EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == kHostDied) << FormatHresult(hr);
  ExpectNextDocumentRead(host);
}

TEST_F(FilterHostTest, AHostKilledBetweenDocumentsIsReplacedUnnoticed) {
  FilterHost host(Options());
  ExpectNextDocumentRead(host);
  const pid_t pid = host.pid();
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  // Wait until it is a zombie, so that the host finds it gone.
  for (int i = 0; i < 1000; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(stat)), {});
    if (s.empty() || s.find(") Z") != std::string::npos) break;
    std::this_thread::sleep_for(10ms);
  }
  ExpectNextDocumentRead(host);
  EXPECT_EQ(host.starts(), 2);

  // A program that is not there fails the document with a reason, and nothing else.
  auto o = Options();
  o.program = dir_ / "no-such-host";
  FilterHost missing(o);
  DocumentText text;
  EXPECT_TRUE(Failed(missing.Read(Doc("x.pdf", "echo x"), text)));
  EXPECT_FALSE(missing.lastProblem().empty());
}

TEST_F(FilterHostTest, AHostRetiresAfterItsBatchAndTheNextTakesOver) {
  auto o = Options();
  o.documentsPerHost = 2;
  FilterHost host(o);
  for (int i = 0; i < 5; ++i) ExpectNextDocumentRead(host);
  EXPECT_EQ(host.starts(), 3);
}

TEST(FilterHostTable, BinaryFormatsGoToTheHostAndMarkupStays) {
  for (const char* e : {"pdf", "PDF", "odt", "ods", "odp", "docx", "xlsx", "pptx", "epub", "rtf",
                        "eml"}) {
    EXPECT_TRUE(IsHostedExtension(e)) << e;
  }
  for (const char* e : {"txt", "htm", "html", "xml", "", "pdfx", "doc"}) {
    EXPECT_FALSE(IsHostedExtension(e)) << e;
  }
}

TEST(FilterHostTable, MaildirMessagesGoToTheHostByTheirPlace) {
  TempDir dir;
  const auto maildir = dir.path() / "Mail" / "Inbox";
  for (const char* sub : {"tmp", "cur", "new"}) std::filesystem::create_directories(maildir / sub);
  EXPECT_TRUE(IsHostedFile(maildir / "cur" / "1765170921.M1P2.host:2,S"));
  EXPECT_TRUE(IsHostedFile(maildir / "new" / "1765170921.M1P2.host"));
  EXPECT_FALSE(IsHostedFile(maildir / "tmp" / "1765170921.M1P2.host"));
  EXPECT_FALSE(IsHostedFile(maildir / "notes.txt"));
  EXPECT_TRUE(IsHostedFile(dir.path() / "saved.eml"));
  // A folder that happens to be called cur/ is not a Maildir without its siblings.
  std::filesystem::create_directories(dir.path() / "work" / "cur");
  EXPECT_FALSE(IsHostedFile(dir.path() / "work" / "cur" / "draft"));
}

// The indexer with a host: hostile documents are kept as failed with their properties, and
// the rest of the folder is indexed.
class HostedIndexingTest : public FilterHostTest {
 protected:
  void SetUp() override {
    FilterHostTest::SetUp();
    docs_ = dir_ / "docs";
    fs::create_directories(docs_);
    install_ = std::make_unique<Installation>(dir_);
    RegisterBuiltinFilterClasses(install_->context().classes);
    ASSERT_EQ(RegisterBuiltinFilterExtensions(install_->context().registry), S_OK);
    admin_ = std::make_unique<CatalogAdmin>(install_->context().registry, dir_);
    ASSERT_EQ(admin_->AddCatalog("HostTest", dir_ / "catalog"), S_OK);
    ASSERT_EQ(admin_->AddScope("HostTest", docs_.string(), false), S_OK);
  }

  std::vector<std::string> Query(const std::string& where) {
    QueryExecutor exec(*admin_);
    ResultSet rs;
    std::string error;
    EXPECT_EQ(exec.Execute("SELECT FileName FROM HostTest..Scope() " + where + " ORDER BY Path",
                           {}, rs, error),
              S_OK)
        << error;
    std::vector<std::string> out;
    for (const auto& r : rs.Rows()) out.push_back(r[0].ToString());
    return out;
  }

  fs::path docs_;
  std::unique_ptr<Installation> install_;
  std::unique_ptr<CatalogAdmin> admin_;
};

TEST_F(HostedIndexingTest, HostileDocumentsFailAloneAndTheFolderIsIndexed) {
  std::ofstream(docs_ / "a-good.pdf") << "echo zephyrine marker";
  std::ofstream(docs_ / "b-crash.docx") << "crash zephyrine";
  std::ofstream(docs_ / "c-loop.odt") << "loop zephyrine";
  std::ofstream(docs_ / "d-flood.epub") << "flood";
  std::ofstream(docs_ / "e-plain.rtf") << "unknown zephyrine in a file the host cannot read";
  std::ofstream(docs_ / "f-notes.txt") << "zephyrine in plain text";
  std::ofstream(docs_ / "g-late.xlsx") << "echo zephyrine after the failures";

  IndexerOptions o;
  o.filterHost = std::make_shared<FilterHost>(Options());
  CatalogIndexer ix(install_->context(), *admin_, "HostTest", o);
  ASSERT_EQ(ix.Open(), S_OK);
  ASSERT_EQ(ix.Crawl(), S_OK);
  // The host's readers' text, the in-process text filter, and a format the host does not
  // know falling back to it; the hostile documents are found only by name.
  EXPECT_EQ(Query("WHERE CONTAINS('zephyrine')"),
            (std::vector<std::string>{"a-good.pdf", "e-plain.rtf", "f-notes.txt",
                                      "g-late.xlsx"}));
  EXPECT_EQ(Query("WHERE CONTAINS(ALL, 'Tester')"),
            (std::vector<std::string>{"a-good.pdf", "g-late.xlsx"}));  // the author
  EXPECT_EQ(Query("WHERE FileName = 'b-crash.docx'").size(), 1u);
  for (const char* failed : {"b-crash.docx", "c-loop.odt", "d-flood.epub"}) {
    std::int64_t id = 0;
    DocState state{};
    ASSERT_EQ(ix.db().FindDocument((docs_ / failed).string(), id, state), S_OK) << failed;
    EXPECT_EQ(state, DocState::Failed) << failed;
  }
}

}  // namespace
}  // namespace qv::platform::indexing
