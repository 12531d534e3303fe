#pragma once
// IKivUrlmon: the web page shortcut of a visited page.
#include <stop_token>
#include <string>

#include "interfaces/ibase_activation.h"

namespace qv {

inline constexpr Guid CLSID_KivUrlmon =
    MakeGuid(0x7C27B77B, 0x1399, 0x4477, 0xBF, 0x58, 0x90, 0x34, 0x5F, 0x26, 0xEA, 0x5A);
inline constexpr Guid IID_IKivUrlmon =
    MakeGuid(0x7C356B4B, 0x6086, 0x4691, 0x92, 0x40, 0xD7, 0xA9, 0x88, 0x4B, 0x08, 0xC3);
inline constexpr const char* kProgIdKivUrlmon = "Pelion.KivUrlmon.1";
inline constexpr const char* kProgIdKivUrlmonIndependent = "Pelion.KivUrlmon";
inline constexpr const char* kKivUrlmonDescription = "Quillon Urlmon Class";

class IKivUrlmon : public virtual platform::ComObject {
 public:
  // Makes (once) the shortcut of the page `bstrUrl` visited at `VerTime` (UTC), whose parts
  // `bstrFrameData` lists as records of five line-feed-ended fields (URL, content type,
  // charset, robots marker, frames marker). `hShutdown`, once stopped, cancels a running
  // download. `bstrFile` receives the shortcut's path (a file URL's own path instead),
  // `bstrCachedUrl` (when not null) its "history:" URL. Null pointers stand for null BSTRs.
  virtual HRESULT CreateShortcut(const std::string* bstrUrl, DATE VerTime,
                                 const std::string* bstrTitle, const std::string* bstrFrameData,
                                 std::stop_token hShutdown, std::string* bstrFile,
                                 std::string* bstrCachedUrl) = 0;
};

}  // namespace qv
