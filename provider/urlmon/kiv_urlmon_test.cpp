// KivUrlmon::CreateShortcut: what it writes for pages, frames, archived and downloaded
// copies, and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "context/test_context.h"
#include "provider/ranking/file_ranking.h"
#include "platform/urlcache/url.h"
#include "provider/urlmon/cache_lookup.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/kiv_urlmon.h"
#include "provider/urlmon/private_urls.h"
#include "provider/urlmon/shortcut_file.h"

namespace qv::urlmon {
namespace {
namespace fs = std::filesystem;
using platform::CacheEntry;
using platform::Hive;
using platform::RegValue;

constexpr const char* kHtml = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=koi8-r\r\n\r\n";

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A protocol whose pieces arrive one simulated second apart, for the download limit.
class SlowFetcher final : public platform::ProtocolFetcher {
 public:
  SlowFetcher(ManualClock& clock, int pieces, std::stop_source* stopAfterFirst = nullptr)
      : clock_(clock), pieces_(pieces), stop_(stopAfterFirst) {}
  HRESULT Fetch(std::string_view, const platform::PieceSink& sink, std::string& type) override {
    type = "text/html";
    static constexpr std::uint8_t kPiece[] = {'<', 'p', '>', 'x'};
    for (int i = 0; i < pieces_; ++i) {
      clock_.Advance(std::chrono::seconds(1));
      if (const HRESULT hr = sink(kPiece); Failed(hr)) return hr;
      if (stop_) stop_->request_stop();
    }
    return S_OK;
  }

 private:
  ManualClock& clock_;
  int pieces_;
  std::stop_source* stop_;
};

class KivUrlmonTest : public ::testing::Test {
 protected:
  KivUrlmonTest()
      : cache_(tc_.root(), tc_.clock()), handlers_(platform::ProtocolHandlers::Default()) {}

  fs::path Put(std::string_view url, std::string_view body, std::string_view headers = kHtml,
               FileTime lastSync = 0) {
    fs::path f;
    EXPECT_EQ(cache_.CreateEntryFile(url, "htm", f), 0);
    std::ofstream(f, std::ios::binary) << body;
    platform::CommitOptions o;
    o.headers = std::string(headers);
    o.lastSync = lastSync;
    EXPECT_EQ(cache_.CommitEntry(url, f, o), 0);
    return f;
  }

  HRESULT Create(const std::string& url, const std::string* frames = nullptr,
                 std::stop_token stop = {}) {
    KivUrlmon urlmon(tc_.ctx(), handlers_);
    file_.clear();
    cachedUrl_.clear();
    const std::string title = "Title of " + url;
    return urlmon.CreateShortcut(&url, VisitTime(), &title, frames, stop, &file_, &cachedUrl_);
  }

  DATE VisitTime() { return tc_.clock().NowDate() + 1.0 / 86400; }

  Shortcut Read() {
    Shortcut s;
    EXPECT_EQ(ReadShortcutFile(file_, s), S_OK);
    return s;
  }

  void AllowScheme(std::string_view scheme) {
    ASSERT_EQ(tc_.registry().CreateKey(Hive::LocalMachine, std::string(kSafeLocalProtocolsKey) +
                                                               "\\" + std::string(scheme)),
              0);
  }

