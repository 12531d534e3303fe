#include "tracer/detection/window_docs_worker.h"

#include <algorithm>

namespace qv::tracer {

using namespace qv::platform;

bool WindowDocsWorker::IsTrigger(const WinEvent& e) {
  if (e.objectId != OBJID_WINDOW || e.childId != CHILDID_SELF || e.window == 0) return false;
  return e.event == EVENT_OBJECT_CREATE || e.event == EVENT_OBJECT_SHOW ||
         e.event == EVENT_SYSTEM_FOREGROUND || e.event == EVENT_OBJECT_NAMECHANGE;
}

void WindowDocsWorker::OnEvent(const WinEvent& e) {
  if (e.event == EVENT_OBJECT_DESTROY && e.objectId == OBJID_WINDOW) {
    std::lock_guard lock(mutex_);
    named_.erase(e.window);
    return;
  }
  if (!IsTrigger(e)) return;
  {
    std::lock_guard lock(mutex_);
    if (std::find(queue_.begin(), queue_.end(), e.window) != queue_.end()) return;
    queue_.push_back(e.window);
  }
  cv_.notify_all();
}

void WindowDocsWorker::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

Step WindowDocsWorker::RunReady() {
  DesktopWindow window = 0;
  {
    std::lock_guard lock(mutex_);
    if (stop_) return Step::Finished;
    if (queue_.empty()) return Step::Idle;
    window = queue_.front();
    queue_.pop_front();
  }
  Examine(window);
  return Step::Worked;
}

void WindowDocsWorker::WaitForWork() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
}

void WindowDocsWorker::Examine(DesktopWindow window) {
  WindowState state;
  // Only top-level windows carry a process; a child's events tell nothing new, and menus
  // and tool tips (pop-ups without a frame) come and go too often to read /proc for each.
  std::vector<std::string> files;
  const auto popup = [&] {
    return (state.style & WS_POPUP) != 0 && (state.style & WS_DLGFRAME) == 0;
  };
  if (!desktop_.GetWindow(window, state) || state.parent != 0 || state.pid <= 0 || popup() ||
      Failed(documents_.FilesNamedBy(state.pid, files))) {
    std::lock_guard lock(mutex_);
    named_.erase(window);
    return;
  }
  std::set<std::string> named;
  {
    std::lock_guard lock(mutex_);
    // Files that left the command lines may be offered again when they come back.
    if (auto it = named_.find(window); it != named_.end()) {
      for (const auto& f : files) {
        if (it->second.count(f) != 0) named.insert(f);
      }
    }
  }
  std::set<std::string> now = named;
  for (auto& f : files) {
    if (named.count(f) != 0) continue;
    std::string path = f;
    if (offer_(std::move(path))) now.insert(std::move(f));
  }
  std::lock_guard lock(mutex_);
  if (now.empty()) {
    named_.erase(window);
  } else {
    named_[window] = std::move(now);
  }
}

}  // namespace qv::tracer
