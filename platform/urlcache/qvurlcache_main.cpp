// qvurlcache: puts pages into the URL cache and shows its entries, standing in for the browser
// that fills the cache on Windows.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "context/context.h"
#include "common/hresult.h"
#include "common/tool_args.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/urlcache/file_io.h"
#include "platform/urlcache/url_cache.h"

namespace {

constexpr std::string_view kUsage =
    "usage: qvurlcache put URL FILE [--type MIME]   copy FILE into the cache as URL's page\n"
    "       qvurlcache show URL                     print the entry of URL\n"
    "       qvurlcache list                         print every cached URL\n"
    "       qvurlcache delete URL                   remove the entry and its copy\n"
    "The cache lives in QV_ROOT/InternetCache (QV_ROOT default $XDG_DATA_HOME/quillon-vesper).\n";

// Pages are read whole into memory before they are copied.
constexpr std::size_t kMaxPageBytes = std::size_t{256} << 20;

int Fail(std::string_view what, std::int32_t err) {
  std::cerr << "qvurlcache: " << what << ": " << qv::SystemMessage(qv::HresultFromWin32(err))
            << " (error " << err << ")\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? 1 : 0;
  }
  qv::SystemClock clock;
  const auto root = qv::platform::DefaultRoot();
  (void)qv::PreparePrivateRoot(root, qv::platform::EventLog(root, clock));
  qv::platform::UrlCache cache(root, clock);
  const std::string_view cmd = args[0];
  if (cmd == "put" && (args.size() == 3 || (args.size() == 5 && args[3] == "--type"))) {
    // The type becomes a header line: a line break in it would add headers of its own.
    if (args.size() == 5 && (args[4].empty() || qv::HasControlCharacter(args[4]))) {
      std::cerr << "qvurlcache: --type takes a MIME type such as text/html, on one line\n";
      return 1;
    }
    std::vector<std::uint8_t> body;
    if (const auto err = qv::platform::ReadWholeFile(std::string(args[2]), kMaxPageBytes, body);
        err != 0) {
      return Fail("reading " + std::string(args[2]) + " (give an existing regular file of at most " +
                      std::to_string(kMaxPageBytes >> 20) + " MiB)",
                  err);
    }
    std::filesystem::path file;
    if (const auto err = cache.CreateEntryFile(args[1], "htm", file); err != 0) {
      return Fail("creating the copy", err);
    }
    // A copy that is not whole is never committed, and is not left behind either.
    auto discard = [&](std::string_view what, std::int32_t err) {
      std::error_code ec;
      std::filesystem::remove(file, ec);
      return Fail(what, err);
    };
    if (const auto err = qv::platform::OverwriteFile(file, body); err != 0) {
      return discard("writing the copy " + file.string(), err);
    }
    qv::platform::CommitOptions o;
    o.headers = "HTTP/1.1 200 OK\r\n";
    if (args.size() == 5) o.headers += "Content-Type: " + std::string(args[4]) + "\r\n";
    o.headers += "\r\n";
    if (const auto err = cache.CommitEntry(args[1], file, o); err != 0) {
      return discard("committing the entry", err);
    }
    std::cout << file.string() << "\n";
    return 0;
  }
  if ((cmd == "show" || cmd == "delete") && args.size() == 2) {
    if (cmd == "delete") {
      const auto err = cache.DeleteEntry(args[1]);
      return err == 0 ? 0 : Fail(args[1], err);
    }
    qv::platform::CacheEntry e;
    if (const auto err = cache.GetEntry(args[1], e); err != 0) return Fail(args[1], err);
    std::cout << "url: " << e.url << "\ncopy: " << e.localFile.string() << "\nsize: " << e.size
              << "\nsynchronised: " << qv::FormatIsoDate(qv::FileTimeToDate(e.lastSync))
              << "\ngroups:";
    for (auto g : e.groups) std::cout << " " << g;
    std::cout << "\nheaders:\n" << e.headers;
    return 0;
  }
  if (cmd == "list" && args.size() == 1) {
    std::vector<std::string> urls;
    if (const auto err = cache.EnumEntries(urls); err != 0) return Fail("listing", err);
    for (const auto& u : urls) std::cout << u << "\n";
    return 0;
  }
  std::cerr << "qvurlcache: unknown command or wrong arguments\n" << kUsage;
  return 1;
}
