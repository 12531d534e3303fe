#pragma once
// Browser panes: a document pane of the browser that appears shows a page; the page counts
// when the browser's history knows it as a top-level page.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "context/context.h"
#include "platform/desktop/desktop.h"
#include "tracer/worker.h"

namespace qv::tracer {

// The browser as the pane detector reaches it.
class BrowserPanes {
 public:
  virtual ~BrowserPanes() = default;
  // The URL of the document a pane shows; an error when the pane does not answer within
  // 5 s.
  virtual HRESULT PaneUrl(platform::DesktopWindow pane, std::string& url) = 0;
  // Whether the history knows `url` as a top-level page; an error when the history cannot
  // be opened.
  virtual HRESULT IsTopLevelPage(std::string_view url, bool& topLevel) = 0;
};

// The creation of a window of the pane class that is not a bare pop-up.
bool IsBrowserPaneEvent(const platform::WinEvent& event, const platform::Desktop& desktop);

// The page a pane shows, if it is one to visit; failures are logged.
std::optional<std::string> BrowserPage(const Context& ctx, BrowserPanes& panes,
                                       platform::DesktopWindow pane);

// Asks panes for their pages off the main thread (a pane may take 5 s to answer) and hands
// accepted pages on.
class BrowserPaneWorker final : public Worker {
 public:
  using PageFound = std::function<void(platform::DesktopWindow, std::string url)>;
  BrowserPaneWorker(const Context& ctx, BrowserPanes& panes, PageFound found)
      : ctx_(ctx), panes_(panes), found_(std::move(found)) {}

  void Queue(platform::DesktopWindow pane);
  void RequestStop();

  const char* Name() const override { return "BrowserPaneWorker"; }
  Step RunReady() override;
  void WaitForWork() override;

 private:
  const Context& ctx_;
  BrowserPanes& panes_;
  PageFound found_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<platform::DesktopWindow> queue_;
  bool stop_ = false;
};

}  // namespace qv::tracer
