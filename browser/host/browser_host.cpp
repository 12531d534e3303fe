#include "browser/host/browser_host.h"

#include <chrono>

#include "browser/addon/accepted_url.h"
#include "browser/addon/capture_rules.h"
#include "browser/host/json_reader.h"
#include "common/tool_args.h"
#include "platform/urlcache/file_io.h"
#include "provider/urlmon/private_urls.h"

namespace qv::browser {
namespace {

// Longest wait of a flush for the captures queued before it.
constexpr std::chrono::seconds kFlushLimit{30};

std::string Ok() { return R"({"ok":true})"; }
std::string Error(std::string_view why) { return R"({"ok":false,"error":)" + JsonQuote(why) + "}"; }
std::string Result(HRESULT hr) {
  if (Failed(hr)) return Error("the visit interface failed with " + FormatHresult(hr));
  return hr == S_OK ? Ok() : R"({"ok":true,"tracer":false})";
}

}  // namespace

BrowserHost::BrowserHost(HostServices services)
    : services_(std::move(services)),
      visits_(services_.visits),
      cache_(services_.ctx.root, services_.ctx.clock),
      workerCache_(services_.ctx.root, services_.ctx.clock),
      worker_(services_.ctx, workerCache_) {}

std::string BrowserHost::Handle(std::string_view json) {
  HostMessage message;
  std::string error;
  if (!ParseHostMessage(json, message, error)) return Error(error);
  return std::visit([this](const auto& m) { return On(m); }, message);
}

std::uint64_t BrowserHost::WindowOf(std::int64_t tab, std::string_view title) {
  if (const auto it = tabWindows_.find(tab); it != tabWindows_.end()) return it->second;
  const std::uint64_t window = services_.findWindow ? services_.findWindow(title) : 0;
  if (window != 0) tabWindows_[tab] = window;
  return window;
}

std::string BrowserHost::On(const NavigateMessage& m) {
  const std::uint64_t window = WindowOf(m.tab, {});
  if (window == 0) return Error("no window of the browser was found on the display");
  windowTabs_[window] = m.tab;
  return Result(visits_.NavigateComplete(window, m.url));
}

std::string BrowserHost::On(const DocumentMessage& m) {
  const std::uint64_t window = WindowOf(m.tab, m.title);
  if (window == 0) return Error("no window of the browser was found on the display");
  windowTabs_[window] = m.tab;
  return Result(visits_.DocumentComplete(window, m.top));
}

std::string BrowserHost::On(const ClosedMessage& m) {
  const auto it = tabWindows_.find(m.tab);
  if (it == tabWindows_.end()) return Ok();
  const std::uint64_t window = it->second;
  tabWindows_.erase(it);
  const auto owner = windowTabs_.find(window);
  if (owner == windowTabs_.end() || owner->second != m.tab) return Ok();
  windowTabs_.erase(owner);
  return Result(visits_.Quit(window));
}

std::string BrowserHost::On(const FlushMessage&) {
  return worker_.WaitIdle(kFlushLimit) ? Ok() : Error("page copies are still being stored");
}

std::string BrowserHost::On(const PageMessage& m) {
  // Only pages the add-on reports, and never one of the cache's own private URLs.
  if (!IsAcceptedUrl(m.url) || HasControlCharacter(m.url) || urlmon::IsPrivateUrl(m.url) ||
      m.url.size() >= urlmon::kMaxWrappedUrl) {
    return Error("this page is not kept");
  }
  const HRESULT running = services_.tracerRunning ? services_.tracerRunning() : S_FALSE;
  if (running != S_OK) return R"({"ok":true,"tracer":false})";
  if (const auto rc = services_.history.AddVisit(m.url, m.top ? m.title : std::string_view(), m.top,
                                                 services_.ctx.clock.Now());
      rc != 0) {
    return Error("the URL history cannot be written: " + FormatHresult(HresultFromWin32(rc)));
  }
  if (PageForbidsCaching(m.requestHeaders, m.responseHeaders)) {
    // The browser keeps no copy of its own; the add-on captures one.
    PageFilter filter(services_.ctx, cache_, m.url, services_.ctx.clock.Now(),
                      CaptureDecision(services_.ctx, running, m.url, m.requestHeaders,
                                      m.responseHeaders));
    filter.Pass(m.body);
    if (auto capture = filter.Finish(m.responseHeaders)) {
      if (!worker_.Enqueue(std::move(capture))) return Error("the capture queue is full");
    }
    return Ok();
  }
  if (const auto rc = StoreCopy(m); rc != 0) {
    return Error("the URL cache cannot be written: " + FormatHresult(HresultFromWin32(rc)));
  }
  return Ok();
}

std::int32_t BrowserHost::StoreCopy(const PageMessage& m) {
  std::filesystem::path copy;
  if (const auto rc = cache_.CreateEntryFile(m.url, "htm", copy); rc != 0) return rc;
  auto discard = [&](std::int32_t rc) {
    std::error_code ec;
    std::filesystem::remove(copy, ec);
    return rc;
  };
  if (const auto rc = platform::OverwriteFile(copy, m.body); rc != 0) return discard(rc);
  platform::CommitOptions options;
  options.headers = m.responseHeaders;
  if (const auto rc = cache_.CommitEntry(m.url, copy, options); rc != 0) return discard(rc);
  return 0;
}

}  // namespace qv::browser
