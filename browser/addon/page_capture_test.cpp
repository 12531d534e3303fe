#include "browser/addon/page_capture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "browser/addon/addon_constants.h"
#include "browser/addon/capture_rules.h"
#include "browser/addon/capture_store.h"
#include "browser/addon/capture_worker.h"
#include "context/test_context.h"
#include "platform/urlcache/file_io.h"
#include "provider/urlmon/cache_lookup.h"
#include "provider/urlmon/private_urls.h"

namespace qv::browser {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kNoCache = "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\n\r\n";
constexpr std::string_view kPage = "http://site.test/news";

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Files in the cache's copy folder (captures in the making and committed copies alike).
std::size_t CopyFiles(const platform::UrlCache& cache) {
  std::size_t n = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(cache.folder() / "Content.QV", ec), end; !ec && it != end;
       it.increment(ec)) {
    n += it->is_regular_file();
  }
  return n;
}

class PageCaptureTest : public ::testing::Test {
 protected:
  // Runs a download of `body` through the filter in chunks and returns its capture.
  std::unique_ptr<PageCapture> Download(std::string_view url, std::string_view body,
                                        bool capture = true) {
    PageFilter filter(tc.ctx(), cache, std::string(url), tc.clock().Now(), capture);
    std::string handedOn;
    for (std::size_t at = 0; at < body.size(); at += 5) {
      const auto out = filter.Pass(Bytes(body.substr(at, 5)));
      handedOn.append(reinterpret_cast<const char*>(out.data()), out.size());
    }
    EXPECT_EQ(handedOn, body);  // the browser gets exactly what the server sent
    return filter.Finish(std::string(kNoCache));
  }
  std::vector<urlmon::VersionRecord> Index(std::string_view url) {
    std::string indexUrl;
    EXPECT_EQ(urlmon::VersionIndexUrl(url, indexUrl), S_OK);
    platform::CacheEntry e;
    if (cache.RetrieveEntryFile(indexUrl, e) != 0) return {};
    return urlmon::ParseVersionIndex(Bytes(Slurp(e.localFile)));
  }

  TestContext tc;
  platform::UrlCache cache{tc.root(), tc.clock()};
};

