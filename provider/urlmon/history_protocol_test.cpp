// The "history" protocol: what it serves and reports, its errors, URL parsing and combining,
// header queries, and the qvhistory tool.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "context/test_context.h"
#include "provider/urlmon/history_protocol.h"
#include "provider/urlmon/kiv_urlmon.h"
#include "provider/urlmon/private_urls.h"

namespace qv::urlmon {
namespace {
namespace fs = std::filesystem;
using namespace qv::platform;

struct Event {
  std::string what;
  std::uint32_t code = 0;
  std::string text;
  HRESULT hr = S_OK;
};

class RecordingSink final : public IInternetProtocolSink {
 public:
  HRESULT Switch(std::uint32_t) override {
    events.push_back({"switch", 0, "", S_OK});
    return S_OK;
  }
  HRESULT ReportProgress(BindStatus s, std::string_view text) override {
    events.push_back({"progress", s, std::string(text)});
    return S_OK;
  }
  HRESULT ReportData(std::uint32_t flags, std::uint32_t, std::uint32_t) override {
    events.push_back({"data", flags, "", S_OK});
    return S_OK;
  }
  HRESULT ReportResult(HRESULT hr, std::uint32_t error, std::string_view) override {
    events.push_back({"result", error, "", hr});
    return S_OK;
  }
  std::vector<Event> events;
};

class HistoryProtocolTest : public ::testing::Test {
 protected:
  HistoryProtocolTest() : cache_(tc_.root(), tc_.clock()) {}

  void Put(std::string_view url, std::string_view body, std::string_view headers) {
    fs::path f;
    ASSERT_EQ(cache_.CreateEntryFile(url, "htm", f), 0);
    std::ofstream(f, std::ios::binary) << body;
    CommitOptions o;
    o.headers = std::string(headers);
    ASSERT_EQ(cache_.CommitEntry(url, f, o), 0);
  }

