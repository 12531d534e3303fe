#include "tracer/detection/popup_tracker.h"

#include <algorithm>

namespace qv::tracer {

using namespace qv::platform;

bool PopupTracker::Listed(DesktopWindow window) const {
  std::lock_guard lock(mutex_);
  return std::find(list_.begin(), list_.begin() + count_, window) != list_.begin() + count_;
}

bool PopupTracker::Pass(const WinEvent& e) {
  if (e.objectId != OBJID_WINDOW || e.window == 0) return true;
  switch (e.event) {
    case EVENT_OBJECT_CREATE:
    case EVENT_OBJECT_SHOW: {
      WindowState s;
      if (!desktop_.GetWindow(e.window, s) || (s.style & WS_POPUP) == 0 ||
          (s.style & WS_DLGFRAME) != 0) {
        return true;
      }
      std::lock_guard lock(mutex_);
      const auto end = list_.begin() + count_;
      if (std::find(list_.begin(), end, e.window) != end) return true;
      if (count_ == list_.size()) {
        std::rotate(list_.begin(), list_.begin() + 1, list_.end());
        list_.back() = e.window;
      } else {
        list_[count_++] = e.window;
      }
      return true;
    }
    case EVENT_OBJECT_HIDE:
      return !Listed(e.window);
    case EVENT_OBJECT_DESTROY: {
      std::lock_guard lock(mutex_);
      const auto end = list_.begin() + count_;
      const auto it = std::find(list_.begin(), end, e.window);
      if (it != end) {
        std::rotate(it, it + 1, end);
        list_[--count_] = 0;
      }
      return true;
    }
    default:
      return true;
  }
}

}  // namespace qv::tracer