TEST(CaptureRules, HeadersThatForbidCachingTurnCaptureOn) {
  EXPECT_FALSE(PageForbidsCaching("", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"));
  EXPECT_TRUE(PageForbidsCaching("", "HTTP/1.1 200 OK\r\ncache-control: private, NO-STORE\r\n"));
  EXPECT_TRUE(PageForbidsCaching("", "HTTP/1.1 200 OK\nPragma:No-Cache\n"));
  EXPECT_TRUE(PageForbidsCaching("GET / HTTP/1.1\r\nCache-Control: no-cache\r\n", ""));
  EXPECT_TRUE(PageForbidsCaching("Pragma: no-cache", ""));
  EXPECT_TRUE(PageForbidsCaching("", "Vary: Accept-Encoding\r\n"));
  EXPECT_TRUE(PageForbidsCaching("VARY : *\r\n", ""));
  // Whole header names: these are other headers.
  EXPECT_FALSE(PageForbidsCaching("", "X-Cache-Control: no-cache\r\nX-Vary: 1\r\n"));
  EXPECT_FALSE(PageForbidsCaching("", "Expires: no-cache\r\n"));
}

TEST(CaptureRules, ContentHashAndReadBuffer) {
  // h = h ^ ((h << 5) + (h >> 2) + b): 'A' gives 0x41, then 'B' gives 0x41 ^ (0x820 + 0x10 + 0x42).
  EXPECT_EQ(ContinueContentHash(0, Bytes("A")), 0x41u);
  EXPECT_EQ(ContinueContentHash(0, Bytes("AB")), 0x41u ^ (0x820u + 0x10u + 0x42u));
  EXPECT_EQ(ContinueContentHash(ContinueContentHash(0, Bytes("hello ")), Bytes("world")),
            ContinueContentHash(0, Bytes("hello world")));
  EXPECT_EQ(ReadBufferSize(1), kMinReadBuffer);
  EXPECT_EQ(ReadBufferSize(20000), 20000u);
  EXPECT_EQ(ReadBufferSize(1 << 20), kMaxReadBuffer);
}

TEST_F(PageCaptureTest, CaptureNeedsARunningTracerCachingForbiddenAndNoOptOut) {
  const std::string_view none = "HTTP/1.1 200 OK\r\n";
  EXPECT_TRUE(CaptureDecision(tc.ctx(), S_OK, kPage, "", kNoCache));
  EXPECT_FALSE(CaptureDecision(tc.ctx(), S_OK, kPage, "", none));
  EXPECT_FALSE(CaptureDecision(tc.ctx(), S_FALSE, kPage, "", kNoCache));
  EXPECT_FALSE(CaptureDecision(tc.ctx(), S_OK, "https://bank.test/", "", kNoCache));
  EXPECT_FALSE(CaptureDecision(tc.ctx(), S_OK, "", "", kNoCache));
  ASSERT_EQ(tc.registry().SetValue(platform::Hive::CurrentUser, kWebHistoryKey,
                                   kDisableCacheChanging, platform::RegValue::Sz("1")),
            0);
  EXPECT_TRUE(CaptureDecision(tc.ctx(), S_OK, kPage, "", kNoCache));  // not a DWORD: ignored
  ASSERT_EQ(tc.registry().SetValue(platform::Hive::CurrentUser, kWebHistoryKey,
                                   kDisableCacheChanging, platform::RegValue::Dword(1)),
            0);
  EXPECT_FALSE(CaptureDecision(tc.ctx(), S_OK, kPage, "", kNoCache));
}

TEST_F(PageCaptureTest, WithoutCaptureBytesOnlyFlowThrough) {
  EXPECT_EQ(Download(kPage, "<p>not kept</p>", false), nullptr);
  EXPECT_EQ(Download(kPage, ""), nullptr);  // nothing kept, nothing queued
  EXPECT_EQ(CopyFiles(cache), 0u);
}

TEST_F(PageCaptureTest, ACaptureKeepsTheBytesAndItsFileGoesWithIt) {
  const std::string body = "<html><body>today's news, long enough for several chunks</body></html>";
  auto capture = Download(kPage, body);
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(capture->byteCount(), body.size());
  EXPECT_EQ(capture->contentHash(), ContinueContentHash(0, Bytes(body)));
  EXPECT_EQ(capture->headers(), kNoCache);
  EXPECT_EQ(Slurp(capture->file()), body);
  const fs::path file = capture->file();
  capture.reset();  // dropped before it reached the cache
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(PageCaptureTest, AnUnchangedPageAddsNoRecordAChangedOneAddsRecordAndCopy) {
  const std::string v1 = "<p>version one</p>", v2 = "<p>version two, longer</p>";
  auto first = Download(kPage, v1);
  ASSERT_EQ(StoreCapture(tc.ctx(), cache, *first), S_OK);
  tc.clock().Advance(60s);
  auto again = Download(kPage, v1);
  EXPECT_EQ(StoreCapture(tc.ctx(), cache, *again), S_FALSE);
  ASSERT_EQ(Index(kPage).size(), 1u);
  tc.clock().Advance(60s);
  auto second = Download(kPage, v2);
  ASSERT_EQ(StoreCapture(tc.ctx(), cache, *second), S_OK);
  const auto records = Index(kPage);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].byteCount, v2.size());
  EXPECT_LT(records[0].captured, records[1].captured);
  EXPECT_EQ(CopyFiles(cache), 3u);  // two copies and the index; the repeat's file is gone

  // Each version is a content entry in the archive group, found by the web history.
  std::vector<platform::CacheGroup> groups;
  ASSERT_EQ(cache.EnumGroups(groups), 0);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].name, urlmon::kArchiveGroupName);
  for (const auto& [r, body] : {std::pair{records[0], v1}, std::pair{records[1], v2}}) {
    std::string contentUrl;
    ASSERT_EQ(urlmon::ContentUrl(kPage, r.byteCount, r.contentHash, contentUrl), S_OK);
    platform::CacheEntry e;
    ASSERT_EQ(cache.RetrieveEntryFile(contentUrl, e), 0);
    EXPECT_EQ(Slurp(e.localFile), body);
    EXPECT_EQ(e.originalUrl, kPage);
    EXPECT_EQ(e.groups, std::vector<platform::CacheGroupId>{groups[0].id});
    platform::CacheEntry found;
    ASSERT_EQ(urlmon::LookupPartEntry(cache, kPage, FileTimeToDate(r.captured + 1), found), S_OK);
    EXPECT_EQ(Slurp(found.localFile), body);
  }
}

