#pragma once
// Item detection: which item a window shows. The runtime hands every window event (object id
// 0) to the detector on the main thread; the detector answers by asking the event window to
// open visits. A detector may bring threads of its own (watchers), started with the tracer's
// workers and stopped with them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/desktop.h"
#include "tracer/worker.h"

namespace qv::tracer {

// How a detector reaches the event window; each call only posts.
class DetectionSink {
 public:
  virtual ~DetectionSink() = default;
  // Open (or take over) a visit of `kind` for `item` (a path or URL) in `window`.
  virtual void ItemDetected(platform::DesktopWindow window, std::int32_t kind,
                            std::uint32_t documentKey, std::string item) = 0;
};

class ItemDetector {
 public:
  virtual ~ItemDetector() = default;
  // Whether the runtime is to handle `event` at all (a detector that tracks short-lived
  // pop-ups drops their hide events). Called first, for every event, on the main thread.
  virtual bool PassEvent(const platform::WinEvent& /*event*/) { return true; }
  // Every WinEvent with object id 0, on the main thread. Must return quickly.
  virtual void OnWindowEvent(const platform::WinEvent& event, DetectionSink& sink) = 0;
  // A window title against a path: 0 no match, 1 base name, 2 name and extension, 3 full
  // path without extension, 4 full path with extension.
  virtual int ScoreTitle(std::string_view title, std::string_view path) const = 0;
  // Watcher threads of the detector, in start order; each stops when asked.
  virtual std::vector<Worker*> Workers() { return {}; }
  virtual void RequestStop() {}
};

// The detector used until document and browser detection exist: a top-level window whose
// title holds an absolute path ("/home/u/report.odt - Editor") shows that file.
class TitlePathDetector final : public ItemDetector {
 public:
  explicit TitlePathDetector(const platform::Desktop& desktop) : desktop_(desktop) {}
  void OnWindowEvent(const platform::WinEvent& event, DetectionSink& sink) override;
  int ScoreTitle(std::string_view title, std::string_view path) const override;

 private:
  const platform::Desktop& desktop_;
};

// The absolute path in a window title: from the first " /" (or a leading "/") to the end or
// to the next " - "; empty if none.
std::string PathInTitle(std::string_view title);

}  // namespace qv::tracer
