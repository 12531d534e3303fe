#pragma once
// The information bar at the top of the result pane: the text of a message about a search or
// an opened item, the messages the user asked not to see again, and the sound the bar plays.
#include <cstdint>
#include <optional>
#include <string>

#include "common/hresult.h"
#include "platform/registry/registry.h"

namespace qv {
class LanguageModule;
}

namespace qv::client {

inline constexpr std::string_view kMessagesKey = "Software\\Quillon\\Vesper\\Messages";
inline constexpr std::string_view kInfoBarSoundKey =
    "AppEvents\\Schemes\\Apps\\Explorer\\SecurityBand\\.current";

// The numbered message, a blank and the system's text for `hr` when there is one; "Error: "
// instead of the message when it has no text. Blanks and line breaks around it are trimmed.
std::string InfoBarText(const LanguageModule* module, std::uint32_t id,
                        std::optional<HRESULT> hr = std::nullopt);

// A message is not shown again once its value ("%x" of its number) is a REG_DWORD 0.
bool IsMessageSuppressed(const platform::Registry& reg, std::uint32_t id);
std::int32_t SuppressMessage(platform::Registry& reg, std::uint32_t id);

// The sound file the bar plays, when the user's sound scheme names one.
std::optional<std::string> InfoBarSound(const platform::Registry& reg);

}  // namespace qv::client
