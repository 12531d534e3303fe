#pragma once
// The user's identity as the settings store it: trimmed of blanks, tabs, CR and LF, and cut
// to 255 UTF-16 units, one less where the cut would split a surrogate pair, so that the
// stored text never ends in half a character.
#include <string>
#include <string_view>

namespace qv::settings {

std::string CleanIdentity(std::string_view text);

}  // namespace qv::settings
