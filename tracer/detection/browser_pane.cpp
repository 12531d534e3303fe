#include "tracer/detection/browser_pane.h"

#include "context/event_report.h"
#include "common/utf.h"
#include "tracer/detection/detection_constants.h"

namespace qv::tracer {

using namespace qv::platform;

bool IsBrowserPaneEvent(const WinEvent& e, const Desktop& desktop) {
  if (e.event != EVENT_OBJECT_CREATE || e.objectId != OBJID_WINDOW) return false;
  WindowState s;
  if (!desktop.GetWindow(e.window, s)) return false;
  if ((s.style & WS_POPUP) != 0 && (s.style & WS_DLGFRAME) == 0) return false;
  return EqualsNoCase(s.className, kBrowserPaneClass);
}

std::optional<std::string> BrowserPage(const Context& ctx, BrowserPanes& panes, DesktopWindow pane) {
  std::string url;
  if (const HRESULT hr = panes.PaneUrl(pane, url); Failed(hr)) {
    ReportEvent(ctx, EventType::Warning, kCategoryTracer, kEvPaneNoAnswer,
                {FormatLowWord(hr), SystemMessage(hr)});
    return std::nullopt;
  }
  if (url.empty()) return std::nullopt;
  bool topLevel = false;
  if (const HRESULT hr = panes.IsTopLevelPage(url, topLevel); Failed(hr)) {
    ReportItemWarning(ctx, kCategoryTracer, kEvHistoryOpen, url, hr);
    return std::nullopt;
  }
  if (!topLevel) return std::nullopt;
  return url;
}

void BrowserPaneWorker::Queue(DesktopWindow pane) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(pane);
  }
  cv_.notify_all();
}

void BrowserPaneWorker::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

Step BrowserPaneWorker::RunReady() {
  DesktopWindow pane = 0;
  {
    std::lock_guard lock(mutex_);
    if (stop_) return Step::Finished;
    if (queue_.empty()) return Step::Idle;
    pane = queue_.front();
    queue_.pop_front();
  }
  if (auto url = BrowserPage(ctx_, panes_, pane)) found_(pane, std::move(*url));
  return Step::Worked;
}

void BrowserPaneWorker::WaitForWork() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
}

}  // namespace qv::tracer
