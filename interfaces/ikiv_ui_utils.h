#pragma once
// IKivUIUtils: the common user-interface pieces that other processes (the runtime manager)
// show without linking them: the start panel, the settings, the search client and the
// dialog that clears journal days.
#include <string>

#include "common/guid.h"
#include "common/hresult.h"
#include "platform/com/class_registry.h"

namespace qv {

inline constexpr Guid CLSID_KivUIUtils =
    MakeGuid(0xCD1B7392, 0x9571, 0x4B42, 0x81, 0x33, 0xFE, 0x4F, 0x97, 0x90, 0xC7, 0x43);
inline constexpr Guid IID_IKivUIUtils =
    MakeGuid(0xDE20DD61, 0x0E5C, 0x44A7, 0x99, 0x7D, 0x29, 0x92, 0xBD, 0x54, 0x9C, 0x52);
inline constexpr Guid LIBID_KivSearchLib =
    MakeGuid(0x253DE24C, 0xD5B4, 0x4EDE, 0x8E, 0xFA, 0x85, 0x71, 0x85, 0x57, 0xEA, 0xBC);
inline constexpr const char* kKivUIUtilsDescription = "Quillon Vesper UI Utilities";

// What the user chose in the start panel (plUserChoice).
enum StartPanelChoice : long {
  kChoiceSearch = 0,
  kChoiceSearchToo = 1,
  kChoiceStatus = 2,
  kChoiceSettings = 3,
  kChoiceToggleRanking = 4,
};

class IKivUIUtils : public virtual platform::ComObject {
 public:
  // Shows the panel with its bottom-left corner at (x, y) and returns when it closes.
  // E_INVALIDARG for a null out pointer; E_ABORT when closed without a choice.
  virtual HRESULT StartPanel(long x, long y, long* plUserChoice, std::string* pQuery) = 0;
  // Opens the settings.
  virtual HRESULT Options() = 0;
  // Opens the search client, on `Query` ("/q" parameters) when it is not empty.
  virtual HRESULT Run(const std::string& Query) = 0;
  // Shows the journal clearing dialog owned by window `hWnd`; always S_OK.
  virtual HRESULT ClearJournal(long hWnd) = 0;
};

}  // namespace qv
