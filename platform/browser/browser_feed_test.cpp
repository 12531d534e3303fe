#include "platform/browser/browser_feed.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/hresult.h"
#include "common/temp_dir.h"
#include "context/test_context.h"
#include "provider/urlmon/cache_lookup.h"

namespace qv::platform {
namespace {

TEST(UrlHistory, KeepsTitlesTopLevelFlagsAndCounts) {
  TempDir dir;
  std::unique_ptr<UrlHistory> h;
  ASSERT_EQ(UrlHistory::Open(dir.path(), h), 0);
  HistoryEntry e;
  EXPECT_EQ(h->Query("http://example.test/", e), win32::ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(h->AddVisit("http://example.test/a#top", "A page", true, 100), 0);
  ASSERT_EQ(h->AddVisit("http://example.test/a", "", false, 50), 0);
  ASSERT_EQ(h->Query("http://example.test/a#other", e), 0);
  EXPECT_EQ(e.title, "A page");  // an empty title keeps the stored one
  EXPECT_TRUE(e.topLevel);       // once top level, always
  EXPECT_EQ(e.lastVisit, 100u);
  EXPECT_EQ(e.visits, 2u);
  // Quotes and odd bytes are data, never SQL.
  ASSERT_EQ(h->AddVisit("http://x.test/'; DROP TABLE history; --", "t'", true, 1), 0);
  ASSERT_EQ(h->Query("http://x.test/'; DROP TABLE history; --", e), 0);
  EXPECT_EQ(e.title, "t'");
  EXPECT_EQ(h->AddVisit("", "t", true, 1), win32::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(h->AddVisit(std::string(kMaxHistoryUrl + 1, 'a'), "t", true, 1),
            win32::ERROR_INVALID_PARAMETER);
  // A second connection sees what the first wrote.
  std::unique_ptr<UrlHistory> other;
  ASSERT_EQ(UrlHistory::Open(dir.path(), other), 0);
  EXPECT_EQ(other->Query("http://example.test/a", e), 0);
}

TEST(BrowserFeed, ShowingAPageCachesItsPartsAndGivesTheItemString) {
  TempDir dir;
  ManualClock clock(*DateToFileTime(46000.0));
  UrlCache cache(dir.path(), clock);
  std::unique_ptr<UrlHistory> history;
  ASSERT_EQ(UrlHistory::Open(dir.path(), history), 0);
  BrowserFeed feed(cache, *history, clock);
  std::string item;
  ASSERT_EQ(feed.ShowPage("Frames", {{"http://site.test/", "<frameset>"}, {"http://site.test/f1", "<p>one"}},
                          item),
            0);
  // Five fields per part, the top page first: the first line is the visit's identifier.
  EXPECT_EQ(item, "http://site.test/\ntext/html\nutf-8\n\nf\n"
                  "http://site.test/f1\ntext/html\nutf-8\n\n\n");
  CacheEntry entry;
  ASSERT_EQ(cache.RetrieveEntryFile("http://site.test/f1", entry), 0);
  std::ifstream in(entry.localFile);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "<p>one");
  HistoryEntry h;
  ASSERT_EQ(history->Query("http://site.test/f1", h), 0);
  EXPECT_FALSE(h.topLevel);
  ASSERT_EQ(history->Query("http://site.test/", h), 0);
  EXPECT_TRUE(h.topLevel);
  EXPECT_EQ(h.title, "Frames");
  EXPECT_EQ(feed.ShowPage("x", {{"http://bad.test/\nx", ""}}, item), win32::ERROR_INVALID_PARAMETER);
}

TEST(BrowserFeed, APartTheCacheRefusesLeavesNoCopyBehind) {
  TempDir dir;
  ManualClock clock(*DateToFileTime(46000.0));
  UrlCache cache(dir.path(), clock);
  std::unique_ptr<UrlHistory> history;
  ASSERT_EQ(UrlHistory::Open(dir.path(), history), 0);
  // Headers too large for an index file: the commit fails after the copy was written.
  PagePart part{"http://site.test/", "<p>page", std::string(2 << 20, 'x')};
  std::string item;
  EXPECT_NE(BrowserFeed(cache, *history, clock).ShowPage("Page", {part}, item), 0);
  std::size_t copies = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(cache.folder())) {
    if (e.is_regular_file() && e.path().parent_path().parent_path().filename() == "Content.QV") {
      ++copies;
    }
  }
  EXPECT_EQ(copies, 0u);
}

TEST(BrowserFeed, TheAddOnCapturesNoCachePagesOnlyWhileTheTracerRuns) {
  TestContext tc;
  UrlCache cache(tc.root(), tc.clock());
  std::unique_ptr<UrlHistory> history;
  ASSERT_EQ(UrlHistory::Open(tc.root(), history), 0);
  BrowserFeed feed(cache, *history, tc.clock());
  HRESULT running = S_FALSE;
  feed.AttachAddOn(tc.ctx(), [&] { return running; });
  PagePart page{"http://site.test/live", "<p>9:00</p>"};
  page.noCache = true;
  std::string item;
  auto lookup = [&](std::string& text) {
    CacheEntry e;
    const HRESULT hr = urlmon::LookupPartEntry(cache, page.url, tc.clock().NowDate(), e);
    if (Succeeded(hr)) {
      std::ifstream in(e.localFile);
      std::stringstream ss;
      ss << in.rdbuf();
      text = ss.str();
    }
    return hr;
  };
  std::string text;
  ASSERT_EQ(feed.ShowPage("Live", {page}, item), 0);
  EXPECT_EQ(item, "http://site.test/live\ntext/html\nutf-8\n\n\n");
  EXPECT_EQ(lookup(text), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));  // nothing kept
  running = S_OK;
  tc.clock().Advance(std::chrono::seconds(5));
  ASSERT_EQ(feed.ShowPage("Live", {page}, item), 0);
  ASSERT_EQ(lookup(text), S_OK);
  EXPECT_EQ(text, "<p>9:00</p>");
  page.html = "<p>9:05</p>";
  tc.clock().Advance(std::chrono::seconds(5));
  ASSERT_EQ(feed.ShowPage("Live", {page}, item), 0);
  ASSERT_EQ(lookup(text), S_OK);
  EXPECT_EQ(text, "<p>9:05</p>");
}

}  // namespace
}  // namespace qv::platform
