// The status sheet driven as a user would, on the offscreen platform.
#include "manager/status_window/status_sheet.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <fstream>

#include "common/temp_dir.h"
#include "manager/status/status_texts.h"
#include "shell/settings_window/qt_test_main.h"

namespace qv::manager {
namespace {

namespace fs = std::filesystem;

class StatusSheetTest : public ::testing::Test {
 protected:
  void SetUp() override { QV_REQUIRE_QT(); }
  std::unique_ptr<StatusSheet> Open() {
    return std::make_unique<StatusSheet>(install.context(), "S-1-22-1-1000", actions);
  }
  template <typename T>
  static T* Find(StatusSheet& s, const char* name) {
    auto* w = s.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  TempDir dir;
  Installation install{dir.path(), std::make_unique<ManualClock>()};
  StatusSheetActions actions;
};

TEST_F(StatusSheetTest, AFreshRootListsTheThreeSharedCatalogsAsNotSetUp) {
  auto sheet = Open();
  auto* table = Find<QTableWidget>(*sheet, "catalogs");
  ASSERT_EQ(table->rowCount(), 3);
  const QString notSetUp = QString::fromStdString(StatusText(nullptr, kTextNotRegistered));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table->item(i, 3)->text(), notSetUp);
    EXPECT_TRUE(table->item(i, 1)->text().isEmpty());  // no numbers when nothing was read
  }
  EXPECT_EQ(Find<QLabel>(*sheet, "catalogName")->text(), "System");
  table->selectRow(2);
  EXPECT_EQ(Find<QLabel>(*sheet, "catalogName")->text(), "QuillonJournal");
  // A refresh keeps the user's choice of row.
  sheet->RefreshCatalogs();
  EXPECT_EQ(Find<QLabel>(*sheet, "catalogName")->text(), "QuillonJournal");
}

TEST_F(StatusSheetTest, TheStatusPageSplitsTheMessageAndSwitchesByTheState) {
  std::vector<bool> asked;
  actions.setEnabled = [&](bool enable) { asked.push_back(enable); };
  int options = 0;
  actions.openOptions = [&] { ++options; };
  auto sheet = Open();
  sheet->SetStatus("Ranking and tracing are on\nEverything runs.", true);
  EXPECT_EQ(Find<QLabel>(*sheet, "heading")->text(), "Ranking and tracing are on");
  EXPECT_EQ(Find<QLabel>(*sheet, "detail")->text(), "Everything runs.");
  Find<QPushButton>(*sheet, "toggle")->click();
  sheet->SetStatus("Ranking and tracing are off", false);
  EXPECT_TRUE(Find<QLabel>(*sheet, "detail")->text().isEmpty());
  Find<QPushButton>(*sheet, "toggle")->click();
  Find<QPushButton>(*sheet, "options")->click();
  EXPECT_EQ(asked, (std::vector<bool>{false, true}));
  EXPECT_EQ(options, 1);
}

TEST_F(StatusSheetTest, ClearingTheWebHistoryWaitsForTheUsersYes) {
  const fs::path web = WebHistoryFolder(dir.path());
  fs::create_directories(web / "2006");
  std::ofstream(web / "2006" / "page.htm") << std::string(3000, 'x');
  bool answer = false;
  actions.confirmClear = [&] { return answer; };
  auto sheet = Open();
  EXPECT_EQ(Find<QLabel>(*sheet, "webSize")->text(), "3 KB");
  EXPECT_EQ(Find<QLabel>(*sheet, "webCache")->text(), "0 KB");
  EXPECT_EQ(sheet->ClearWebHistory(), S_FALSE);
  EXPECT_TRUE(fs::exists(web / "2006" / "page.htm"));
  answer = true;
  Find<QPushButton>(*sheet, "clearWeb")->click();
  EXPECT_TRUE(fs::is_directory(web));
  EXPECT_TRUE(fs::is_empty(web));
  EXPECT_EQ(Find<QLabel>(*sheet, "webSize")->text(), "0 KB");
}

}  // namespace
}  // namespace qv::manager
