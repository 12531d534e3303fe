// The start panel through KivUIUtils, driven as a user would on the offscreen platform.
#include "shell/start_panel_window/start_panel_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCompleter>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "context/registry_values.h"
#include "context/test_context.h"
#include "shell/settings_window/qt_test_main.h"
#include "shell/start_panel_window/ui_utils_windows.h"

namespace qv::startpanel {
namespace {

TEST(StartPanelPlacement, TheBottomLeftCornerGoesWhereAskedAndStaysInTheWorkArea) {
  const QRect work(0, 0, 800, 600);
  EXPECT_EQ(PlacePanel(QSize(200, 100), QPoint(10, 500), work), QRect(10, 401, 200, 100));
  // Off the right and bottom edges: pulled in.
  EXPECT_EQ(PlacePanel(QSize(200, 100), QPoint(750, 650), work), QRect(600, 500, 200, 100));
  // Above the top edge (a corner near the top): pushed down.
  EXPECT_EQ(PlacePanel(QSize(200, 100), QPoint(-50, 20), work), QRect(0, 0, 200, 100));
  // A work area that does not start at the origin (a panel on the left).
  EXPECT_EQ(PlacePanel(QSize(200, 100), QPoint(0, 300), QRect(48, 0, 752, 600)),
            QRect(48, 201, 200, 100));
}

class StartPanelTest : public ::testing::Test {
 protected:
  void SetUp() override { QV_REQUIRE_QT(); }
  HRESULT Run(std::function<void(StartPanelDialog&)> act, long& choice, std::string& query) {
    QtStartPanel panel(std::move(act));
    uiutils::KivUIUtils utils(tc.ctx(), &panel);
    return utils.StartPanel(100, 400, &choice, &query);
  }
  template <typename T>
  static T* Find(StartPanelDialog& d, const char* name) {
    T* found = d.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  TestContext tc;
};

TEST_F(StartPanelTest, ASearchReturnsTheEscapedQueryAndKeepsTheOptions) {
  long choice = -1;
  std::string query;
  ASSERT_EQ(Run(
                [](StartPanelDialog& d) {
                  EXPECT_TRUE(d.isVisible());
                  EXPECT_FALSE(Find<QCheckBox>(d, "email")->isVisible()) << "no mail here";
                  Find<QCheckBox>(d, "files")->setChecked(false);
                  Find<QCheckBox>(d, "visitedOnly")->setChecked(true);
                  QTest::keyClicks(Find<QLineEdit>(d, "search"), "  a b&q=x ");
                  QTest::keyClick(Find<QLineEdit>(d, "search"), Qt::Key_Return);
                },
                choice, query),
            S_OK);
  EXPECT_EQ(choice, kChoiceSearch);
  EXPECT_EQ(query, "&ct=WebHistory&exn=1&q=a%20b%26q%3Dx");
  // The next panel starts with the options as they were left.
  const auto stored = uiutils::LoadStartPanelOptions(tc.registry(), false);
  EXPECT_FALSE(stored.files);
  EXPECT_TRUE(stored.webHistory);
  EXPECT_TRUE(stored.visitedOnly);
}

TEST_F(StartPanelTest, TheOtherButtonsReturnTheirChoiceWithoutAQuery) {
  long choice = -1;
  std::string query = "left over";
  ASSERT_EQ(Run([](StartPanelDialog& d) { Find<QPushButton>(d, "settings")->click(); }, choice,
                query),
            S_OK);
  EXPECT_EQ(choice, kChoiceSettings);
  EXPECT_EQ(query, "");
  ASSERT_EQ(Run([](StartPanelDialog& d) { Find<QPushButton>(d, "toggleRanking")->click(); },
                choice, query),
            S_OK);
  EXPECT_EQ(choice, kChoiceToggleRanking);
}

TEST_F(StartPanelTest, ClosingWithoutAChoiceIsAbortAndStoresNothing) {
  long choice = -1;
  std::string query;
  EXPECT_EQ(Run([](StartPanelDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, choice, query),
            E_ABORT);
  EXPECT_EQ(Run([](StartPanelDialog& d) { QTest::keyPress(&d, Qt::Key_Alt); }, choice, query),
            E_ABORT);
  platform::RegValue v;
  EXPECT_NE(tc.registry().GetValue(platform::Hive::CurrentUser, "Software\\Quillon\\Vesper",
                                   "SearchParams", v),
            0);
}

TEST_F(StartPanelTest, TheSearchHistoryIsOfferedForCompletion) {
  ASSERT_EQ(tc.registry().SetValue(platform::Hive::CurrentUser, uiutils::kSearchHistoryKey,
                                   "0x1", platform::RegValue::Sz("quarterly report")),
            0);
  long choice = -1;
  std::string query;
  ASSERT_EQ(Run(
                [](StartPanelDialog& d) {
                  auto* search = Find<QLineEdit>(d, "search");
                  ASSERT_NE(search->completer(), nullptr);
                  search->completer()->setCompletionPrefix("quar");
                  EXPECT_EQ(search->completer()->currentCompletion(), "quarterly report");
                  Find<QPushButton>(d, "status")->click();
                },
                choice, query),
            S_OK);
  EXPECT_EQ(choice, kChoiceStatus);
}

TEST_F(StartPanelTest, TheRegisteredClassShowsItsWindows) {
  RegisterUIUtilsClassWithWindows(tc.ctx());
  std::shared_ptr<IKivUIUtils> utils;
  ASSERT_EQ(tc.ctx().classes.CreateInstance(CLSID_KivUIUtils, utils), S_OK);
  // Each window is closed as soon as it shows: the panel then answers "no choice", where an
  // object without views answers "not implemented".
  int closed = 0;
  auto closeWhenShown = [&closed] {
    QTimer::singleShot(0, [&closed] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        ++closed;
        w->close();
      }
    });
  };
  long choice = -1;
  std::string query;
  closeWhenShown();
  EXPECT_EQ(utils->StartPanel(10, 10, &choice, &query), E_ABORT);
  closeWhenShown();
  EXPECT_EQ(utils->ClearJournal(0), S_OK);
  EXPECT_EQ(closed, 2);
}

}  // namespace
}  // namespace qv::startpanel
