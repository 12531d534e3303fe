#include "manager/runtime/tray_model.h"

#include <map>

#include "interfaces/ikiv_ui_utils.h"
#include "manager/runtime/manager_config.h"

namespace qv::manager {

namespace {

// The menu's labels use the command numbers as text ids.
const std::map<std::uint32_t, std::string_view>& BuiltInTexts() {
  static const std::map<std::uint32_t, std::string_view> texts{
      {1, "Quillon Vesper: the activity tracer stopped\nThe tracer could not be kept running, so "
          "tracing is suspended. Choose Enable to try again."},
      {2, "Quillon Vesper: the ranking service is disabled\nRanking and tracing are suspended "
          "until the ranking service is enabled again."},
      {3, "Quillon Vesper: the ranking service cannot be reached\nIt is not installed or its "
          "state cannot be read; rankings wait until it is back."},
      {4, "Quillon Vesper: the indexer is not running\nSearch results will be out of date until "
          "qvindexer runs again."},
      {5, "Quillon Vesper: the indexer's state cannot be read\nCheck that qvindexer is "
          "installed and QV_ROOT is readable."},
      {6, "Quillon Vesper: the service manager cannot be reached\nCheck the session's runtime "
          "folder (XDG_RUNTIME_DIR)."},
      {1001, "Quillon Vesper: ranking and tracing are on\n"},
      {1002, "Quillon Vesper: ranking and tracing are off\nChoose Enable in the icon's menu to "
             "switch them on."},
      {1003, "Quillon Vesper: something needs attention\n"},
      {1004, "Quillon Vesper: recording a visit\n"},
      {static_cast<std::uint32_t>(kCmdOpenSearch), "&Search..."},
      {static_cast<std::uint32_t>(kCmdOptions), "S&ettings..."},
      {static_cast<std::uint32_t>(kCmdStatusSheet), "S&tatus..."},
      {static_cast<std::uint32_t>(kCmdDisable), "&Disable ranking and tracing"},
      {static_cast<std::uint32_t>(kCmdEnable), "&Enable ranking and tracing"},
      {static_cast<std::uint32_t>(kCmdClose), "&Close the manager"},
  };
  return texts;
}

}  // namespace

TrayText SplitMessage(std::string_view text) {
  TrayText out;
  const auto lf = text.find('\n');
  std::string_view tip = text.substr(0, lf);
  if (lf != std::string_view::npos) out.balloon = std::string(text.substr(lf + 1));
  // Count characters, not bytes: continuation bytes (10xxxxxx) start no character.
  std::size_t chars = 0, end = 0;
  for (; end < tip.size(); ++end) {
    if ((static_cast<unsigned char>(tip[end]) & 0xC0) != 0x80 && chars++ == kMaxTooltipChars) break;
  }
  out.tooltip = std::string(tip.substr(0, end));
  return out;
}

std::string ManagerText(const LanguageModule* module, std::uint32_t id) {
  if (module) {
    if (auto t = module->Text(id)) return std::string(*t);
  }
  const auto& texts = BuiltInTexts();
  const auto it = texts.find(id);
  return it != texts.end() ? std::string(it->second) : "#" + std::to_string(id);
}

std::vector<TrayMenuItem> TrayMenu(ManagerState state) {
  std::vector<TrayMenuItem> items{{kCmdOpenSearch, static_cast<std::uint32_t>(kCmdOpenSearch), true},
                                  {kCmdOptions, static_cast<std::uint32_t>(kCmdOptions), false},
                                  {kCmdStatusSheet, static_cast<std::uint32_t>(kCmdStatusSheet), false}};
  const std::uint64_t toggle = state == ManagerState::Active ? kCmdDisable : kCmdEnable;
  items.push_back({toggle, static_cast<std::uint32_t>(toggle), false});
  items.push_back({kCmdClose, static_cast<std::uint32_t>(kCmdClose), false});
  return items;
}

std::optional<std::uint64_t> StartPanelCommand(long choice, ManagerState state) {
  switch (choice) {
    case kChoiceStatus: return kCmdStatusSheet;
    case kChoiceSettings: return kCmdOptions;
    case kChoiceToggleRanking: return state != ManagerState::Active ? kCmdEnable : kCmdDisable;
    default: return std::nullopt;
  }
}

}  // namespace qv::manager
