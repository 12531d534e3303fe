#include "client/info_bar.h"

#include <cstdio>

#include "client/messages.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegType;
using platform::RegValue;

std::string Trimmed(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(kBlanks) - first + 1));
}

std::string HexName(std::uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", id);
  return buf;
}

}  // namespace

std::string InfoBarText(const LanguageModule* module, std::uint32_t id,
                        std::optional<HRESULT> hr) {
  const auto message = FindMessageText(module, id);
  std::string text = message ? *message + " " : std::string("Error: ");
  if (hr) text += SystemMessage(*hr);
  return Trimmed(text);
}

bool IsMessageSuppressed(const platform::Registry& reg, std::uint32_t id) {
  RegValue v;
  return reg.GetValue(Hive::CurrentUser, kMessagesKey, HexName(id), v) == 0 &&
         v.type == RegType::Dword && v.dword == 0;
}

std::int32_t SuppressMessage(platform::Registry& reg, std::uint32_t id) {
  return reg.SetValue(Hive::CurrentUser, kMessagesKey, HexName(id), RegValue::Dword(0));
}

std::optional<std::string> InfoBarSound(const platform::Registry& reg) {
  RegValue v;
  if (reg.GetValue(Hive::CurrentUser, kInfoBarSoundKey, "", v) != 0) return std::nullopt;
  if ((v.type != RegType::Sz && v.type != RegType::ExpandSz) || v.text.empty()) {
    return std::nullopt;
  }
  return v.text;
}

}  // namespace qv::client
