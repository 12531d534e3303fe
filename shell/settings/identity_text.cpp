#include "shell/settings/identity_text.h"

#include "common/utf.h"
#include "shell/settings/settings_constants.h"

namespace qv::settings {

std::string CleanIdentity(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  text = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
  std::u16string units = Utf8ToUtf16(text);
  if (units.size() <= kMaxIdentityUnits) return std::string(text);
  std::size_t cut = kMaxIdentityUnits;
  const char16_t lastKept = units[cut - 1];
  if (lastKept >= 0xD800 && lastKept <= 0xDBFF) --cut;  // a high surrogate without its pair
  units.resize(cut);
  return Utf16ToUtf8(units);
}

}  // namespace qv::settings
