#pragma once
// What the extension tells the host, read from one JSON message. Only a flat object of
// strings, integers, booleans and null is accepted; nesting, duplicate keys, invalid UTF-8,
// lone surrogates, raw control characters, over-long strings and trailing text are refused.
//   {"type":"displayed","tab":3,"messageId":"<id@host>","folder":"/Inbox","account":"account1"}
//   {"type":"closed","tab":3}
//   {"type":"hello","version":1}
#include <cstdint>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::mail::tb {

inline constexpr std::size_t kMaxFieldChars = 2048;

struct HostMessage {
  enum class Type { Hello, Displayed, Closed };
  Type type = Type::Hello;
  std::int64_t tab = -1;
  std::string messageId;  // the message's Message-ID header, angle brackets optional
  std::string folder;     // the folder's path in the account: "/Inbox", "/Archives/2026"
  std::string account;    // the client's account id
};

// E_INVALIDARG with a short reason in `why` for anything refused.
HRESULT ParseHostMessage(std::string_view json, HostMessage& out, std::string& why);

// A JSON string literal of `text` (valid UTF-8 assumed; control characters escaped).
std::string JsonString(std::string_view text);

}  // namespace qv::mail::tb
