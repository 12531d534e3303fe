#include "tracer/detection/desktop_item_detector.h"

#include <sys/stat.h>

#include "context/event_report.h"
#include "platform/desktop/proc_command_lines.h"
#include "platform/desktop/proc_running_documents.h"
#include "platform/desktop/xbel_recent_folder.h"
#include "tracer/detection/detection_constants.h"
#include "tracer/detection/title_match.h"
#include "tracer/detection/window_finder.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {

using namespace qv::platform;

namespace {

// The most detections kept while no sink is attached; older ones are dropped first.
constexpr std::size_t kMaxPendingDetections = 64;

}  // namespace

DesktopItemDetector::DesktopItemDetector(const Context& ctx, const Desktop& desktop,
                                         DetectorSources sources)
    : ctx_(ctx), desktop_(desktop), sources_(sources), popups_(desktop) {
  if (sources_.recentFolder) {
    recent_ = std::make_unique<RecentDocsWatcher>(ctx_, *sources_.recentFolder, *this);
  }
  if (sources_.runningDocuments) {
    running_ = std::make_unique<RunningDocsWatcher>(ctx_, *sources_.runningDocuments, *this);
  }
  if (sources_.browserPanes) {
    panes_ = std::make_unique<BrowserPaneWorker>(
        ctx_, *sources_.browserPanes, [this](DesktopWindow pane, std::string url) {
          Detected(pane, kKindBrowserPane, 0, std::move(url));
        });
  }
  if (sources_.windowDocuments) {
    windowDocs_ = std::make_unique<WindowDocsWorker>(
        desktop_, *sources_.windowDocuments,
        [this](std::string path) { return OfferDocument(0, std::move(path)); });
  }
}

DesktopItemDetector::~DesktopItemDetector() = default;

std::vector<Worker*> DesktopItemDetector::Workers() {
  std::vector<Worker*> out;
  if (recent_) out.push_back(recent_.get());
  if (running_) out.push_back(running_.get());
  if (panes_) out.push_back(panes_.get());
  if (windowDocs_) out.push_back(windowDocs_.get());
  return out;
}

void DesktopItemDetector::RequestStop() {
  if (recent_) recent_->RequestStop();
  if (running_) running_->RequestStop();
  if (panes_) panes_->RequestStop();
  if (windowDocs_) windowDocs_->RequestStop();
}

void DesktopItemDetector::Attach(DetectionSink& sink) {
  std::vector<Pending> pending;
  {
    std::lock_guard lock(sinkMutex_);
    sink_ = &sink;
    pending.swap(pending_);
  }
  for (auto& p : pending) sink.ItemDetected(p.window, p.kind, p.key, std::move(p.item));
}

bool DesktopItemDetector::PassEvent(const WinEvent& event) { return popups_.Pass(event); }

void DesktopItemDetector::OnWindowEvent(const WinEvent& event, DetectionSink& sink) {
  bool attached = false;
  {
    std::lock_guard lock(sinkMutex_);
    attached = sink_ == &sink;
  }
  if (!attached) Attach(sink);
  if (running_ && RunningDocsWatcher::IsTrigger(event)) running_->Trigger();
  if (panes_ && IsBrowserPaneEvent(event, desktop_)) panes_->Queue(event.window);
  if (windowDocs_) windowDocs_->OnEvent(event);
}

int DesktopItemDetector::ScoreTitle(std::string_view title, std::string_view path) const {
  return tracer::ScoreTitle(title, path);
}

void DesktopItemDetector::Detected(DesktopWindow window, std::int32_t kind, std::uint32_t key,
                                   std::string item) {
  DetectionSink* sink = nullptr;
  {
    std::lock_guard lock(sinkMutex_);
    sink = sink_;
    if (!sink) {
      if (pending_.size() == kMaxPendingDetections) pending_.erase(pending_.begin());
      pending_.push_back({window, kind, key, std::move(item)});
      return;
    }
  }
  sink->ItemDetected(window, kind, key, std::move(item));
}

void DesktopItemDetector::DocumentOpened(std::uint32_t key, std::string path) {
  OfferDocument(key, std::move(path));
}

bool DesktopItemDetector::OfferDocument(std::uint32_t key, std::string path) {
  const auto pattern = PrepareTitlePattern(path);
  if (!pattern) {
    ReportItemWarning(ctx_, kCategoryTracer, kEvTitlePattern, path,
                      HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;  // gone again, or never a file
  const FoundWindow found = FindWindowForPath(desktop_, *pattern);
  if (found.window == 0) return false;
  Detected(found.window, kKindDocument, key, std::move(path));
  return true;
}

void DesktopItemDetector::DocumentClosed(std::uint32_t key, std::uint32_t remaining) {
  DocumentSink* closer = nullptr;
  {
    std::lock_guard lock(sinkMutex_);
    closer = dynamic_cast<DocumentSink*>(sink_);
  }
  // Without a closing sink the visit ends when its window goes.
  if (closer) closer->DocumentClosed(key, remaining);
}

void DesktopItemDetector::Fatal() {
  DetectionSink* sink = nullptr;
  {
    std::lock_guard lock(sinkMutex_);
    sink = sink_;
  }
  if (auto* docs = dynamic_cast<DocumentSink*>(sink)) docs->DetectorFailed();
}

namespace {

class LinuxItemDetector final : public ItemDetector {
 public:
  LinuxItemDetector(const Context& ctx, const Desktop& desktop, const std::filesystem::path& recent)
      : running_(desktop), recent_(recent),
        detector_(ctx, desktop, DetectorSources{&running_, &recent_, nullptr, &commandLines_}) {}
  bool PassEvent(const WinEvent& event) override { return detector_.PassEvent(event); }
  void OnWindowEvent(const WinEvent& event, DetectionSink& sink) override {
    detector_.OnWindowEvent(event, sink);
  }
  int ScoreTitle(std::string_view title, std::string_view path) const override {
    return detector_.ScoreTitle(title, path);
  }
  std::vector<Worker*> Workers() override { return detector_.Workers(); }
  void RequestStop() override { detector_.RequestStop(); }

 private:
  ProcRunningDocuments running_;
  XbelRecentFolder recent_;
  ProcCommandLines commandLines_;
  DesktopItemDetector detector_;
};

}  // namespace

std::unique_ptr<ItemDetector> MakeLinuxItemDetector(const Context& ctx, const Desktop& desktop,
                                                    const std::filesystem::path& recentFolder) {
  return std::make_unique<LinuxItemDetector>(ctx, desktop, recentFolder);
}

}  // namespace qv::tracer
