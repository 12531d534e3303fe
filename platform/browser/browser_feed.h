#pragma once
// The browser-visit feed: a scripted browser for tests and the demo. Showing a page puts its
// copy into the URL cache and the page into the URL history, as a browser does, and gives the
// item string that the browser add-on reports to the tracer: the URL, a line feed, then one
// frame record (URL, content type, charset, robots marker, frames marker, each ended by a
// line feed) per part of the page.
#include <string>
#include <string_view>
#include <vector>

#include "platform/browser/url_history.h"
#include "platform/urlcache/url_cache.h"

namespace qv::platform {

struct PagePart {
  std::string url;
  std::string html;
  std::string contentType = "text/html";
  std::string charset = "utf-8";
};

class BrowserFeed {
 public:
  BrowserFeed(UrlCache& cache, UrlHistory& history, const Clock& clock)
      : cache_(cache), history_(history), clock_(clock) {}

  // Shows a page made of `parts` (the first is the top-level page) with `title`. Returns a
  // Win32 code; `itemString` receives what the add-on would report.
  std::int32_t ShowPage(std::string_view title, const std::vector<PagePart>& parts,
                        std::string& itemString);

 private:
  UrlCache& cache_;
  UrlHistory& history_;
  const Clock& clock_;
};

}  // namespace qv::platform
