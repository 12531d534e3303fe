#include "platform/browser/browser_feed.h"

#include <filesystem>

#include "common/hresult.h"
#include "platform/urlcache/file_io.h"

namespace qv::platform {

std::int32_t BrowserFeed::ShowPage(std::string_view title, const std::vector<PagePart>& parts,
                                   std::string& itemString) {
  if (parts.empty()) return win32::ERROR_INVALID_PARAMETER;
  std::string frames;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const PagePart& p = parts[i];
    if (p.url.find('\n') != std::string::npos || p.contentType.find('\n') != std::string::npos ||
        p.charset.find('\n') != std::string::npos) {
      return win32::ERROR_INVALID_PARAMETER;
    }
    std::filesystem::path copy;
    if (const auto rc = cache_.CreateEntryFile(p.url, "htm", copy); rc != 0) return rc;
    // A copy that does not make it into the cache is not left behind.
    auto discard = [&](std::int32_t rc) {
      std::error_code ec;
      std::filesystem::remove(copy, ec);
      return rc;
    };
    const auto* html = reinterpret_cast<const std::uint8_t*>(p.html.data());
    if (const auto rc = OverwriteFile(copy, {html, p.html.size()}); rc != 0) return discard(rc);
    CommitOptions options;
    options.headers = "HTTP/1.1 200 OK\r\nContent-Type: " + p.contentType +
                      "; charset=" + p.charset + "\r\n\r\n";
    if (const auto rc = cache_.CommitEntry(p.url, copy, options); rc != 0) return discard(rc);
    if (const auto rc = history_.AddVisit(p.url, i == 0 ? title : std::string_view(), i == 0,
                                          clock_.Now());
        rc != 0) {
      return rc;
    }
    frames += p.url + "\n" + p.contentType + "\n" + p.charset + "\n\n\n";
  }
  // The frame data begins with the top URL, which the tracer takes as the identifier; a URL
  // put before it would shift every record by one line (the charset read as robots text).
  itemString = frames;
  return 0;
}

}  // namespace qv::platform
