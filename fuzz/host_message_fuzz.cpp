// Reads arbitrary bytes as a message from the browser extension. The reader must refuse or
// accept without crashing, and every string it accepts must survive quoting and reading back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "browser/host/host_messages.h"
#include "browser/host/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::browser;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  HostMessage message;
  std::string error;
  const bool ok = ParseHostMessage(text, message, error);
  if (!ok && error.empty()) __builtin_trap();
  JsonValue v;
  if (ParseJson(text, v, error) && v.type == JsonValue::Type::String) {
    JsonValue again;
    if (!ParseJson(JsonQuote(v.string), again, error) || again.string != v.string) __builtin_trap();
  }
  return 0;
}
