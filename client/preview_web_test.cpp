// The web page preview: a visited page's stored copy, cleaned, from its shortcut file; frames,
// charsets, pages whose copy is gone and shortcuts that are not this user's.
#include "client/preview_web.h"

#include <gtest/gtest.h>

#include <fstream>

#include "context/test_context.h"
#include "platform/urlcache/url_cache.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/kiv_urlmon.h"
#include "provider/urlmon/private_urls.h"
#include "provider/urlmon/shortcut_file.h"

namespace qv::client {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHtml = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
constexpr std::string_view kText = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";

class WebPreviewTest : public ::testing::Test {
 protected:
  WebPreviewTest() : cache_(tc_.root(), tc_.clock()) {}

  void Put(std::string_view url, std::string_view body, std::string_view headers) {
    fs::path f;
    ASSERT_EQ(cache_.CreateEntryFile(url, "htm", f), 0);
    std::ofstream(f, std::ios::binary) << body;
    platform::CommitOptions o;
    o.headers = std::string(headers);
    ASSERT_EQ(cache_.CommitEntry(url, f, o), 0);
  }

  // Keeps the cached page as visited; the shortcut file, and its history URL in `history`.
  fs::path Visit(const std::string& url, const std::string* frames = nullptr,
                 std::string* history = nullptr) {
    urlmon::KivUrlmon urlmon(tc_.ctx());
    std::string file, cached;
    EXPECT_EQ(urlmon.CreateShortcut(&url, tc_.clock().NowDate(), &url, frames, {}, &file,
                                    &cached),
              S_OK);
    if (history) *history = cached;
    return file;
  }

  // Drops a page's copies from the cache: the one the browser stored and the one the web
  // history keeps under its own wrapped URL.
  void Forget(const fs::path& shortcut, std::string_view url) {
    urlmon::Shortcut s;
    ASSERT_EQ(urlmon::ReadShortcutFile(shortcut, s), S_OK);
    for (const auto& part : s.parts) {
      if (urlmon::UnwrapPrivateUrl(part.url) == url) cache_.DeleteEntry(part.url);
    }
    cache_.DeleteEntry(url);
  }

  TestContext tc_;
  platform::UrlCache cache_;
};

TEST_F(WebPreviewTest, APageIsShownFromItsStoredCopyWithoutScriptsOrRemoteContent) {
  Put("http://www.example.org/budget.html",
      "<html><body><h1>Budget 2026</h1><script>steal()</script>"
      "<img src=\"http://tracker.example.net/p.gif\"><p onclick=\"x()\">Totals</p></body></html>",
      kHtml);
  std::string history;
  const fs::path file = Visit("http://www.example.org/budget.html", nullptr, &history);
  std::string url;
  ASSERT_EQ(HistoryUrlOfShortcut(file, url), S_OK);
  EXPECT_EQ(url, history);

  std::string html;
  ASSERT_EQ(WebPreviewHtml(tc_.ctx(), file, {}, html), S_OK);
  EXPECT_NE(html.find("Budget 2026"), std::string::npos);
  EXPECT_NE(html.find("Totals"), std::string::npos);
  EXPECT_EQ(html.find("steal"), std::string::npos);
  EXPECT_EQ(html.find("onclick"), std::string::npos);
  EXPECT_EQ(html.find("tracker.example.net"), std::string::npos);
  // The user's setting lets remote images load.
  ASSERT_EQ(WebPreviewHtml(tc_.ctx(), file, {.allowRemote = true}, html), S_OK);
  EXPECT_NE(html.find("tracker.example.net"), std::string::npos);
  EXPECT_EQ(html.find("steal"), std::string::npos);
}

TEST_F(WebPreviewTest, FramesAreShownInPlaceOfTheirFramesetAndTextIsEscaped) {
  Put("http://intranet/site/", "<html><frameset cols=\"50%,50%\"></frameset></html>", kHtml);
  Put("http://intranet/site/left.txt", "left <b>words</b>", kText);
  Put("http://intranet/site/right.html", "<p>right words</p>", kHtml);
  const std::string frames =
      "http://intranet/site/\n\n\n\nf\n"
      "http://intranet/site/left.txt\n\n\n\n\n"
      "http://intranet/site/right.html\n\n\n\n\n";
  const fs::path file = Visit("http://intranet/site/", &frames);
  std::string html;
  ASSERT_EQ(WebPreviewHtml(tc_.ctx(), file, {}, html), S_OK);
  EXPECT_EQ(html.find("frameset"), std::string::npos);
  EXPECT_NE(html.find("<pre>left &lt;b&gt;words&lt;/b&gt;</pre>"), std::string::npos);
  EXPECT_NE(html.find("<p>right words</p>"), std::string::npos);
  EXPECT_LT(html.find("left"), html.find("right"));

  // One frame's copy gone: the other still shows; every copy gone: nothing is stored.
  Forget(file, "http://intranet/site/left.txt");
  ASSERT_EQ(WebPreviewHtml(tc_.ctx(), file, {}, html), S_OK);
  EXPECT_EQ(html.find("left"), std::string::npos);
  EXPECT_NE(html.find("right words"), std::string::npos);
  Forget(file, "http://intranet/site/right.html");
  EXPECT_EQ(WebPreviewHtml(tc_.ctx(), file, {}, html), S_FALSE);
  EXPECT_TRUE(html.empty());
}

TEST_F(WebPreviewTest, APageInAnotherCharsetIsConverted) {
  Put("http://intranet/menu.html", "<p>caf\xE9 cr\xE8me</p>", kHtml);
  const std::string frames = "http://intranet/menu.html\ntext/html\niso-8859-1\n\n\n";
  const fs::path file = Visit("http://intranet/menu.html", &frames);
  std::string html;
  ASSERT_EQ(WebPreviewHtml(tc_.ctx(), file, {}, html), S_OK);
  EXPECT_NE(html.find("caf\xC3\xA9 cr\xC3\xA8me"), std::string::npos);
}

TEST_F(WebPreviewTest, GoneOrForeignShortcutsShowNothing) {
  Put("http://intranet/notes.txt", "notes", kText);
  const fs::path file = Visit("http://intranet/notes.txt");
  std::string html;
  ASSERT_EQ(WebPreviewHtml(tc_.ctx(), file, {}, html), S_OK);

  // A copy of the shortcut outside the web history, named like one: not this user's page.
  const fs::path elsewhere = tc_.root() / "elsewhere" / file.parent_path().filename();
  fs::create_directories(elsewhere);
  fs::copy_file(file, elsewhere / file.filename());
  EXPECT_EQ(WebPreviewHtml(tc_.ctx(), elsewhere / file.filename(), {}, html), E_INVALIDARG);

  for (const char* bad : {"/h/WebHistory/3/report.q6w", "/h/WebHistory/10/1a.q6w",
                          "/h/WebHistory/zz/1a.q6w", "/h/WebHistory/3/1a.txt",
                          "/h/WebHistory/3/123456789.q6w"}) {
    std::string url;
    EXPECT_EQ(HistoryUrlOfShortcut(bad, url), E_INVALIDARG) << bad;
  }

  fs::remove(file);
  EXPECT_EQ(WebPreviewHtml(tc_.ctx(), file, {}, html), S_FALSE);
}

}  // namespace
}  // namespace qv::client
