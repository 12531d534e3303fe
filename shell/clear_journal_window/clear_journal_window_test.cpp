// The journal clearing dialog driven as a user would, on the offscreen platform.
#include "shell/clear_journal_window/clear_journal_window.h"

#include <gtest/gtest.h>

#include <QDateEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <fstream>

#include "common/temp_dir.h"
#include "shell/settings_window/qt_test_main.h"

namespace qv::clearjournal {
namespace {

namespace fs = std::filesystem;

class ClearJournalDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_REQUIRE_QT();
    clock.SetNowDate(*ParseIsoDate("2006-01-05T12:00:00Z"));
    for (const char* day : {"2005/12/30", "2005/12/31", "2006/1/1", "2006/1/2", "2006/1/3"}) {
      fs::create_directories(root() / day);
      std::ofstream(root() / day / "entries") << "0123456789";
    }
  }
  fs::path root() const { return dir.path() / "Journal"; }

  TempDir dir;
  ManualClock clock;
};

TEST_F(ClearJournalDialogTest, ClearsTheChosenDaysAcrossTheTurnOfTheYear) {
  ClearJournalDialog dialog(root(), clock);
  dialog.show();
  dialog.findChild<QDateEdit*>("first")->setDate(QDate(2005, 12, 30));
  dialog.findChild<QDateEdit*>("last")->setDate(QDate(2006, 1, 2));
  dialog.findChild<QPushButton*>("clear")->click();
  EXPECT_FALSE(fs::exists(root() / "2005/12/30"));
  EXPECT_FALSE(fs::exists(root() / "2005/12/31"));
  EXPECT_FALSE(fs::exists(root() / "2006/1/1"));
  EXPECT_FALSE(fs::exists(root() / "2006/1/2"));
  EXPECT_TRUE(fs::exists(root() / "2006/1/3/entries"));
  EXPECT_EQ(dialog.findChild<QLabel*>("progress")->text(), "8 items, 40 bytes removed");
  EXPECT_TRUE(dialog.findChild<QPlainTextEdit*>("errors")->toPlainText().isEmpty());
}

TEST_F(ClearJournalDialogTest, DaysOutOfOrderRemoveNothingAndSaySo) {
  ClearJournalDialog dialog(root(), clock);
  dialog.findChild<QDateEdit*>("first")->setDate(QDate(2006, 1, 2));
  dialog.findChild<QDateEdit*>("last")->setDate(QDate(2005, 12, 30));
  EXPECT_EQ(dialog.Clear(), E_INVALIDARG);
  EXPECT_TRUE(fs::exists(root() / "2005/12/30/entries"));
  EXPECT_FALSE(dialog.findChild<QPlainTextEdit*>("errors")->toPlainText().isEmpty());
}

TEST_F(ClearJournalDialogTest, StartsOnTodayByTheClock) {
  ClearJournalDialog dialog(root(), clock);
  EXPECT_EQ(dialog.findChild<QDateEdit*>("first")->date(), QDate(2006, 1, 5));
  EXPECT_EQ(dialog.findChild<QDateEdit*>("last")->date(), QDate(2006, 1, 5));
}

}  // namespace
}  // namespace qv::clearjournal