  TestContext tc_;
  platform::UrlCache cache_;
  std::shared_ptr<platform::ProtocolHandlers> handlers_;
  std::string file_, cachedUrl_;
};

TEST_F(KivUrlmonTest, ArgumentsSchemesAndSecurePages) {
  KivUrlmon urlmon(tc_.ctx());
  const std::string empty, url = "http://intranet/";
  EXPECT_EQ(urlmon.CreateShortcut(&url, VisitTime(), nullptr, nullptr, {}, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(urlmon.CreateShortcut(&empty, VisitTime(), nullptr, nullptr, {}, &file_, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(Create(":nothing"), E_FAIL);
  EXPECT_EQ(Create("no scheme"), platform::URL_E_INVALID_SYNTAX);

  Put("https://bank.example.com/", "<html>secret");
  EXPECT_EQ(Create("https://bank.example.com/"), S_FALSE);
  EXPECT_TRUE(file_.empty());
  EXPECT_FALSE(fs::exists(WebHistoryRoot(tc_.root())));

  ASSERT_EQ(Create("file:///home/u/My%20Doc.txt"), S_OK);
  EXPECT_EQ(file_, "/home/u/My Doc.txt");
  EXPECT_EQ(cachedUrl_, "");
  EXPECT_EQ(Create("file://server/share/x"), E_INVALIDARG);
  // A page missing from the cache, in the intranet zone: nothing to keep.
  EXPECT_EQ(Create("http://intranet/missing"), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
}

TEST_F(KivUrlmonTest, PageGetsItsShortcutWithContentsTitleZoneAndUrl) {
  Put("http://intranet/doc/index.html", "<html><p>text");
  ASSERT_EQ(Create("http://intranet/doc/index.html#section-2"), S_OK);
  // HTML from outside this machine is archived under its content's address.
  std::string archivedUrl;
  ASSERT_EQ(ContentUrl("http://intranet/doc/index.html", 13, 0xd6d42ad, archivedUrl), S_OK);
  const std::vector<std::string> urls{archivedUrl};
  const ShortcutName name = NameOfUrls(urls);
  EXPECT_EQ(file_, ShortcutPath(WebHistoryRoot(tc_.root()), name).string());
  EXPECT_EQ(cachedUrl_, FormatHistoryUrl(name));
  const Shortcut s = Read();
  ASSERT_EQ(s.parts.size(), 1u);
  const PagePart& p = s.parts[0];
  EXPECT_EQ(p.url, archivedUrl);  // the fragment is not kept
  EXPECT_EQ(p.kind, kKindHtml);
  EXPECT_EQ(p.flags, 0);
  EXPECT_EQ(p.size, 13u);
  EXPECT_EQ(p.charset, "koi8-r");
  CacheEntry archived;
  ASSERT_EQ(cache_.RetrieveEntryFile(archivedUrl, archived), 0);
  EXPECT_EQ(p.copy, archived.localFile.lexically_relative(cache_.folder()).generic_string());
  EXPECT_EQ(s.title, "Title of http://intranet/doc/index.html#section-2");
  EXPECT_EQ(s.zone, 2);  // intranet + 1
  EXPECT_EQ(s.url, "http://intranet/doc/index.html");  // unwrapped

  // A history URL is resolved to the shortcut it names.
  std::string again = file_, history = cachedUrl_;
  ASSERT_EQ(Create(history + "?url=http://intranet/doc/index.html#x"), S_OK);
  EXPECT_EQ(file_, again);
  EXPECT_EQ(cachedUrl_, history);
  EXPECT_EQ(Create("history:0"), INET_E_INVALID_URL);
  EXPECT_EQ(Create("history:0F123"), STG_E_PATHNOTFOUND);
}

TEST_F(KivUrlmonTest, RepeatVisitReusesTheFileAndKeepsItsRankingRecord) {
  Put("http://intranet/a", "<html>a");
  ASSERT_EQ(Create("http://intranet/a"), S_OK);
  const std::string first = file_, firstUrl = cachedUrl_;
  // The tracer ranks the shortcut like any file.
  RegisterRankingClasses(tc_.ctx());
  FileRanking ranking(tc_.ctx());
  const DATE end = tc_.clock().NowDate();
  ULONG scope = 0;
  ASSERT_EQ(ranking.get_CurrentScope(&scope), S_OK);
  ASSERT_EQ(
      ranking.UpdateRank(&first, 10, 1, end - 60.0 / 86400, end, 300, 300, scope, 0, nullptr),
      S_OK);
  struct stat before {};
  ASSERT_EQ(::stat(first.c_str(), &before), 0);

  tc_.clock().Advance(std::chrono::hours(1));
  ASSERT_EQ(Create("http://intranet/a#again"), S_OK);
  EXPECT_EQ(file_, first);
  EXPECT_EQ(cachedUrl_, firstUrl);
  struct stat after {};
  ASSERT_EQ(::stat(first.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not rewritten
  VARIANT_BOOL valid = VARIANT_FALSE;
  ULONG visits = 0;
  ASSERT_EQ(ranking.GetRankingSet(&first, &valid, nullptr, nullptr, nullptr, nullptr, &visits,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_TRUE(valid);
  EXPECT_EQ(visits, 1u);
}

TEST_F(KivUrlmonTest, PagesWhoseHashesCollideGetFilesOfTheirOwn) {
  Put("http://intranet/mine", "mine", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
  const std::vector<std::string> urls{"http://intranet/mine"};
  const ShortcutName name = NameOfUrls(urls);
  const fs::path taken = ShortcutPath(WebHistoryRoot(tc_.root()), name);
  // Another page already holds this name.
  Shortcut other;
  other.parts.push_back({"http://intranet/other", kKindHtml, 0, 1, "", "x.htm", 2});
  fs::create_directories(taken.parent_path());
  ASSERT_EQ(CreateShortcutFile(taken, other), S_OK);
  const std::string otherBytes = Slurp(taken);

  ASSERT_EQ(Create("http://intranet/mine"), S_OK);
  const ShortcutName next{name.bucket, name.hash + 1};
  EXPECT_EQ(file_, ShortcutPath(WebHistoryRoot(tc_.root()), next).string());
  EXPECT_EQ(cachedUrl_, FormatHistoryUrl(next));
  EXPECT_EQ(Read().parts.at(0).url, "http://intranet/mine");
  EXPECT_EQ(Slurp(taken), otherBytes);
  // And the next visit finds its own file again.
  ASSERT_EQ(Create("http://intranet/mine"), S_OK);
  EXPECT_EQ(cachedUrl_, FormatHistoryUrl(next));
}

TEST_F(KivUrlmonTest, FramesBecomePartsWithTheirFlagsTypesAndCharsets) {
  Put("http://intranet/top", "<html><frameset>", "HTTP/1.1 200 OK\r\n\r\n");
  Put("http://intranet/left", "plain words", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
  Put("http://intranet/right", "<?xml version='1.0'?><r/>", "");
  Put("http://www.example.org/ad", "", "");
  const std::string frames =
      "http://intranet/top\n\n\n\nf\n"
      "http://intranet/left\n\nwindows-1252\nnoindex\n\n"
      "http://intranet/right\ntext/xml\nutf-8\n\n\n"
      "http://intranet/top#again\n\n\n\n\n"     // already collected
      "file:///etc/hosts\n\n\n\n\n"             // files are ranked as themselves
      "http://intranet/gone\n\n\n\n\n"          // not cached
      "http://intranet/trunc\n\n";              // incomplete record
  ASSERT_EQ(Create("http://intranet/top", &frames), S_OK);
  const Shortcut s = Read();
  ASSERT_EQ(s.parts.size(), 3u);
  EXPECT_EQ(s.parts[0].flags, kFlagFrames);
  EXPECT_EQ(s.parts[0].kind, kKindHtml);  // sniffed
  EXPECT_EQ(s.parts[1].flags, kFlagRobots);
  EXPECT_EQ(s.parts[1].kind, kKindText);
  EXPECT_EQ(s.parts[1].charset, "windows-1252");
  EXPECT_EQ(s.parts[2].kind, kKindXml);  // from the frame record, not read
  EXPECT_EQ(s.parts[2].charset, "utf-8");
  EXPECT_EQ(s.zone, 2);
  const std::vector<std::string> urls{"http://intranet/top", "http://intranet/left",
                                      "http://intranet/right"};
  EXPECT_EQ(cachedUrl_, FormatHistoryUrl(NameOfUrls(urls)));

  // Nothing usable at all: the last part's result.
  const std::string none = "http://intranet/gone\n\n\n\n\nfile:///x\n\n\n\n\n";
  EXPECT_EQ(Create("http://intranet/gone", &none), S_FALSE);
  // An empty copy without a known type is not kept.
  Put("http://intranet/empty", "", "");
  EXPECT_EQ(Create("http://intranet/empty"), S_FALSE);
}

TEST_F(KivUrlmonTest, InternetHtmlIsArchivedOncePerContent) {
  Put("http://www.example.org/news", "<html>monday");
  ASSERT_EQ(Create("http://www.example.org/news"), S_OK);
  Shortcut s = Read();
  ASSERT_EQ(s.parts.size(), 1u);
  EXPECT_TRUE(IsPrivateUrl(s.parts[0].url)) << s.parts[0].url;
  EXPECT_EQ(UnwrapPrivateUrl(s.parts[0].url), "http://www.example.org/news");
  EXPECT_EQ(s.url, "http://www.example.org/news");
  EXPECT_EQ(s.zone, 4);
  CacheEntry archived;
  ASSERT_EQ(cache_.RetrieveEntryFile(s.parts[0].url, archived), 0);
  EXPECT_EQ(Slurp(archived.localFile), "<html>monday");
  EXPECT_EQ(archived.headers, kHtml);
  std::vector<platform::CacheGroup> groups;
  ASSERT_EQ(cache_.EnumGroups(groups), 0);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].name, "QuillonL2");
  EXPECT_EQ(archived.groups, std::vector<platform::CacheGroupId>{groups[0].id});
  const std::string monday = file_;

  // The same content again: same archive, same shortcut.
  ASSERT_EQ(Create("http://www.example.org/news"), S_OK);
  EXPECT_EQ(file_, monday);
  // New content: a copy of its own that Monday's copy survives.
  Put("http://www.example.org/news", "<html>tuesday!");
  ASSERT_EQ(Create("http://www.example.org/news"), S_OK);
  EXPECT_NE(file_, monday);
  Shortcut mon;
  ASSERT_EQ(ReadShortcutFile(monday, mon), S_OK);
  ASSERT_EQ(cache_.RetrieveEntryFile(mon.parts[0].url, archived), 0);
  EXPECT_EQ(Slurp(archived.localFile), "<html>monday");

  // Plain text from the Internet is kept as it is.
  Put("http://www.example.org/notes.txt", "words",
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
  ASSERT_EQ(Create("http://www.example.org/notes.txt"), S_OK);
  EXPECT_EQ(Read().parts[0].url, "http://www.example.org/notes.txt");
}

TEST_F(KivUrlmonTest, VersionIndexPicksTheCopyOfTheVisit) {
  const std::string page = "http://www.example.org/live";
  const FileTime t0 = tc_.clock().Now();
  const FileTime sec = kFileTimeTicksPerSecond;
  std::string c1, c2, index;
  ASSERT_EQ(ContentUrl(page, 2, 0x11, c1), S_OK);
  ASSERT_EQ(ContentUrl(page, 3, 0x22, c2), S_OK);
  ASSERT_EQ(VersionIndexUrl(page, index), S_OK);
  Put(c1, "v1", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
  Put(c2, "v2!", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
  const std::vector<VersionRecord> recs{{t0 - 100 * sec, 2, 0x11}, {t0 - 50 * sec, 3, 0x22}};
  const auto bytes = SerializeVersionIndex(recs);
  Put(index, std::string(bytes.begin(), bytes.end()), "");
  Put(page, "live", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", t0 - 200 * sec);

  CacheEntry e;
  ASSERT_EQ(LookupPartEntry(cache_, page, FileTimeToDate(t0 - 60 * sec), e), S_OK);
  EXPECT_EQ(e.url, c1);
  ASSERT_EQ(LookupPartEntry(cache_, page, FileTimeToDate(t0), e), S_OK);
  EXPECT_EQ(e.url, c2);
  ASSERT_EQ(LookupPartEntry(cache_, page, FileTimeToDate(t0 - 300 * sec), e), S_OK);
  EXPECT_EQ(e.url, page);  // before every capture
  // A live copy fetched after the capture and before the visit wins.
  Put(page, "fresh", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", t0 - 10 * sec);
  ASSERT_EQ(LookupPartEntry(cache_, page, FileTimeToDate(t0), e), S_OK);
  EXPECT_EQ(e.url, page);
  ASSERT_EQ(LookupPartEntry(cache_, page, FileTimeToDate(t0 - 20 * sec), e), S_OK);
  EXPECT_EQ(e.url, c2);
  // The archived copy gone: the live one stands in; both gone: not found.
  ASSERT_EQ(cache_.DeleteEntry(c2), 0);
  ASSERT_EQ(LookupPartEntry(cache_, page, FileTimeToDate(t0 - 20 * sec), e), S_OK);
  EXPECT_EQ(e.url, page);
  ASSERT_EQ(cache_.DeleteEntry(page), 0);
  EXPECT_EQ(LookupPartEntry(cache_, page, FileTimeToDate(t0 - 20 * sec), e),
            HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LookupPartEntry(cache_, c1, FileTimeToDate(t0), e), E_INVALIDARG);
}

TEST_F(KivUrlmonTest, DownloadLimitFallsBackToTenSecondsOutsideItsRange) {
  KivUrlmon urlmon(tc_.ctx());
  EXPECT_EQ(urlmon.DownloadLimit(), std::chrono::seconds(10));
  for (auto [value, want] : {std::pair{0u, 10}, {300u, 10}, {1u, 1}, {299u, 299}, {5u, 5}}) {
    ASSERT_EQ(tc_.registry().SetValue(Hive::LocalMachine, kSafeLocalProtocolsKey,
                                      kDownloadTimeoutValue, RegValue::Dword(value)),
              0);
    EXPECT_EQ(urlmon.DownloadLimit(), std::chrono::seconds(want)) << value;
  }
  ASSERT_EQ(tc_.registry().SetValue(Hive::LocalMachine, kSafeLocalProtocolsKey,
                                    kDownloadTimeoutValue, RegValue::Sz("5")),
            0);
  EXPECT_EQ(urlmon.DownloadLimit(), std::chrono::seconds(10));
}

TEST_F(KivUrlmonTest, MissingLocalPagesAreDownloadedOnlyForSafeSchemes) {
  const std::string page = "data:text/html,<p>local";
  EXPECT_EQ(Create(page), E_ACCESSDENIED);  // not listed as safe
  AllowScheme("data");
  ASSERT_EQ(Create(page), S_OK);
  const Shortcut s = Read();
  ASSERT_EQ(s.parts.size(), 1u);
  EXPECT_EQ(s.parts[0].flags, kFlagDownloaded);
  EXPECT_EQ(s.parts[0].kind, kKindHtml);
  EXPECT_EQ(s.zone, 1);
  CacheEntry e;
  ASSERT_EQ(cache_.RetrieveEntryFile(page, e), 0);
  EXPECT_EQ(Slurp(e.localFile), "<p>local");

  // Listed or not, some schemes are never downloaded.
  AllowScheme("about");
  EXPECT_EQ(Create("about:mozilla"), E_ACCESSDENIED);
  AllowScheme("zzz");
  EXPECT_EQ(Create("zzz:unknown"), platform::INET_E_UNKNOWN_PROTOCOL);
}

TEST_F(KivUrlmonTest, SlowDownloadsStopAtTheLimitOrOnShutdown) {
  AllowScheme("slow");
  ASSERT_EQ(tc_.registry().SetValue(Hive::LocalMachine, kSafeLocalProtocolsKey,
                                    kDownloadTimeoutValue, RegValue::Dword(3)),
            0);
  handlers_->Register("slow", std::make_shared<SlowFetcher>(tc_.clock(), 3));
  ASSERT_EQ(Create("slow:within-limit"), S_OK);  // 3 s is not later than the limit
  handlers_->Register("slow", std::make_shared<SlowFetcher>(tc_.clock(), 4));
  EXPECT_EQ(Create("slow:too-slow"), E_ABORT);
  CacheEntry e;
  EXPECT_EQ(cache_.GetEntry("slow:too-slow", e), win32::ERROR_FILE_NOT_FOUND);

  std::stop_source stop;
  handlers_->Register("slow", std::make_shared<SlowFetcher>(tc_.clock(), 2, &stop));
  EXPECT_EQ(Create("slow:shut-down", nullptr, stop.get_token()), E_ABORT);
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_EQ(Create("slow:already-stopped", nullptr, stopped.get_token()), E_ABORT);
  // Nothing half-made is left in the cache folder.
  for (const auto& de : fs::recursive_directory_iterator(cache_.folder() / "Content.QV")) {
    if (de.is_regular_file()) {
      EXPECT_EQ(de.path().filename().string().find("shut"), std::string::npos);
    }
  }
}

TEST_F(KivUrlmonTest, UnwritableBucketFolderIsReportedAndReturned) {
  Put("http://intranet/b", "<html>b");
  const fs::path web = WebHistoryRoot(tc_.root());
  fs::create_directories(web.parent_path());
  std::ofstream(web) << "a file where the folder should be";
  EXPECT_TRUE(Failed(Create("http://intranet/b")));
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventBucketFolderFailed});
}

TEST_F(KivUrlmonTest, TwoProcessesCreatingOnePageLeaveOneValidFile) {
  constexpr int kPages = 6, kProcs = 3;
  for (int i = 0; i < kPages; ++i) {
    Put("http://intranet/race/" + std::to_string(i), "<html>" + std::to_string(i));
  }
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      (void)!::read(gate[0], &c, 1);  // all start together
      KivUrlmon urlmon(tc_.ctx(), handlers_);
      bool ok = true;
      for (int i = 0; i < kPages; ++i) {
        const std::string url = "http://intranet/race/" + std::to_string(i);
        std::string file, cached;
        ok = ok && urlmon.CreateShortcut(&url, VisitTime(), &url, nullptr, {}, &file, &cached) == S_OK;
      }
      ::_exit(ok ? 0 : 1);
    }
    kids.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // opens the gate
  for (pid_t pid : kids) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int files = 0;
  for (const auto& de : fs::recursive_directory_iterator(WebHistoryRoot(tc_.root()))) {
    if (!de.is_regular_file()) continue;
    ++files;
    EXPECT_EQ(de.path().extension(), ".q6w") << de.path();  // no temporary file left
    Shortcut s;
    EXPECT_EQ(ReadShortcutFile(de.path(), s), S_OK) << de.path();
  }
  EXPECT_EQ(files, kPages);
}

TEST(FrameData, RecordsOfFiveLineFeedEndedFields) {
  const auto recs = ParseFrameData("u1\nt\nc\nnoindex\nf\nu2\n\n\n\n\nu3\nx\n");
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].url, "u1");
  EXPECT_EQ(recs[0].contentType, "t");
  EXPECT_EQ(recs[0].charset, "c");
  EXPECT_TRUE(recs[0].robots);
  EXPECT_TRUE(recs[0].frames);
  EXPECT_EQ(recs[1].url, "u2");
  EXPECT_FALSE(recs[1].robots || recs[1].frames);
  EXPECT_TRUE(ParseFrameData("only a url").empty());
}

}  // namespace
}  // namespace qv::urlmon
