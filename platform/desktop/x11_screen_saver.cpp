#include "platform/desktop/x11_screen_saver.h"

#include <X11/extensions/scrnsaver.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/desktop/x11_common.h"

namespace qv::platform {

std::unique_ptr<X11ScreenSaver> X11ScreenSaver::Connect(const char* display, HRESULT& hr) {
  auto conn = std::make_unique<x11::Conn>(display);
  hr = HresultFromWin32(win32::ERROR_NOT_SUPPORTED);
  if (!conn->display) return nullptr;
  int eventBase = 0, errorBase = 0;
  if (!XScreenSaverQueryExtension(conn->display, &eventBase, &errorBase)) return nullptr;
  hr = S_OK;
  return std::unique_ptr<X11ScreenSaver>(new X11ScreenSaver(std::move(conn), eventBase));
}

X11ScreenSaver::X11ScreenSaver(std::unique_ptr<x11::Conn> conn, int eventBase)
    : conn_(std::move(conn)), eventBase_(eventBase) {
  // Selected before the state is read, so that no change falls between the two.
  XScreenSaverSelectInput(conn_->display, conn_->root, ScreenSaverNotifyMask);
  if (XScreenSaverInfo* info = XScreenSaverAllocInfo()) {
    if (XScreenSaverQueryInfo(conn_->display, conn_->root, info) != 0) {
      running_ = info->state == ScreenSaverOn;
    }
    XFree(info);
  }
  XFlush(conn_->display);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  thread_ = std::thread([this] { EventLoop(); });
}

X11ScreenSaver::~X11ScreenSaver() {
  stop_ = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void X11ScreenSaver::EventLoop() {
  Display* d = conn_->display;
  while (!stop_) {
    // Xlib reads the socket only once poll says there is data and the server has not hung
    // up: reading a closed connection would run the process's I/O error handler from here.
    if (QLength(d) == 0) {
      pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (stop_ || (fds[0].revents & (POLLERR | POLLHUP)) != 0) return;
      if ((fds[0].revents & POLLIN) == 0 || XPending(d) == 0) continue;
    }
    XEvent ev;
    XNextEvent(d, &ev);
    if (ev.type != eventBase_ + ScreenSaverNotify) continue;
    const auto& notice = reinterpret_cast<const XScreenSaverNotifyEvent&>(ev);
    // A cycling saver is still running; only on and off change the state.
    if (notice.state == ScreenSaverOn && !running_.exchange(true)) {
      Deliver(SessionEvent::ScreenSaverStart);
    } else if (notice.state == ScreenSaverOff && running_.exchange(false)) {
      Deliver(SessionEvent::ScreenSaverStop);
    }
  }
}

void X11ScreenSaver::Deliver(SessionEvent event) {
  listeners_.Deliver(event);
}

SessionSignals::ListenerId X11ScreenSaver::Subscribe(Listener listener) {
  return listeners_.Subscribe(std::move(listener));
}

void X11ScreenSaver::Unsubscribe(ListenerId id) { listeners_.Unsubscribe(id); }

}  // namespace qv::platform
