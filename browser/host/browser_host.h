#pragma once
// What qvbrowserhost does with each message of the extension. It stands in for the browser
// add-on inside the real browser: it reports page visits through the visit interface (keyed
// by the browser's desktop window), keeps the browser's URL history and copies of the pages
// the browser shows in the URL cache where the web history reads them, and captures pages
// that forbid caching through the add-on's filter and worker. It writes nothing but the URL
// cache and the URL history, and only while the tracer runs.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "browser/addon/capture_worker.h"
#include "browser/addon/page_visits.h"
#include "browser/host/host_messages.h"
#include "context/context.h"
#include "platform/browser/url_history.h"
#include "platform/urlcache/url_cache.h"

namespace qv::browser {

struct HostServices {
  const Context& ctx;
  platform::UrlHistory& history;
  VisitCalls visits;
  std::function<HRESULT()> tracerRunning;  // KivIsRunning
  // The browser's desktop window showing a page titled `title` (0 when none is found).
  std::function<std::uint64_t(std::string_view title)> findWindow;
};

class BrowserHost {
 public:
  explicit BrowserHost(HostServices services);

  // The JSON reply to one message: {"ok":true} or {"ok":false,"error":"..."}.
  std::string Handle(std::string_view json);
  // Stores the captures still queued and ends the worker.
  void Stop() { worker_.Stop(); }

 private:
  std::string On(const NavigateMessage& m);
  std::string On(const DocumentMessage& m);
  std::string On(const PageMessage& m);
  std::string On(const ClosedMessage& m);
  std::string On(const FlushMessage& m);
  std::uint64_t WindowOf(std::int64_t tab, std::string_view title);
  std::int32_t StoreCopy(const PageMessage& m);

  HostServices services_;
  PageVisits visits_;
  platform::UrlCache cache_;
  platform::UrlCache workerCache_;  // the worker's own, used on its thread only
  std::map<std::int64_t, std::uint64_t> tabWindows_;
  // The tab whose page is the window's visit: closing another tab leaves that visit alone.
  std::map<std::uint64_t, std::int64_t> windowTabs_;
  CaptureWorker worker_;
};

}  // namespace qv::browser
