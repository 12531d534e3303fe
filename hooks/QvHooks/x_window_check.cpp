#include "hooks/QvHooks/x_window_check.h"

#ifdef QV_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace qv::hooks {

#ifdef QV_HAVE_XCB
struct XWindowCheck::Connection {
  xcb_connection_t* c = nullptr;
  ~Connection() {
    if (c) xcb_disconnect(c);
  }
};

bool XWindowCheck::IsWindow(std::uint64_t window) {
  // X window ids are 29 bits; anything wider names none.
  if (window == 0 || window > 0x1FFFFFFFu) return false;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  std::lock_guard lock(mutex_);
  if (conn_ && xcb_connection_has_error(conn_->c)) conn_.reset();
  if (!conn_) {
    auto conn = std::make_unique<Connection>();
    conn->c = xcb_connect(display, nullptr);
    if (xcb_connection_has_error(conn->c)) return false;  // the destructor disconnects
    conn_ = std::move(conn);
  }
  const auto cookie = xcb_get_window_attributes(conn_->c, static_cast<xcb_window_t>(window));
  xcb_generic_error_t* error = nullptr;
  xcb_get_window_attributes_reply_t* reply =
      xcb_get_window_attributes_reply(conn_->c, cookie, &error);
  std::free(error);
  const bool exists = reply != nullptr;
  std::free(reply);
  return exists;
}
#else
struct XWindowCheck::Connection {};

bool XWindowCheck::IsWindow(std::uint64_t) { return false; }
#endif

XWindowCheck::XWindowCheck() = default;
XWindowCheck::~XWindowCheck() = default;

}  // namespace qv::hooks
