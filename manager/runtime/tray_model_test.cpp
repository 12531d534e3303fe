// What the icon shows: tooltips and balloons from message texts, the menu by state, and the
// start panel's choices.
#include "manager/runtime/tray_model.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/temp_dir.h"
#include "interfaces/ikiv_ui_utils.h"
#include "manager/runtime/manager_config.h"

namespace qv::manager {
namespace {

TEST(TrayModelTest, MessagesSplitIntoTooltipAndBalloon) {
  EXPECT_EQ(SplitMessage("Tip\nBalloon text\nsecond line").tooltip, "Tip");
  EXPECT_EQ(SplitMessage("Tip\nBalloon text\nsecond line").balloon, "Balloon text\nsecond line");
  EXPECT_EQ(SplitMessage("Only a tip").balloon, "");
  EXPECT_EQ(SplitMessage("Tip\n").balloon, "");
  // At most 127 characters, counted as characters: a two-byte letter is never cut in half.
  EXPECT_EQ(SplitMessage(std::string(200, 'a')).tooltip, std::string(127, 'a'));
  std::string umlauts;
  for (int i = 0; i < 130; ++i) umlauts += "\xC3\xA4";
  const std::string tip = SplitMessage(umlauts + "\nx").tooltip;
  EXPECT_EQ(tip.size(), 254u);
  EXPECT_EQ(SplitMessage(std::string(127, 'b')).tooltip, std::string(127, 'b'));
}

TEST(TrayModelTest, EveryIconMessageHasATextAndTheModuleWins) {
  for (std::uint32_t id : {1u, 2u, 3u, 4u, 5u, 6u, 1001u, 1002u, 1003u, 1004u}) {
    const TrayText t = SplitMessage(ManagerText(nullptr, id));
    EXPECT_FALSE(t.tooltip.empty()) << id;
    EXPECT_NE(t.tooltip[0], '#') << id;
  }
  EXPECT_EQ(ManagerText(nullptr, 999), "#999");
  TempDir dir;
  const auto file = dir.path() / "QvNls.txt";
  std::ofstream(file) << "1001\tTracing\\nall is well\n";
  LanguageModule module;
  ASSERT_EQ(LanguageModule::LoadFile(file, module), S_OK);
  EXPECT_EQ(SplitMessage(ManagerText(&module, 1001)).balloon, "all is well");
  EXPECT_EQ(ManagerText(&module, 1002), ManagerText(nullptr, 1002));
}

TEST(TrayModelTest, MenuOffersOnlyTheSwitchThatChangesSomething) {
  auto has = [](const std::vector<TrayMenuItem>& items, std::uint64_t command) {
    for (const auto& i : items) {
      if (i.command == command) return true;
    }
    return false;
  };
  const auto active = TrayMenu(ManagerState::Active);
  EXPECT_TRUE(has(active, kCmdDisable));
  EXPECT_FALSE(has(active, kCmdEnable));
  for (auto s : {ManagerState::Disabled, ManagerState::Suspended}) {
    const auto menu = TrayMenu(s);
    EXPECT_TRUE(has(menu, kCmdEnable));
    EXPECT_FALSE(has(menu, kCmdDisable));
  }
  int defaults = 0;
  for (const auto& i : active) {
    if (i.isDefault) {
      ++defaults;
      EXPECT_EQ(i.command, kCmdOpenSearch);
    }
  }
  EXPECT_EQ(defaults, 1);
}

TEST(TrayModelTest, StartPanelChoices) {
  EXPECT_FALSE(StartPanelCommand(kChoiceSearch, ManagerState::Active));
  EXPECT_FALSE(StartPanelCommand(kChoiceSearchToo, ManagerState::Active));
  EXPECT_EQ(StartPanelCommand(kChoiceStatus, ManagerState::Active), kCmdStatusSheet);
  EXPECT_EQ(StartPanelCommand(kChoiceSettings, ManagerState::Active), kCmdOptions);
  EXPECT_EQ(StartPanelCommand(kChoiceToggleRanking, ManagerState::Active), kCmdDisable);
  EXPECT_EQ(StartPanelCommand(kChoiceToggleRanking, ManagerState::Suspended), kCmdEnable);
  EXPECT_EQ(StartPanelCommand(kChoiceToggleRanking, ManagerState::Disabled), kCmdEnable);
}

}  // namespace
}  // namespace qv::manager
