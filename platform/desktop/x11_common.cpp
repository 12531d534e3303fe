#include "platform/desktop/x11_common.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <mutex>
#ifndef QV_HAVE_XIO_EXIT_HANDLER
#include <unistd.h>

#include <set>
#endif

namespace qv::platform::x11 {

namespace {

// Xlib reports protocol errors through one handler for the whole process, and its default
// ends the process. Windows vanish between any two requests, so every error is ignored here;
// each query checks its own result instead.
int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

#ifdef QV_HAVE_XIO_EXIT_HANDLER
// Xlib's I/O error handler is process-wide and its default prints and exits; with a
// per-connection exit handler that returns, Xlib instead marks the connection broken and fails
// every later request on it, so the owner can shut down in order.
int QuietIoError(Display*) { return 0; }

// Before calling it Xlib takes the display's user lock for the thread that met the break (so
// that other threads wait while the process exits); returning, that lock must be given back,
// or every later call on the display, closing it included, waits for ever.
void ExitHandler(Display* display, void* conn) {
  XUnlockDisplay(display);
  static_cast<Conn*>(conn)->MarkLost();
}
#else
// An older libX11 exits whenever its I/O error handler returns. The handler therefore tells the
// connection's owner and never returns into Xlib: the thread that met the break waits here
// until the process, shutting down in order on its other threads, ends.
struct Registry {
  std::mutex mutex;
  std::set<Conn*> conns;
};
Registry& Conns() {
  static Registry registry;
  return registry;
}

int ParkOnIoError(Display* display) {
  {
    Registry& r = Conns();
    std::lock_guard lock(r.mutex);
    for (Conn* c : r.conns) {
      if (c->display == display) c->MarkLost();
    }
  }
  for (;;) ::pause();
}
#endif

std::string Latin1ToUtf8(const unsigned char* s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (s[i] < 0x80) {
      out += static_cast<char>(s[i]);
    } else {
      out += static_cast<char>(0xC0 | (s[i] >> 6));
      out += static_cast<char>(0x80 | (s[i] & 0x3F));
    }
  }
  return out;
}

}  // namespace

Conn::Conn(const char* name, LostHandler handler) : onLost(std::move(handler)) {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(IgnoreErrors);
#ifdef QV_HAVE_XIO_EXIT_HANDLER
    XSetIOErrorHandler(QuietIoError);
#else
    XSetIOErrorHandler(ParkOnIoError);
#endif
  });
  display = XOpenDisplay(name);
  if (!display) return;
#ifdef QV_HAVE_XIO_EXIT_HANDLER
  XSetIOErrorExitHandler(display, ExitHandler, this);
#else
  {
    Registry& r = Conns();
    std::lock_guard lock(r.mutex);
    r.conns.insert(this);
  }
#endif
  screen = DefaultScreen(display);
  root = RootWindow(display, screen);
}

Conn::~Conn() {
#ifndef QV_HAVE_XIO_EXIT_HANDLER
  {
    Registry& r = Conns();
    std::lock_guard lock(r.mutex);
    r.conns.erase(this);
  }
#endif
  // A broken connection sends nothing on closing; its memory is still freed.
  if (display) XCloseDisplay(display);
}

void Conn::MarkLost() {
  if (!lost.exchange(true) && onLost) onLost();
}

::Atom Conn::Intern(const char* name) const {
  auto it = atoms.find(name);
  if (it != atoms.end()) return it->second;
  const ::Atom a = XInternAtom(display, name, False);
  atoms.emplace(name, a);
  return a;
}

bool Conn::Attributes(::Window w, XWindowAttributes& out) const {
  return w != 0 && XGetWindowAttributes(display, w, &out) != 0;
}

bool Conn::Parent(::Window w, ::Window& parent) const {
  ::Window r = 0;
  ::Window* kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(display, w, &r, &parent, &kids, &n)) return false;
  if (kids) XFree(kids);
  return true;
}

std::vector<::Window> Conn::Children(::Window w) const {
  ::Window r = 0, p = 0;
  ::Window* kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(display, w, &r, &p, &kids, &n)) return {};
  std::vector<::Window> out(kids, kids + n);
  if (kids) XFree(kids);
  return out;
}

std::vector<unsigned long> Conn::Cardinals(::Window w, ::Atom property, ::Atom type) const {
  ::Atom actual = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, w, property, 0, 4096, False, type, &actual, &format, &count,
                         &after, &data) != Success) {
    return {};
  }
  std::vector<unsigned long> out;
  if (data && actual == type && format == 32) {
    const auto* items = reinterpret_cast<const unsigned long*>(data);  // longs, as Xlib gives 32-bit data
    out.assign(items, items + count);
  }
  if (data) XFree(data);
  return out;
}

std::string Conn::Title(::Window w) const {
  const ::Atom utf8 = Intern("UTF8_STRING");
  for (const ::Atom prop : {Intern("_NET_WM_NAME"), static_cast<::Atom>(XA_WM_NAME)}) {
    ::Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, w, prop, 0, kMaxTitleBytes / 4, False, AnyPropertyType,
                           &actual, &format, &count, &after, &data) != Success) {
      continue;
    }
    std::string title;
    bool found = false;
    if (data && format == 8) {
      found = true;
      if (actual == XA_STRING) {
        title = Latin1ToUtf8(data, count);
      } else {
        title.assign(reinterpret_cast<const char*>(data), count);  // UTF8_STRING and the rest
      }
    }
    if (data) XFree(data);
    (void)utf8;
    if (found) return title;
  }
  return {};
}

std::string Conn::ClassName(::Window w) const {
  XClassHint hint{};
  if (!XGetClassHint(display, w, &hint)) return {};
  std::string out = hint.res_class ? hint.res_class : "";
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return out;
}

}  // namespace qv::platform::x11
