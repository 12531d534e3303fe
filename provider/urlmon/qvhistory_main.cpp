// qvhistory: writes what the "history" protocol serves for a history URL to standard output.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "provider/urlmon/history_protocol.h"
#include "provider/urlmon/kiv_urlmon.h"

namespace {

constexpr std::string_view kUsage =
    "usage: qvhistory [--verbose] URL\n"
    "       qvhistory --shortcut PAGE-URL [--title TEXT]\n"
    "Writes the stored copy of a visited page, named by its history URL\n"
    "(history:<bucket><hash>[?url=<frame URL>]), to standard output.\n"
    "With --shortcut, keeps a page found in the URL cache (see qvurlcache) as a visited\n"
    "page now: prints the shortcut file and its history URL.\n"
    "State is read from QV_ROOT (default $XDG_DATA_HOME/quillon-vesper).\n"
    "  --verbose  report the protocol's progress on standard error\n"
    "Exit codes: 0 served, 1 usage, 2 malformed URL, 3 no such page, frame or\n"
    "stored copy, 4 the URL cache cannot be read, 5 output failed.\n";

class Sink final : public qv::platform::IInternetProtocolSink {
 public:
  explicit Sink(bool verbose) : verbose_(verbose) {}
  qv::HRESULT Switch(std::uint32_t) override { return qv::S_OK; }
  qv::HRESULT ReportProgress(qv::platform::BindStatus s, std::string_view text) override {
    if (verbose_) std::cerr << "progress " << s << ": " << text << "\n";
    return qv::S_OK;
  }
  qv::HRESULT ReportData(std::uint32_t flags, std::uint32_t, std::uint32_t) override {
    if (verbose_) std::cerr << "data flags 0x" << std::hex << flags << std::dec << "\n";
    return qv::S_OK;
  }
  qv::HRESULT ReportResult(qv::HRESULT hr, std::uint32_t error, std::string_view) override {
    if (verbose_) std::cerr << "result " << qv::FormatHresult(hr) << " (" << error << ")\n";
    return qv::S_OK;
  }

 private:
  bool verbose_;
};

int ExitCodeOf(qv::HRESULT hr) {
  using namespace qv::platform;
  if (hr == INET_E_INVALID_URL) return 2;
  if (hr == INET_E_INVALID_REQUEST || hr == INET_E_DATA_NOT_AVAILABLE) return 3;
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  bool verbose = false, shortcut = false;
  std::string url, title;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto a = args[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--verbose") {
      verbose = true;
    } else if (a == "--shortcut") {
      shortcut = true;
    } else if (a == "--title" && i + 1 < args.size()) {
      title = std::string(args[++i]);
    } else if (url.empty() && !a.starts_with("--")) {
      url = std::string(a);
    } else {
      std::cerr << "qvhistory: unexpected argument '" << a << "'\n" << kUsage;
      return 1;
    }
  }
  if (url.empty()) {
    std::cerr << kUsage;
    return 1;
  }
  qv::Installation installation(qv::platform::DefaultRoot());
  if (shortcut) {
    qv::urlmon::KivUrlmon urlmon(installation.context());
    std::string file, cached;
    const qv::HRESULT hr = urlmon.CreateShortcut(&url, installation.context().clock.NowDate(),
                                                 &title, nullptr, {}, &file, &cached);
    if (hr != qv::S_OK) {
      std::cerr << "qvhistory: " << url << ": " << qv::FormatHresult(hr) << " "
                << (hr == qv::S_FALSE ? "is not kept (secure page or nothing cached)"
                                      : qv::SystemMessage(hr))
                << "; put the page into the cache first (qvurlcache put)\n";
      return hr == qv::S_FALSE ? 3 : ExitCodeOf(hr);
    }
    std::cout << file << "\n" << cached << "\n";
    return 0;
  }
  qv::urlmon::KivHistoryApp protocol(installation.context());
  Sink sink(verbose);
  const qv::HRESULT hr = protocol.Start(url, &sink, 0);
  if (qv::Failed(hr)) {
    std::cerr << "qvhistory: " << url << ": " << qv::FormatHresult(hr) << " ";
    if (hr == qv::platform::INET_E_INVALID_URL) {
      std::cerr << "is not a history URL; it looks like history:0A1B2C3D4[?url=...]\n";
    } else if (hr == qv::platform::INET_E_INVALID_REQUEST) {
      std::cerr << "names a frame that this page does not have; drop the ?url= part\n";
    } else if (hr == qv::platform::INET_E_DATA_NOT_AVAILABLE) {
      std::cerr << "no stored page or copy; visit the page again to keep a new copy\n";
    } else {
      std::cerr << "the URL cache cannot be read; check QV_ROOT\n";
    }
    return ExitCodeOf(hr);
  }
  std::vector<std::uint8_t> buf(64 * 1024);
  for (;;) {
    std::uint32_t n = 0;
    const qv::HRESULT r = protocol.Read(buf, n);
    if (qv::Failed(r)) {
      std::cerr << "qvhistory: reading the copy failed: " << qv::FormatHresult(r) << "\n";
      return 4;
    }
    if (n > 0 && std::fwrite(buf.data(), 1, n, stdout) != n) {
      std::cerr << "qvhistory: writing to standard output failed\n";
      return 5;
    }
    if (r == qv::S_FALSE) break;
  }
  return std::fflush(stdout) == 0 ? 0 : 5;
}
