// Pattern lists and the identity come from whatever the user types (or a script passes to
// qvsettings). Any text: no crash, normalising a list a second time changes nothing, no
// pattern is empty or holds a line feed, and the identity stays within 255 UTF-16 units
// and valid UTF-8 whenever the input was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/utf.h"
#include "shell/settings/identity_text.h"
#include "shell/settings/pattern_lists.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace st = qv::settings;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (st::PatternKind kind : {st::PatternKind::File, st::PatternKind::Web}) {
    const auto once = st::NormalisePatternText(text, kind);
    for (const auto& p : once) {
      if (p.empty() || p.find('\n') != std::string::npos) std::abort();
    }
    if (st::NormalisePatternText(st::PatternText(once), kind) != once) std::abort();
  }
  bool valid = false;
  qv::Utf8ToUtf16(text, &valid);
  const std::string id = st::CleanIdentity(text);
  bool idValid = false;
  const std::u16string units = qv::Utf8ToUtf16(id, &idValid);
  if (units.size() > 255 || (valid && !idValid)) std::abort();
  return 0;
}
