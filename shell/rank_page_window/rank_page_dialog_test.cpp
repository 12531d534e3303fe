// The ranking page driven as a user would, on the offscreen platform, over the real store.
#include "shell/rank_page_window/rank_page_dialog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <cstdlib>
#include <fstream>

#include "context/test_context.h"
#include "provider/ranking/file_ranking.h"
#include "shell/settings_window/qt_test_main.h"

namespace qv::rankpage {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

class RankPageDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_REQUIRE_QT();
    RegisterRankingClasses(tc.ctx());
    file = (tc.root() / "report.txt").string();
    std::ofstream(file) << "quarterly report";
  }
  void Visit(DATE end, ULONG seconds) {
    ULONG scope = 0;
    std::string key;
    ASSERT_EQ(fr.PreRank(&file, &scope, &key, nullptr), S_OK);
    ASSERT_EQ(fr.UpdateRank(&file, seconds * 5, 1, end - seconds * kSecond, end, seconds * 10,
                            seconds * 10, scope, 0, key.empty() ? nullptr : &key),
              S_OK);
  }
  static QString Text(QWidget& w, const char* name) {
    auto* label = w.findChild<QLabel*>(name);
    EXPECT_NE(label, nullptr) << name;
    return label ? label->text() : QString();
  }
  static QPushButton* Button(QWidget& w, QDialogButtonBox::StandardButton which) {
    return w.findChild<QDialogButtonBox*>()->button(which);
  }
  bool HasRecord() {
    RankPage probe(fr, nullptr, file);
    EXPECT_EQ(probe.Load(), S_OK);
    return probe.view().hasRecord;
  }

  TestContext tc;
  FileRanking fr{tc.ctx()};
  std::string file;
};

TEST_F(RankPageDialogTest, ShowsTheVisitsAndDeletesTheRecordOnApply) {
  Visit(*ParseIsoDate("2025-12-08T10:00:00Z"), 3725);
  Visit(*ParseIsoDate("2025-12-09T11:00:00Z"), 60);
  RankPage page(fr, nullptr, file);
  ASSERT_EQ(page.Load(), S_OK);
  RankPageDialog dialog(page);
  dialog.show();
  EXPECT_EQ(Text(dialog, "visits"), "2");
  EXPECT_EQ(Text(dialog, "workingTime"), "1 h 3 min 5 s");
  EXPECT_FALSE(Text(dialog, "lastVisit").isEmpty());
  EXPECT_EQ(Text(dialog, "status"), "The file's ranking record:");
  EXPECT_FALSE(Button(dialog, QDialogButtonBox::Apply)->isEnabled());

  auto* remove = dialog.findChild<QPushButton*>("delete");
  ASSERT_NE(remove, nullptr);
  remove->click();
  EXPECT_FALSE(remove->isEnabled());
  EXPECT_EQ(Text(dialog, "visits"), "");
  EXPECT_TRUE(Button(dialog, QDialogButtonBox::Apply)->isEnabled());
  EXPECT_TRUE(HasRecord()) << "nothing is deleted before Apply";

  Button(dialog, QDialogButtonBox::Apply)->click();
  EXPECT_FALSE(HasRecord());
  EXPECT_EQ(Text(dialog, "status"), "The ranking record is deleted.");
  EXPECT_TRUE(dialog.findChild<QLabel*>("success")->isVisible());
  EXPECT_FALSE(dialog.findChild<QLabel*>("failure")->isVisible());
}

TEST_F(RankPageDialogTest, CancelAfterDeleteKeepsTheRecord) {
  Visit(*ParseIsoDate("2025-12-09T11:00:00Z"), 60);
  RankPage page(fr, nullptr, file);
  ASSERT_EQ(page.Load(), S_OK);
  RankPageDialog dialog(page);
  dialog.show();
  dialog.findChild<QPushButton*>("delete")->click();
  Button(dialog, QDialogButtonBox::Cancel)->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(HasRecord());
}

TEST_F(RankPageDialogTest, AFileWithoutARecordShowsAPageSayingSo) {
  RankPage page(fr, nullptr, file);
  ASSERT_EQ(page.Load(), S_OK);
  RankPageDialog dialog(page);
  dialog.show();
  EXPECT_EQ(Text(dialog, "status"), "This file has no ranking record.");
  EXPECT_EQ(Text(dialog, "firstVisit"), "");
  EXPECT_TRUE(dialog.findChild<QPushButton*>("delete")->isEnabled());
  Button(dialog, QDialogButtonBox::Ok)->click();  // deleting nothing is no error
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

int ExitCode(const std::string& command) {
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

TEST(QvrankpageProgram, RefusesWhatItCannotShowWithoutOpeningAWindow) {
  TempDir dir;
  const std::string tool = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM QV_ROOT=" +
                           dir.path().string() + " " + QVRANKPAGE_PATH;
  const std::string a = (dir.path() / "a.txt").string();
  std::ofstream(a) << "a";
  EXPECT_EQ(ExitCode(tool + " --help >/dev/null"), 0);
  EXPECT_EQ(ExitCode(tool + " 2>/dev/null"), 1);
  EXPECT_EQ(ExitCode(tool + " " + a + " " + a + " 2>/dev/null"), 1) << "two files get no page";
  EXPECT_EQ(ExitCode(tool + " " + a + " 2>/dev/null"), 1) << "no display";
}

}  // namespace
}  // namespace qv::rankpage
