#pragma once
// The tracer's item detector on a real or simulated desktop: running documents, the Recent
// folder and the command lines of a window's processes name documents, the window whose title
// names a document best shows it, and browser panes show pages. Pop-up tracking keeps
// short-lived windows out.
#include <memory>
#include <mutex>
#include <vector>

#include "context/context.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/recent_folder.h"
#include "platform/desktop/running_documents.h"
#include "tracer/detection/browser_pane.h"
#include "tracer/detection/document_events.h"
#include "tracer/detection/popup_tracker.h"
#include "tracer/detection/recent_docs_watcher.h"
#include "tracer/detection/running_docs_watcher.h"
#include "tracer/detection/window_docs_worker.h"
#include "tracer/item_detector.h"

namespace qv::tracer {

// What a runtime's sink may also take from the document watchers (found by dynamic_cast on
// the sink; without it the visits of closed documents end when their windows go, and a
// failed watcher just ends).
class DocumentSink {
 public:
  virtual ~DocumentSink() = default;
  // KIVM_DOCUMENT_CLOSED: close the document visit keyed `key` (minimum kind 2) when no
  // instance remains or its window's title no longer names the visit's path.
  virtual void DocumentClosed(std::uint32_t key, std::uint32_t remaining) = 0;
  // KIVM_STOP: a watcher failed for good.
  virtual void DetectorFailed() = 0;
};

// Sources the detector uses; any may be null (that detector is then off). They must outlive
// the detector.
struct DetectorSources {
  platform::RunningDocuments* runningDocuments = nullptr;
  platform::RecentFolder* recentFolder = nullptr;
  BrowserPanes* browserPanes = nullptr;
  platform::WindowDocuments* windowDocuments = nullptr;
};

class DesktopItemDetector final : public ItemDetector, public DocumentEvents {
 public:
  DesktopItemDetector(const Context& ctx, const platform::Desktop& desktop, DetectorSources sources);
  ~DesktopItemDetector() override;

  void OnWindowEvent(const platform::WinEvent& event, DetectionSink& sink) override;
  int ScoreTitle(std::string_view title, std::string_view path) const override;
  std::vector<Worker*> Workers() override;
  void RequestStop() override;

  // Whether the runtime is to handle the event at all: hide events of recent pop-ups are
  // dropped. Also keeps the pop-up list, so the runtime calls it first for every event.
  bool PassEvent(const platform::WinEvent& event) override;
  // Where detections go before the first window event arrives (the runtime's own sink).
  void Attach(DetectionSink& sink);

  RunningDocsWatcher* runningWatcher() { return running_.get(); }
  RecentDocsWatcher* recentWatcher() { return recent_.get(); }
  WindowDocsWorker* windowDocsWorker() { return windowDocs_.get(); }

 private:
  void DocumentOpened(std::uint32_t key, std::string path) override;
  void DocumentClosed(std::uint32_t key, std::uint32_t remaining) override;
  void Fatal() override;
  void Detected(platform::DesktopWindow window, std::int32_t kind, std::uint32_t key,
                std::string item);
  // Opens a document visit on the window whose title names `path` best; false if none does.
  bool OfferDocument(std::uint32_t key, std::string path);

  const Context& ctx_;
  const platform::Desktop& desktop_;
  DetectorSources sources_;
  PopupTracker popups_;
  std::unique_ptr<RecentDocsWatcher> recent_;
  std::unique_ptr<RunningDocsWatcher> running_;
  std::unique_ptr<BrowserPaneWorker> panes_;
  std::unique_ptr<WindowDocsWorker> windowDocs_;

  std::mutex sinkMutex_;
  DetectionSink* sink_ = nullptr;
  // Detections made before a sink was known, delivered when it is.
  struct Pending {
    platform::DesktopWindow window;
    std::int32_t kind;
    std::uint32_t key;
    std::string item;
  };
  std::vector<Pending> pending_;
};

// The detector on the Linux desktop: running documents and command lines from /proc and the
// recent-files list under `recentFolder`, all owned by the detector.
std::unique_ptr<ItemDetector> MakeLinuxItemDetector(const Context& ctx,
                                                    const platform::Desktop& desktop,
                                                    const std::filesystem::path& recentFolder);

}  // namespace qv::tracer
