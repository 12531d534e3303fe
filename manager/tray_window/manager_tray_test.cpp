// The icon on the offscreen platform: tooltip by state, the menu's switch, and a menu choice
// reaching the manager as a host command.
#include "manager/tray_window/manager_tray.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "manager/runtime/manager_config.h"
#include "manager/status_window/status_sheet.h"
#include "shell/settings_window/qt_test_main.h"

namespace qv::manager {
namespace {

QAction* Find(QMenu& menu, std::uint64_t command) {
  for (QAction* a : menu.actions()) {
    if (a->data().toULongLong() == command) return a;
  }
  return nullptr;
}

TEST(ManagerTrayTest, StateDrivesTooltipMenuAndCommands) {
  QV_REQUIRE_QT();
  ManagerTray tray(nullptr, nullptr);
  std::vector<std::uint64_t> posted;
  tray.SetPoster([&posted](std::uint64_t c) { posted.push_back(c); });

  IconUpdate update;
  update.choice = ChooseIcon(ManagerState::Active, Problem::None, 0);
  update.showBalloon = true;
  tray.Show(update);
  EXPECT_EQ(tray.icon().toolTip().toStdString(), SplitMessage(ManagerText(nullptr, 1001)).tooltip);
  ASSERT_NE(Find(tray.menu(), kCmdDisable), nullptr);
  EXPECT_EQ(Find(tray.menu(), kCmdEnable), nullptr);
  Find(tray.menu(), kCmdDisable)->trigger();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0], kCmdDisable);

  update.state = ManagerState::Disabled;
  update.choice = ChooseIcon(ManagerState::Disabled, Problem::None, 0);
  tray.Show(update);
  EXPECT_EQ(tray.icon().toolTip().toStdString(), SplitMessage(ManagerText(nullptr, 1002)).tooltip);
  ASSERT_NE(Find(tray.menu(), kCmdEnable), nullptr);
  EXPECT_EQ(Find(tray.menu(), kCmdDisable), nullptr);
  Find(tray.menu(), kCmdEnable)->trigger();
  EXPECT_EQ(posted.back(), kCmdEnable);

  // Hidden when the user turned the icon off; a withdrawn poster makes choices do nothing.
  update.showIcon = false;
  tray.Show(update);
  EXPECT_FALSE(tray.icon().isVisible());
  tray.SetPoster(nullptr);
  Find(tray.menu(), kCmdClose)->trigger();
  EXPECT_EQ(posted.size(), 2u);
}

TEST(ManagerTrayTest, StatusSheetNeedsAContextAndOpensOnce) {
  QV_REQUIRE_QT();
  ManagerTray tray(nullptr, nullptr);
  tray.ShowStatusSheet();  // no context: nothing to show
  EXPECT_EQ(tray.statusSheet(), nullptr);

  TempDir dir;
  Installation install(dir.path());
  tray.SetStatusContext(&install.context(), "S-1-5-21-1-2-3-1000");
  std::vector<std::uint64_t> posted;
  tray.SetPoster([&posted](std::uint64_t c) { posted.push_back(c); });
  tray.ShowStatusSheet();
  StatusSheet* sheet = tray.statusSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->isVisible());
  tray.ShowStatusSheet();
  EXPECT_EQ(tray.statusSheet(), sheet);  // one sheet, raised again
  sheet->close();
}

}  // namespace
}  // namespace qv::manager
