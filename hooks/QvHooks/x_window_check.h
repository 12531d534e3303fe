#pragma once
// Whether a visit key names a window of the user's X display ($DISPLAY). The library asks
// the X server through its own XCB connection, so it never touches the host process's Xlib
// error handling; without a display, or in a build without XCB, no id is an X window.
#include <cstdint>
#include <memory>
#include <mutex>

namespace qv::hooks {

class XWindowCheck {
 public:
  XWindowCheck();
  ~XWindowCheck();
  XWindowCheck(const XWindowCheck&) = delete;
  XWindowCheck& operator=(const XWindowCheck&) = delete;

  // Connects on first use, and again after the connection broke.
  bool IsWindow(std::uint64_t window);

 private:
  struct Connection;
  std::mutex mutex_;
  std::unique_ptr<Connection> conn_;
};

}  // namespace qv::hooks
