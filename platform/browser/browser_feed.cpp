#include "platform/browser/browser_feed.h"

#include <filesystem>

#include "browser/addon/frame_data.h"
#include "browser/addon/page_capture.h"
#include "browser/addon/capture_store.h"
#include "common/hresult.h"
#include "platform/urlcache/file_io.h"

namespace qv::platform {

std::int32_t BrowserFeed::ShowPage(std::string_view title, const std::vector<PagePart>& parts,
                                   std::string& itemString) {
  if (parts.empty()) return win32::ERROR_INVALID_PARAMETER;
  browser::FrameDocument top;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const PagePart& p = parts[i];
    if (p.url.find('\n') != std::string::npos || p.contentType.find('\n') != std::string::npos ||
        p.charset.find('\n') != std::string::npos) {
      return win32::ERROR_INVALID_PARAMETER;
    }
    const auto* html = reinterpret_cast<const std::uint8_t*>(p.html.data());
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: " + p.contentType +
                                "; charset=" + p.charset +
                                (p.noCache ? "\r\nCache-Control: no-cache" : "") + "\r\n\r\n";
    if (p.noCache) {
      // No copy in the browser's cache; the add-on's filter sees the download.
      if (addOnCtx_) {
        const HRESULT running = tracerRunning_ ? tracerRunning_() : S_OK;
        browser::PageFilter filter(*addOnCtx_, cache_, p.url, clock_.Now(),
                                   browser::CaptureDecision(*addOnCtx_, running, p.url, "", headers));
        filter.Pass({html, p.html.size()});
        if (auto capture = filter.Finish(headers)) {
          browser::StoreCapture(*addOnCtx_, cache_, *capture);
        }
      }
    } else if (const auto rc = StoreCopy(p.url, {html, p.html.size()}, headers); rc != 0) {
      return rc;
    }
    if (const auto rc = history_.AddVisit(p.url, i == 0 ? title : std::string_view(), i == 0,
                                          clock_.Now());
        rc != 0) {
      return rc;
    }
    browser::FrameDocument& doc = i == 0 ? top : top.frames.emplace_back();
    doc.url = p.url;
    doc.contentType = p.contentType;
    doc.charset = p.charset;
  }
  // The frame data begins with the top URL, which the tracer takes as the identifier.
  itemString = browser::BuildFrameData(top);
  return 0;
}

std::int32_t BrowserFeed::StoreCopy(std::string_view url, std::span<const std::uint8_t> bytes,
                                  const std::string& headers) {
  std::filesystem::path copy;
  if (const auto rc = cache_.CreateEntryFile(url, "htm", copy); rc != 0) return rc;
  // A copy that does not make it into the cache is not left behind.
  auto discard = [&](std::int32_t rc) {
    std::error_code ec;
    std::filesystem::remove(copy, ec);
    return rc;
  };
  if (const auto rc = OverwriteFile(copy, bytes); rc != 0) return discard(rc);
  CommitOptions options;
  options.headers = headers;
  if (const auto rc = cache_.CommitEntry(url, copy, options); rc != 0) return discard(rc);
  return 0;
}

}  // namespace qv::platform
