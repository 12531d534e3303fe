#pragma once
// One connection to the X server with the few queries the desktop sources make. A
// connection is used by one thread at a time; errors about windows that vanished meanwhile
// are expected and answered as "no such window".
#include <X11/Xlib.h>

#include <map>
#include <string>
#include <vector>

namespace qv::platform::x11 {

// Longest title read; longer ones are cut.
inline constexpr long kMaxTitleBytes = 65536;

struct Conn {
  explicit Conn(const char* name);
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

  Display* display = nullptr;
  int screen = 0;
  ::Window root = 0;
  mutable std::map<std::string, ::Atom> atoms;
};

}  // namespace qv::platform::x11
