#pragma once
// The messages the extension sends to its native host, read from their JSON:
//   {"type":"navigate","tab":N,"url":U}            the tab's top-level navigation committed
//   {"type":"document","tab":N,"title":T,"frame":F} the tab's document is complete; F is
//       {"url":U,"charset":C,"metas":[{"name":..,"content":..}],"hasFrames":B,"frames":[F..]}
//   {"type":"page","tab":N,"url":U,"title":T,"top":B,"requestHeaders":H,"responseHeaders":H,
//    "body":base64}                                a copy of one part of a page
//   {"type":"closed","tab":N}                      the tab went away
//   {"type":"flush"}                               answer once every copy is stored
// Unknown members are ignored; missing optional ones are empty. A message of another shape
// is refused with a reason.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "browser/addon/frame_data.h"

namespace qv::browser {

struct NavigateMessage {
  std::int64_t tab = 0;
  std::string url;
};
struct DocumentMessage {
  std::int64_t tab = 0;
  std::string title;
  FrameDocument top;
};
struct PageMessage {
  std::int64_t tab = 0;
  std::string url;
  std::string title;
  bool top = false;
  std::string requestHeaders;
  std::string responseHeaders;
  std::vector<std::uint8_t> body;
};
struct ClosedMessage {
  std::int64_t tab = 0;
};
struct FlushMessage {};

using HostMessage =
    std::variant<NavigateMessage, DocumentMessage, PageMessage, ClosedMessage, FlushMessage>;

// False, with the reason in `error`, for text that is not one of the messages above.
bool ParseHostMessage(std::string_view json, HostMessage& out, std::string& error);

}  // namespace qv::browser