  // A framed page from the Internet: top (archived), and two frames.
  std::string MakeFramedPage() {
    const std::string html = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nETag: \"e1\"\r\n\r\n";
    Put("http://www.example.org/site/", "<html><frameset>", html);
    Put("http://www.example.org/site/left.txt", "left words",
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    Put("http://www.example.org/site/right.txt", "right words",
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    const std::string url = "http://www.example.org/site/";
    const std::string frames =
        "http://www.example.org/site/\n\n\n\nf\n"
        "http://www.example.org/site/left.txt\n\n\n\n\n"
        "http://www.example.org/site/right.txt\n\n\n\n\n";
    std::string file, cached;
    KivUrlmon urlmon(tc_.ctx());
    EXPECT_EQ(urlmon.CreateShortcut(&url, tc_.clock().NowDate(), &url, &frames, {}, &file, &cached),
              S_OK);
    return cached;
  }

  std::string ReadAll(KivHistoryApp& p) {
    std::string out;
    std::uint8_t buf[4];
    for (;;) {
      std::uint32_t n = 0;
      const HRESULT hr = p.Read(buf, n);
      out.append(reinterpret_cast<char*>(buf), n);
      if (hr != S_OK) {
        EXPECT_EQ(hr, S_FALSE);
        return out;
      }
    }
  }

  TestContext tc_;
  UrlCache cache_;
};

TEST_F(HistoryProtocolTest, ServesTheStoredCopyWithItsProgress) {
  const std::string history = MakeFramedPage();
  KivHistoryApp p(tc_.ctx());
  RecordingSink sink;
  ASSERT_EQ(p.Start(history, &sink, 0), S_OK);
  EXPECT_EQ(ReadAll(p), "<html><frameset>");
  ASSERT_EQ(sink.events.size(), 5u);
  EXPECT_EQ(sink.events[0].code, BINDSTATUS_FINDINGRESOURCE);
  EXPECT_EQ(sink.events[0].text, history);
  EXPECT_EQ(sink.events[1].code, BINDSTATUS_REDIRECTING);
  EXPECT_EQ(sink.events[1].text, history);
  EXPECT_EQ(sink.events[2].code, BINDSTATUS_CONNECTING);
  EXPECT_EQ(sink.events[2].text, "http://www.example.org/site/");
  EXPECT_EQ(sink.events[3].what, "data");
  EXPECT_EQ(sink.events[3].code, BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION |
                                     BSCF_DATAFULLYAVAILABLE | BSCF_AVAILABLEDATASIZEUNKNOWN);
  EXPECT_EQ(sink.events[4].hr, S_OK);

  // A frame by its URL; the canonical form names the part as stored.
  KivHistoryApp f(tc_.ctx());
  RecordingSink fs;
  ASSERT_EQ(f.Start(history + "?url=http://www.example.org/site/left.txt/#x", &fs, 0), S_OK);
  EXPECT_EQ(ReadAll(f), "left words");
  EXPECT_EQ(fs.events[1].text, history + "?url=http://www.example.org/site/left.txt#x");
  // The archived top part is named by its page URL.
  KivHistoryApp t(tc_.ctx());
  ASSERT_EQ(t.Start(history + "?url=http://www.example.org/site", &fs, 0), S_OK);
  EXPECT_EQ(ReadAll(t), "<html><frameset>");
}

TEST_F(HistoryProtocolTest, EveryFailureIsReportedWithItsStatus) {
  const std::string history = MakeFramedPage();
  struct Case {
    std::string url;
    HRESULT hr;
    std::uint32_t status;
  };
  const std::vector<Case> cases = {
      {"history:A", INET_E_INVALID_URL, 500},
      {"history:0A?url=x", INET_E_INVALID_URL, 500},
      {"history:0F1", INET_E_DATA_NOT_AVAILABLE, 404},
      {history + "?url=http://www.example.org/site/unknown-frame.html", INET_E_INVALID_REQUEST, 404},
  };
  for (const auto& c : cases) {
    KivHistoryApp p(tc_.ctx());
    RecordingSink sink;
    EXPECT_EQ(p.Start(c.url, &sink, 0), c.hr) << c.url;
    ASSERT_FALSE(sink.events.empty());
    EXPECT_EQ(sink.events.back().hr, c.hr) << c.url;
    EXPECT_EQ(sink.events.back().code, c.status) << c.url;
    std::uint8_t b[8];
    std::uint32_t n = 0;
    EXPECT_EQ(p.Read(b, n), INET_E_DOWNLOAD_FAILURE);
  }
  // A copy gone from the cache.
  ASSERT_EQ(cache_.DeleteEntry("http://www.example.org/site/right.txt"), 0);
  KivHistoryApp p(tc_.ctx());
  RecordingSink sink;
  EXPECT_EQ(p.Start(history + "?url=http://www.example.org/site/right.txt", &sink, 0),
            INET_E_DATA_NOT_AVAILABLE);
  EXPECT_EQ(sink.events.back().code, 404u);
  // A damaged shortcut file reads as no data.
  ResolvedHistoryUrl r;
  ASSERT_EQ(ResolveHistoryUrl(tc_.root(), history, r), S_OK);
  std::ofstream(r.file, std::ios::binary | std::ios::trunc) << "QV6W\x01\0\0\0garbage";
  EXPECT_EQ(ResolveHistoryUrl(tc_.root(), history, r), INET_E_DATA_NOT_AVAILABLE);
}

TEST_F(HistoryProtocolTest, ParseOnlyAsyncStartAndAbort) {
  const std::string history = MakeFramedPage();
  KivHistoryApp p(tc_.ctx());
  EXPECT_EQ(p.Start(history, nullptr, PI_PARSE_URL), S_OK);
  EXPECT_EQ(p.Start("history:nothex", nullptr, PI_PARSE_URL), S_FALSE);
  EXPECT_EQ(p.Start(history, nullptr, 0), E_INVALIDARG);

  RecordingSink sink;
  ASSERT_EQ(p.Start(history, &sink, PI_FORCE_ASYNC), E_PENDING);
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(sink.events[0].what, "switch");
  ASSERT_EQ(p.Continue(0), S_OK);
  EXPECT_EQ(ReadAll(p), "<html><frameset>");

  EXPECT_EQ(p.Abort(S_OK, 0), S_OK);
  EXPECT_EQ(sink.events.back().hr, E_ABORT);
  EXPECT_EQ(p.Abort(E_OUTOFMEMORY, 0), S_OK);
  EXPECT_EQ(sink.events.back().hr, E_OUTOFMEMORY);
  EXPECT_EQ(p.Suspend(), E_NOTIMPL);
  EXPECT_EQ(p.Resume(), E_NOTIMPL);
  EXPECT_EQ(p.CompareUrl("a", "b"), E_NOTIMPL);
  EXPECT_EQ(p.Terminate(0), S_OK);
  EXPECT_EQ(p.LockRequest(0), S_OK);
  EXPECT_EQ(p.UnlockRequest(), S_OK);
}

TEST_F(HistoryProtocolTest, QueriesKeepTheCopyOutOfTheCacheAndPointAtTheRealSite) {
  const std::string history = MakeFramedPage();
  KivHistoryApp p(tc_.ctx());
  std::string out;
  EXPECT_EQ(p.QueryInfo(HTTP_QUERY_CACHE_CONTROL, out), INET_E_DOWNLOAD_FAILURE);
  RecordingSink sink;
  ASSERT_EQ(p.Start(history, &sink, 0), S_OK);
  ASSERT_EQ(p.QueryInfo(HTTP_QUERY_CACHE_CONTROL, out), S_OK);
  EXPECT_EQ(out, "no-store");
  ASSERT_EQ(p.QueryInfo(HTTP_QUERY_CONTENT_BASE, out), S_OK);
  EXPECT_EQ(out, "http://www.example.org/site/");
  ASSERT_EQ(p.QueryInfo(HTTP_QUERY_CONTENT_TYPE, out), S_OK);
  EXPECT_EQ(out, "text/html");
  ASSERT_EQ(p.QueryInfo(HTTP_QUERY_ETAG, out), S_OK);
  EXPECT_EQ(out, "\"e1\"");
  ASSERT_EQ(p.QueryInfo(HTTP_QUERY_STATUS_CODE, out), S_OK);
  EXPECT_EQ(out, "200");
  EXPECT_EQ(p.QueryInfo(HTTP_QUERY_LOCATION, out), HresultFromWin32(ERROR_HTTP_HEADER_NOT_FOUND));
}

TEST_F(HistoryProtocolTest, ParsingAndCombiningUrls) {
  const std::string history = MakeFramedPage();
  KivHistoryApp p(tc_.ctx());
  std::string out;
  ASSERT_EQ(p.ParseUrl(history + "#a", PARSE_CANONICALIZE, out), S_OK);
  EXPECT_EQ(out, history + "#a");
  EXPECT_EQ(p.ParseUrl("history:x", PARSE_CANONICALIZE, out), INET_E_INVALID_URL);
  ASSERT_EQ(p.ParseUrl(history, PARSE_SECURITY_URL, out), S_OK);
  EXPECT_EQ(out, "http://www.example.org/site/");
  EXPECT_EQ(p.ParseUrl(history, PARSE_DOMAIN, out), INET_E_DEFAULT_ACTION);

  // The top part has frames: links to its frames stay in the history.
  ASSERT_EQ(p.CombineUrl(history, "left.txt#p2", out), S_OK);
  EXPECT_EQ(out, history + "?url=http://www.example.org/site/left.txt#p2");
  ASSERT_EQ(p.CombineUrl(history, "../other.html", out), S_OK);
  EXPECT_EQ(out, "http://www.example.org/other.html");
  // A frame without frames of its own links to the real site.
  ASSERT_EQ(p.CombineUrl(history + "?url=http://www.example.org/site/left.txt", "right.txt", out),
            S_OK);
  EXPECT_EQ(out, "http://www.example.org/site/right.txt");
  EXPECT_EQ(p.CombineUrl("history:0F1", "x", out), INET_E_DEFAULT_ACTION);
}

TEST_F(HistoryProtocolTest, RegistrationNamesTheProtocolHandler) {
  ASSERT_EQ(RegisterWebHistoryClasses(tc_.ctx()), S_OK);
  RegValue v;
  ASSERT_EQ(tc_.registry().GetValue(Hive::ClassesRoot, kProtocolHandlerKey, "CLSID", v), 0);
  EXPECT_EQ(v.text, "{BB136564-5C02-42ED-9B46-70ED2343816E}");
  std::shared_ptr<IInternetProtocol> proto;
  EXPECT_EQ(tc_.classes().CreateInstance(CLSID_KivHistoryApp, proto), S_OK);
  std::shared_ptr<IKivUrlmon> urlmon;
  EXPECT_EQ(tc_.classes().CreateInstance(CLSID_KivUrlmon, urlmon), S_OK);
}

#ifdef QVHISTORY_PATH
std::pair<int, std::string> RunTool(const fs::path& root, const std::string& args) {
  const std::string cmd = "QV_ROOT='" + root.string() + "' '" QVHISTORY_PATH "' " + args + " 2>/dev/null";
  FILE* f = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[256];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  const int status = ::pclose(f);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST_F(HistoryProtocolTest, QvhistoryWritesTheServedBytes) {
  const std::string history = MakeFramedPage();
  EXPECT_EQ(RunTool(tc_.root(), "'" + history + "'"), std::make_pair(0, std::string("<html><frameset>")));
  EXPECT_EQ(RunTool(tc_.root(), "'" + history + "?url=http://www.example.org/site/left.txt'"),
            std::make_pair(0, std::string("left words")));
  EXPECT_EQ(RunTool(tc_.root(), "history:zz").first, 2);
  EXPECT_EQ(RunTool(tc_.root(), "'" + history + "?url=http://nowhere/'").first, 3);
  EXPECT_EQ(RunTool(tc_.root(), "").first, 1);
  EXPECT_EQ(RunTool(tc_.root(), "--help").first, 0);

  Put("http://intranet/notes.txt", "notes", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
  const auto [code, out] = RunTool(tc_.root(), "--shortcut http://intranet/notes.txt --title Notes");
  ASSERT_EQ(code, 0);
  const std::string kept = out.substr(out.find('\n') + 1, out.size() - out.find('\n') - 2);
  EXPECT_TRUE(kept.starts_with("history:")) << out;
  EXPECT_EQ(RunTool(tc_.root(), kept), std::make_pair(0, std::string("notes")));
  EXPECT_EQ(RunTool(tc_.root(), "--shortcut https://secure/").first, 3);
}
#endif

}  // namespace
}  // namespace qv::urlmon
