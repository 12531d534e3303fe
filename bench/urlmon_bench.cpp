// The web history's cost per visit: CreateShortcut for a page seen before (the common case:
// the file exists and is only read back), for a new page (cache lookup, archiving, a new
// file linked in), and reading a shortcut as the history protocol does. The floor for the
// repeat visit is reading the same file's bytes.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "context/test_context.h"
#include "platform/urlcache/file_io.h"
#include "platform/urlcache/url_cache.h"
#include "provider/urlmon/kiv_urlmon.h"
#include "provider/urlmon/shortcut_file.h"

namespace {

using namespace qv;
using namespace qv::urlmon;

constexpr const char* kHeaders = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";

void Put(platform::UrlCache& cache, const std::string& url, const std::string& body) {
  std::filesystem::path f;
  cache.CreateEntryFile(url, "htm", f);
  std::ofstream(f, std::ios::binary) << body;
  platform::CommitOptions o;
  o.headers = kHeaders;
  cache.CommitEntry(url, f, o);
}

const std::string kFrames =
    "http://intranet/site/\n\n\n\nf\n"
    "http://intranet/site/menu.html\n\n\n\n\n"
    "http://intranet/site/body.html\n\n\n\n\n";

void BM_RepeatVisit(benchmark::State& state) {
  TestContext tc;
  platform::UrlCache cache(tc.root(), tc.clock());
  const std::string body(20000, 'x');
  for (const char* u : {"http://intranet/site/", "http://intranet/site/menu.html",
                        "http://intranet/site/body.html"}) {
    Put(cache, u, "<html>" + body);
  }
  KivUrlmon urlmon(tc.ctx());
  const std::string url = "http://intranet/site/";
  std::string file, cached;
  urlmon.CreateShortcut(&url, tc.clock().NowDate(), &url, &kFrames, {}, &file, &cached);
  for (auto _ : state) {
    const HRESULT hr =
        urlmon.CreateShortcut(&url, tc.clock().NowDate(), &url, &kFrames, {}, &file, &cached);
    if (hr != S_OK) state.SkipWithError("CreateShortcut failed");
  }
}
BENCHMARK(BM_RepeatVisit);

void BM_NewPage(benchmark::State& state) {
  TestContext tc;
  platform::UrlCache cache(tc.root(), tc.clock());
  KivUrlmon urlmon(tc.ctx());
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string url = "http://intranet/page/" + std::to_string(n++);
    Put(cache, url, "<html>" + std::string(20000, static_cast<char>('a' + n % 26)));
    state.ResumeTiming();
    std::string file, cached;
    if (urlmon.CreateShortcut(&url, tc.clock().NowDate(), &url, nullptr, {}, &file, &cached) !=
        S_OK) {
      state.SkipWithError("CreateShortcut failed");
    }
  }
}
BENCHMARK(BM_NewPage);

void BM_ReadShortcut(benchmark::State& state) {
  TestContext tc;
  Shortcut s;
  for (int i = 0; i < 3; ++i) {
    s.parts.push_back({"http://intranet/site/" + std::to_string(i) + ".html", kKindHtml, 0, 20006,
                       "utf-8", "Content.QV/1a/page[1].htm", 2});
  }
  s.title = "A page";
  const auto path = tc.root() / "x.q6w";
  CreateShortcutFile(path, s);
  for (auto _ : state) {
    Shortcut back;
    benchmark::DoNotOptimize(ReadShortcutFile(path, back));
  }
}
BENCHMARK(BM_ReadShortcut);

void BM_ReadBytesFloor(benchmark::State& state) {
  TestContext tc;
  Shortcut s;
  for (int i = 0; i < 3; ++i) {
    s.parts.push_back({"http://intranet/site/" + std::to_string(i) + ".html", kKindHtml, 0, 20006,
                       "utf-8", "Content.QV/1a/page[1].htm", 2});
  }
  const auto path = tc.root() / "x.q6w";
  CreateShortcutFile(path, s);
  for (auto _ : state) {
    std::vector<std::uint8_t> bytes;
    benchmark::DoNotOptimize(platform::ReadWholeFile(path, 1 << 20, bytes));
  }
}
BENCHMARK(BM_ReadBytesFloor);

}  // namespace
BENCHMARK_MAIN();