TEST_F(PageCaptureTest, AnEarlierCaptureArrivingLateKeepsTheIndexInOrder) {
  const FileTime t0 = tc.clock().Now();
  tc.clock().Advance(120s);
  auto late = Download(kPage, "<p>newer</p>");
  ASSERT_EQ(StoreCapture(tc.ctx(), cache, *late), S_OK);
  tc.clock().SetNow(t0);
  auto early = Download(kPage, "<p>older</p>");
  ASSERT_EQ(StoreCapture(tc.ctx(), cache, *early), S_OK);
  const auto records = Index(kPage);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].captured, t0);
  EXPECT_LT(records[0].captured, records[1].captured);
}

TEST_F(PageCaptureTest, APrivateUrlIsNeverWrappedAndLeavesNoFile) {
  auto capture = Download("http://quillon/v?http://x.test/", "<p>x</p>");
  ASSERT_NE(capture, nullptr);
  EXPECT_EQ(StoreCapture(tc.ctx(), cache, *capture), E_INVALIDARG);
  EXPECT_EQ(CopyFiles(cache), 0u);
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventContentWriteFailed});
}

TEST_F(PageCaptureTest, TheWorkerStoresQueuedCapturesAndDropsWhatDoesNotFit) {
  {
    CaptureWorker worker(tc.ctx(), cache);
    ASSERT_TRUE(worker.Enqueue(Download(kPage, "<p>one</p>")));
    ASSERT_TRUE(worker.WaitIdle(30s));
    EXPECT_EQ(Index(kPage).size(), 1u);
    tc.clock().Advance(1s);
    ASSERT_TRUE(worker.Enqueue(Download(kPage, "<p>two</p>")));
    worker.Stop();  // what was queued is stored before the thread ends
    EXPECT_EQ(Index(kPage).size(), 2u);
    auto late = Download(kPage, "<p>three</p>");
    const fs::path file = late->file();
    EXPECT_FALSE(worker.Enqueue(std::move(late)));
    EXPECT_FALSE(fs::exists(file));  // a dropped capture leaves no file behind
  }
  EXPECT_EQ(CopyFiles(cache), 3u);
}

TEST_F(PageCaptureTest, AFullQueueDropsTheCaptureAndItsFile) {
  // The worker is held inside the cache's writers' lock, so captures pile up.
  std::int32_t err = 0;
  fs::create_directories(cache.folder() / "Index.QV");
  auto lock = std::make_unique<platform::FileLock>(cache.folder() / "Index.QV" / "lock", err);
  ASSERT_EQ(err, 0);
  CaptureWorker worker(tc.ctx(), cache);
  // At most the queue's capacity plus the one the worker holds get in; the next is dropped.
  std::size_t accepted = 0;
  bool dropped = false;
  for (std::size_t i = 0; i < kCaptureQueueCapacity + 2 && !dropped; ++i) {
    tc.clock().Advance(1s);
    auto c = Download(kPage, "<p>" + std::to_string(i) + "</p>");
    const fs::path file = c->file();
    if (worker.Enqueue(std::move(c))) {
      ++accepted;
    } else {
      dropped = true;
      EXPECT_FALSE(fs::exists(file));
    }
  }
  EXPECT_TRUE(dropped);
  EXPECT_GE(accepted, kCaptureQueueCapacity);
  EXPECT_LE(accepted, kCaptureQueueCapacity + 1);
  lock.reset();
  ASSERT_TRUE(worker.WaitIdle(60s));
  EXPECT_EQ(Index(kPage).size(), accepted);
}

}  // namespace
}  // namespace qv::browser
