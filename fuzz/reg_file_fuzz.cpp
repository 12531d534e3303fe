// Feeds arbitrary bytes to the hive file parser; whatever parses must format and parse again
// to the same tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry/reg_file.h"

using qv::platform::Hive;
using qv::platform::RegKey;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegKey root{std::string(qv::platform::HiveName(Hive::CurrentUser))};
  qv::platform::RegParseError err;
  if (qv::platform::ParseRegText(text, Hive::CurrentUser, root, &err) != 0) {
    if (err.message.empty()) std::abort();  // every failure says why
    return 0;
  }
  const std::string formatted = qv::platform::FormatRegText(root);
  RegKey again{std::string(qv::platform::HiveName(Hive::CurrentUser))};
  if (qv::platform::ParseRegText(formatted, Hive::CurrentUser, again, &err) != 0) std::abort();
  if (!qv::platform::SameTree(root, again)) std::abort();
  // Formatting is a fixed point after one round.
  if (qv::platform::FormatRegText(again) != formatted) std::abort();
  return 0;
}
