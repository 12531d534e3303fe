#include "shell/settings/settings_applet.h"

#include "shell/settings/shell_texts.h"

namespace qv::settings {

long SettingsApplet::Message(void* owner, unsigned message, std::intptr_t /*lParam1*/,
                             std::intptr_t lParam2) {
  switch (message) {
    case kCplInit:
    case kCplGetCount:
      return 1;
    case kCplInquire: {
      auto* info = reinterpret_cast<CplInfo*>(lParam2);
      if (!info) return 1;  // nowhere to answer: a failure, never a write through null
      *info = CplInfo{kAppletIcon, static_cast<int>(kTextAppletName),
                      static_cast<int>(kTextAppletInfo), 0};
      return 0;
    }
    case kCplDblClk:
      if (open_) open_(owner);
      return 0;
    case kCplStop:
    case kCplExit:
      return 0;
    default:
      return 1;
  }
}

}  // namespace qv::settings
