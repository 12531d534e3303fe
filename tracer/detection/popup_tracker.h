#pragma once
// Pop-up tracking keeps short-lived windows (menus, tool tips) from waking the tracer: the
// last 4 pop-ups without a dialog frame that were created or shown are remembered, and their
// hide events are dropped.
#include <array>
#include <cstddef>
#include <mutex>

#include "platform/desktop/desktop.h"
#include "tracer/detection/detection_constants.h"

namespace qv::tracer {

class PopupTracker {
 public:
  explicit PopupTracker(const platform::Desktop& desktop) : desktop_(desktop) {}
  // False when the event is to be ignored entirely. A destroy event forgets the window and is
  // then handled as usual.
  bool Pass(const platform::WinEvent& event);
  bool Listed(platform::DesktopWindow window) const;

 private:
  const platform::Desktop& desktop_;
  mutable std::mutex mutex_;
  std::array<platform::DesktopWindow, kPopupListSize> list_{};  // oldest first
  std::size_t count_ = 0;
};

}  // namespace qv::tracer
