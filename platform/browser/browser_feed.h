#pragma once
// The browser-visit feed: a scripted browser for tests and the demo. Showing a page puts its
// copy into the URL cache and the page into the URL history, as a browser does, and gives the
// item string that the browser add-on reports to the tracer: the URL, a line feed, then one
// frame record (URL, content type, charset, robots marker, frames marker, each ended by a
// line feed) per part of the page.
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"

#include "platform/browser/url_history.h"
#include "platform/urlcache/url_cache.h"

namespace qv::platform {

struct PagePart {
  std::string url;
  std::string html;
  std::string contentType = "text/html";
  std::string charset = "utf-8";
  // The server forbids caching: the browser keeps no copy, the add-on captures one.
  bool noCache = false;
};

class BrowserFeed {
 public:
  BrowserFeed(UrlCache& cache, UrlHistory& history, const Clock& clock)
      : cache_(cache), history_(history), clock_(clock) {}

  // Loads the add-on: from now on pages that forbid caching are captured as the add-on
  // captures them, while `tracerRunning` gives S_OK (KivIsRunning).
  void AttachAddOn(const Context& ctx, std::function<HRESULT()> tracerRunning) {
    addOnCtx_ = &ctx;
    tracerRunning_ = std::move(tracerRunning);
  }

  // Shows a page made of `parts` (the first is the top-level page) with `title`. Returns a
  // Win32 code; `itemString` receives what the add-on would report.
  std::int32_t ShowPage(std::string_view title, const std::vector<PagePart>& parts,
                        std::string& itemString);

 private:
  // The browser's own copy of a page it may cache.
  std::int32_t StoreCopy(std::string_view url, std::span<const std::uint8_t> bytes,
                         const std::string& headers);

  UrlCache& cache_;
  UrlHistory& history_;
  const Clock& clock_;
  const Context* addOnCtx_ = nullptr;
  std::function<HRESULT()> tracerRunning_;
};

}  // namespace qv::platform
