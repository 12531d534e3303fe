#pragma once
// What the notification icon shows, without Qt: the texts of the manager's messages (from
// the language module where one is installed, else built in), a message split into tooltip
// and balloon text, the menu for the current state, and the command a start panel choice
// leads to.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/language_module.h"
#include "manager/runtime/manager_core.h"

namespace qv::manager {

// A tooltip holds at most this many characters.
inline constexpr std::size_t kMaxTooltipChars = 127;

struct TrayText {
  std::string tooltip;  // also the balloon's title
  std::string balloon;  // empty: the balloon shows without sound
};

// Before the first line feed: the tooltip, cut to 127 characters (never inside a UTF-8
// sequence); after it: the balloon text.
TrayText SplitMessage(std::string_view text);

// The text of message `id` (problems 1 to 6, states 1001 to 1004, menu labels): from
// `module` when it holds it, else the built-in English text.
std::string ManagerText(const LanguageModule* module, std::uint32_t id);

struct TrayMenuItem {
  std::uint64_t command = 0;
  std::uint32_t textId = 0;
  bool isDefault = false;
};

// The icon's menu: open search (the default), settings, status, enable or disable (only the
// one that changes something), close.
std::vector<TrayMenuItem> TrayMenu(ManagerState state);

// The command a start panel choice posts to the host window; nullopt for a search, which
// runs the client with the typed query instead.
std::optional<std::uint64_t> StartPanelCommand(long choice, ManagerState state);

}  // namespace qv::manager
