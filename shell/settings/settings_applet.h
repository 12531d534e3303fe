#pragma once
// The settings applet's entry point, as control panels call it: a C function that answers
// the panel's messages and opens the settings window on a double click. The answers are
// here; opening the window is the caller's (the shell library passes its Qt window).
#include <cstdint>
#include <functional>

namespace qv::settings {

// The panel's messages.
inline constexpr unsigned kCplInit = 1;
inline constexpr unsigned kCplGetCount = 2;
inline constexpr unsigned kCplInquire = 3;
inline constexpr unsigned kCplSelect = 4;
inline constexpr unsigned kCplDblClk = 5;
inline constexpr unsigned kCplStop = 6;
inline constexpr unsigned kCplExit = 7;

// What the panel shows of the applet: icon, name and description by their numbers in the
// language module, and the value handed back with later messages.
struct CplInfo {
  int idIcon = 0;
  int idName = 0;
  int idInfo = 0;
  std::intptr_t lData = 0;
};
inline constexpr int kAppletIcon = 1;

class SettingsApplet {
 public:
  // Opens the settings window over `owner` (or brings the open one to the front).
  using Opener = std::function<void(void* owner)>;
  explicit SettingsApplet(Opener open) : open_(std::move(open)) {}

  // CPL_INIT 1; CPL_GETCOUNT 1 (one applet); CPL_INQUIRE fills the CplInfo that lParam2
  // points at and answers 0; CPL_DBLCLK opens the window and answers 0; CPL_STOP and
  // CPL_EXIT 0; anything else 1.
  long Message(void* owner, unsigned message, std::intptr_t lParam1, std::intptr_t lParam2);

 private:
  Opener open_;
};

}  // namespace qv::settings
