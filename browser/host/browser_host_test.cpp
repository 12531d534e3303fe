#include "browser/host/browser_host.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/utf.h"
#include "context/test_context.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "provider/urlmon/cache_lookup.h"
#include "provider/urlmon/private_urls.h"

namespace qv::browser {
namespace {

using namespace std::chrono_literals;

std::string Base64(std::string_view s) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < s.size(); i += 3) {
    std::uint32_t n = static_cast<std::uint8_t>(s[i]) << 16;
    if (i + 1 < s.size()) n |= static_cast<std::uint8_t>(s[i + 1]) << 8;
    if (i + 2 < s.size()) n |= static_cast<std::uint8_t>(s[i + 2]);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += i + 1 < s.size() ? kAlphabet[n >> 6 & 63] : '=';
    out += i + 2 < s.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string PageJson(std::string_view url, std::string_view body, std::string_view headers,
                     bool top = true) {
  return R"({"type":"page","tab":1,"title":"News","url":")" + std::string(url) +
         R"(","top":)" + (top ? "true" : "false") + R"(,"responseHeaders":")" +
         std::string(headers) + R"(","body":")" + Base64(body) + R"("})";
}

class BrowserHostTest : public ::testing::Test {
 protected:
  BrowserHostTest() { EXPECT_EQ(platform::UrlHistory::Open(tc.root(), history), 0); }
  BrowserHost MakeHost() {
    auto rec = [this](std::string op) {
      return [this, op](std::uint64_t w, const char16_t* item, std::uint32_t flags) {
        calls.push_back(op + " " + std::to_string(w) + " " + (item ? Utf16ToUtf8(item) : "-") +
                        " " + std::to_string(flags));
        return running;
      };
    };
    return BrowserHost({tc.ctx(), *history, {rec("start"), rec("end")}, [this] { return running; },
                        [this](std::string_view) { return window; }});
  }
  std::string Copy(std::string_view url) {
    platform::UrlCache cache(tc.root(), tc.clock());
    platform::CacheEntry e;
    if (Failed(urlmon::LookupPartEntry(cache, url, tc.clock().NowDate(), e))) return "(none)";
    std::ifstream in(e.localFile, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::size_t IndexRecords(std::string_view url) {
    platform::UrlCache cache(tc.root(), tc.clock());
    std::string indexUrl;
    EXPECT_EQ(urlmon::VersionIndexUrl(url, indexUrl), S_OK);
    platform::CacheEntry e;
    if (cache.GetEntry(indexUrl, e) != 0) return 0;
    return e.size / urlmon::kVersionRecordSize;
  }

  TestContext tc;
  std::unique_ptr<platform::UrlHistory> history;
  std::vector<std::string> calls;
  HRESULT running = S_OK;
  std::uint64_t window = 42;
};

constexpr std::string_view kOk = R"({"ok":true})";

TEST_F(BrowserHostTest, NavigationAndDocumentBecomeOneCountedVisitClosingEndsIt) {
  BrowserHost host = MakeHost();
  EXPECT_EQ(host.Handle(R"({"type":"navigate","tab":1,"url":"http://s.test/"})"), kOk);
  EXPECT_EQ(host.Handle(R"({"type":"document","tab":1,"title":"S","frame":{"url":"http://s.test/",
              "hasFrames":true,"frames":[{"url":"http://s.test/"},{"url":"http://s.test/menu"}]}})"),
            kOk);
  EXPECT_EQ(host.Handle(R"({"type":"navigate","tab":1,"url":"https://bank.test/"})"), kOk);
  EXPECT_EQ(host.Handle(R"({"type":"closed","tab":1})"), kOk);
  EXPECT_EQ(host.Handle(R"({"type":"closed","tab":9})"), kOk);  // never seen: nothing to end
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "start 42 http://s.test/ 2",
                       "start 42 http://s.test/\n\n\n\nf\nhttp://s.test/menu\n\n\n\n\n 1",
                       "end 42 - 0", "end 42 - 0"}));
}

TEST_F(BrowserHostTest, ClosingABackgroundTabLeavesTheWindowsVisitAlone) {
  BrowserHost host = MakeHost();
  EXPECT_EQ(host.Handle(R"({"type":"navigate","tab":1,"url":"http://s.test/one"})"), kOk);
  EXPECT_EQ(host.Handle(R"({"type":"navigate","tab":2,"url":"http://s.test/two"})"), kOk);
  EXPECT_EQ(host.Handle(R"({"type":"closed","tab":1})"), kOk);  // tab 2 shows in the window
  EXPECT_EQ(host.Handle(R"({"type":"closed","tab":2})"), kOk);
  EXPECT_EQ(calls, (std::vector<std::string>{"start 42 http://s.test/one 2",
                                             "start 42 http://s.test/two 2", "end 42 - 0"}));
}

TEST_F(BrowserHostTest, WithoutABrowserWindowNothingIsReported) {
  window = 0;
  BrowserHost host = MakeHost();
  EXPECT_NE(host.Handle(R"({"type":"navigate","tab":1,"url":"http://s.test/"})").find("no window"),
            std::string::npos);
  EXPECT_TRUE(calls.empty());
  EXPECT_NE(host.Handle("{not json").find(R"("ok":false)"), std::string::npos);
}

TEST_F(BrowserHostTest, ACacheablePageIsKeptAsTheBrowsersCopyWithItsHistory) {
  BrowserHost host = MakeHost();
  const std::string body = std::string("<html>\0\xff bytes kept exactly</html>", 31);
  ASSERT_EQ(host.Handle(PageJson("http://s.test/a", body, "Content-Type: text/html")), kOk);
  EXPECT_EQ(Copy("http://s.test/a"), body);
  EXPECT_EQ(IndexRecords("http://s.test/a"), 0u);  // no capture of a cacheable page
  platform::HistoryEntry h;
  ASSERT_EQ(history->Query("http://s.test/a", h), 0);
  EXPECT_TRUE(h.topLevel);
  EXPECT_EQ(h.title, "News");
}

TEST_F(BrowserHostTest, NoCachePagesAreCapturedOncePerVersion) {
  BrowserHost host = MakeHost();
  const std::string url = "http://s.test/live";
  ASSERT_EQ(host.Handle(PageJson(url, "<p>one</p>", "Cache-Control: no-store")), kOk);
  tc.clock().Advance(10s);
  ASSERT_EQ(host.Handle(PageJson(url, "<p>one</p>", "Cache-Control: no-store")), kOk);
  ASSERT_EQ(host.Handle(R"({"type":"flush"})"), kOk);
  EXPECT_EQ(IndexRecords(url), 1u);
  EXPECT_EQ(Copy(url), "<p>one</p>");
  tc.clock().Advance(10s);
  ASSERT_EQ(host.Handle(PageJson(url, "<p>two</p>", "Vary: Cookie")), kOk);
  ASSERT_EQ(host.Handle(R"({"type":"flush"})"), kOk);
  EXPECT_EQ(IndexRecords(url), 2u);
  EXPECT_EQ(Copy(url), "<p>two</p>");
}

TEST_F(BrowserHostTest, NothingIsWrittenWhileTheTracerIsNotRunning) {
  running = S_FALSE;
  BrowserHost host = MakeHost();
  EXPECT_EQ(host.Handle(PageJson("http://s.test/a", "<p>a</p>", "")), R"({"ok":true,"tracer":false})");
  EXPECT_EQ(host.Handle(PageJson("http://s.test/b", "<p>b</p>", "Pragma: no-cache")),
            R"({"ok":true,"tracer":false})");
  ASSERT_EQ(host.Handle(R"({"type":"flush"})"), kOk);
  EXPECT_EQ(Copy("http://s.test/a"), "(none)");
  EXPECT_EQ(Copy("http://s.test/b"), "(none)");
  platform::HistoryEntry h;
  EXPECT_EQ(history->Query("http://s.test/a", h), win32::ERROR_FILE_NOT_FOUND);
}

TEST_F(BrowserHostTest, SecureBlankAndPrivatePagesAreNeverKept) {
  BrowserHost host = MakeHost();
  for (std::string url : {"https://bank.test/", "about:blank", "http://quillon/v?http://s.test/",
                          "http://s.test/\\r\\nx"}) {
    EXPECT_NE(host.Handle(PageJson(url, "<p>x</p>", "")).find("not kept"), std::string::npos) << url;
  }
  platform::UrlCache cache(tc.root(), tc.clock());
  std::vector<std::string> urls;
  ASSERT_EQ(cache.EnumEntries(urls), 0);
  EXPECT_TRUE(urls.empty());
}

}  // namespace
}  // namespace qv::browser
