#include "browser/host/browser_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <string>
#include <vector>

namespace qv::browser {
namespace {

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
struct XFreer {
  void operator()(void* p) const { XFree(p); }
};

bool PidOf(Display* d, Window w, Atom pidAtom, unsigned long& pid) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) != Success) {
    return false;
  }
  std::unique_ptr<unsigned char, XFreer> owned(data);
  if (!data || format != 32 || count != 1) return false;
  pid = *reinterpret_cast<unsigned long*>(data);
  return true;
}

std::string TitleOf(Display* d, Window w, Atom nameAtom, Atom utf8) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, nameAtom, 0, 4096, False, utf8, &type, &format, &count, &after,
                         &data) == Success && data) {
    std::unique_ptr<unsigned char, XFreer> owned(data);
    if (format == 8) return std::string(reinterpret_cast<char*>(data), count);
  }
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    std::unique_ptr<char, XFreer> owned(name);
    return name;
  }
  return {};
}

bool Viewable(Display* d, Window w) {
  XWindowAttributes a;
  return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

// Windows to look at: the root's children and, for window managers that reparent, their
// children.
std::vector<Window> Candidates(Display* d) {
  std::vector<Window> out;
  auto children = [&](Window parent) {
    Window root = 0, up = 0, *kids = nullptr;
    unsigned int n = 0;
    std::vector<Window> list;
    if (XQueryTree(d, parent, &root, &up, &kids, &n) && kids) {
      list.assign(kids, kids + n);
      XFree(kids);
    }
    return list;
  };
  for (Window top : children(DefaultRootWindow(d))) {
    out.push_back(top);
    for (Window inner : children(top)) out.push_back(inner);
  }
  return out;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }  // windows may vanish while we look

}  // namespace

std::uint64_t FindBrowserWindow(pid_t pid, std::string_view title) {
  std::unique_ptr<Display, DisplayCloser> d(XOpenDisplay(nullptr));
  if (!d) return 0;
  const auto old = XSetErrorHandler(IgnoreErrors);
  const Atom pidAtom = XInternAtom(d.get(), "_NET_WM_PID", False);
  const Atom nameAtom = XInternAtom(d.get(), "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d.get(), "UTF8_STRING", False);
  std::uint64_t first = 0, titled = 0;
  for (Window w : Candidates(d.get())) {
    unsigned long owner = 0;
    if (!PidOf(d.get(), w, pidAtom, owner) || owner != static_cast<unsigned long>(pid) ||
        !Viewable(d.get(), w)) {
      continue;
    }
    if (first == 0) first = w;
    if (!title.empty() && TitleOf(d.get(), w, nameAtom, utf8).starts_with(title)) {
      titled = w;
      break;
    }
  }
  XSetErrorHandler(old);
  return titled != 0 ? titled : first;
}

}  // namespace qv::browser
