#pragma once
// Documents that only a window's command lines reveal: when a top-level window appears,
// comes to the front or changes its title, the files its processes name are offered to the
// title matching, as running documents are. A file is offered again only after it has left
// the window's command lines or no window's title named it.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/desktop/desktop.h"
#include "platform/desktop/window_documents.h"
#include "tracer/worker.h"

namespace qv::tracer {

class WindowDocsWorker final : public Worker {
 public:
  // Offers a path to the title matching; true when a window's title named it.
  using Offer = std::function<bool(std::string path)>;
  WindowDocsWorker(const platform::Desktop& desktop, platform::WindowDocuments& documents,
                   Offer offer)
      : desktop_(desktop), documents_(documents), offer_(std::move(offer)) {}

  // The events after which a window's command lines are read: a top-level window created,
  // shown, brought to the front or renamed.
  static bool IsTrigger(const platform::WinEvent& event);
  // Main thread: queue the window of a trigger; forget a destroyed window.
  void OnEvent(const platform::WinEvent& event);
  void RequestStop();

  const char* Name() const override { return "WindowDocsWorker"; }
  Step RunReady() override;
  void WaitForWork() override;

 private:
  void Examine(platform::DesktopWindow window);

  const platform::Desktop& desktop_;
  platform::WindowDocuments& documents_;
  Offer offer_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<platform::DesktopWindow> queue_;  // each window at most once
  bool stop_ = false;
  // Per window, the paths a title already named; read and written on the worker's thread,
  // erased from the main thread, hence under the mutex.
  std::map<platform::DesktopWindow, std::set<std::string>> named_;
};

}  // namespace qv::tracer
