#pragma once
// One connection to the X server with the few queries the desktop sources make. A
// connection is used by one thread at a time; errors about windows that vanished meanwhile
// are expected and answered as "no such window". A broken connection (the server ended, the
// user logged out) does not end the process: the connection is marked lost, its owner is told
// once, and every later request on it fails.
#include <X11/Xlib.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qv::platform::x11 {

// Longest title read; longer ones are cut.
inline constexpr long kMaxTitleBytes = 65536;

// Told once when a connection breaks, on whichever thread met the break and from inside Xlib:
// it may only set flags or signal a descriptor, never call Xlib or wait for a lock.
using LostHandler = std::function<void()>;

struct Conn {
  explicit Conn(const char* name, LostHandler onLost = nullptr);
  ~Conn();
  Conn(const Conn&) = delete;
  Conn& operator=(const Conn&) = delete;

  ::Atom Intern(const char* name) const;
  bool Attributes(::Window w, XWindowAttributes& out) const;
  bool Parent(::Window w, ::Window& parent) const;
  std::vector<::Window> Children(::Window w) const;  // bottom to top
  // A property of 32-bit items (CARDINAL, WINDOW, ATOM); empty when missing or of another type.
  std::vector<unsigned long> Cardinals(::Window w, ::Atom property, ::Atom type) const;
  std::string Title(::Window w) const;  // UTF-8
  std::string ClassName(::Window w) const;
  // True once the connection broke; nothing on it can succeed any more.
  bool Lost() const { return lost.load(); }
  // Marks the connection lost (also when an event loop sees the socket hang up first).
  void MarkLost();

  Display* display = nullptr;
  int screen = 0;
  ::Window root = 0;
  mutable std::map<std::string, ::Atom> atoms;
  LostHandler onLost;
  std::atomic<bool> lost{false};
};

}  // namespace qv::platform::x11
