// The settings window driven as a user would, on the offscreen platform: change a value,
// Apply, and the registry holds it.
#include "shell/settings_window/settings_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QLineEdit>
#include <QTabWidget>
#include <filesystem>

#include "context/test_context.h"
#include "provider/ranking/file_ranking.h"
#include "shell/settings/settings_constants.h"
#include "shell/settings_window/qt_test_main.h"

namespace qv::settingswindow {
namespace {

using platform::Hive;
using platform::RegValue;
using namespace settings;

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_REQUIRE_QT();
    RegisterRankingClasses(tc.ctx());
  }

  std::unique_ptr<SettingsWindow> Open(bool admin = true) {
    env = std::make_unique<SettingsEnvironment>(
        SettingsEnvironment{tc.ctx(), [admin] { return admin; }});
    SettingsWindowHooks hooks;
    hooks.showError = [this](QWidget*, const QString& text) { errors.push_back(text); };
    hooks.ask = [this](QWidget*, const QString&, const QString& text) {
      questions.push_back(text);
      return answerYes;
    };
    hooks.inform = [this](QWidget*, const QString& text) { told.push_back(text); };
    hooks.chooseForgetSpan = [this](QWidget*) { return forgetChoice; };
    hooks.indexerRunning = [this] { return indexerRunning; };
    hooks.restartIndexer = [this] {
      ++restarts;
      return S_OK;
    };
    auto w = std::make_unique<SettingsWindow>(*env, nullptr, std::move(hooks));
    w->show();
    return w;
  }
  template <typename T>
  static T* Find(QWidget* w, const char* name) {
    T* found = w->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  static void Click(QWidget* w, QDialogButtonBox::StandardButton which) {
    w->findChild<QDialogButtonBox*>()->button(which)->click();
  }
  bool Has(Hive h, std::string_view key, std::string_view name) {
    RegValue v;
    return tc.registry().GetValue(h, key, name, v) == 0;
  }
  RegValue Value(Hive h, std::string_view key, std::string_view name) {
    RegValue v;
    EXPECT_EQ(tc.registry().GetValue(h, key, name, v), 0) << name;
    return v;
  }
  std::vector<QString> Tabs(SettingsWindow& w) {
    std::vector<QString> names;
    for (int i = 0; i < w.tabs()->count(); ++i) names.push_back(w.tabs()->widget(i)->objectName());
    return names;
  }

  TestContext tc;
  std::unique_ptr<SettingsEnvironment> env;
  std::vector<QString> errors, questions, told;
  bool answerYes = false;
  bool indexerRunning = false;
  int restarts = 0;
  std::optional<uiutils::ForgetSpan> forgetChoice;
};

TEST_F(SettingsWindowTest, ApplyWritesTheChangedValueAndTheNormalisedShownList) {
  auto w = Open();
  EXPECT_EQ(Tabs(*w), (std::vector<QString>{"Files", "WebHistory", "General", "Search", "View"}));
  Find<QCheckBox>(w.get(), "Files.journaling")->setChecked(false);
  auto* editor = Find<QPlainTextEdit>(w.get(), "Files.patterns");
  editor->setPlainText("  Temp \n\n.log\n*.tmp");
  Click(w.get(), QDialogButtonBox::Apply);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Value(Hive::CurrentUser, kFilesKey, kDisableJournaling).dword, 1u);
  EXPECT_EQ(Value(Hive::CurrentUser, kFilesKey, kDisableRanking).dword, 0u);
  EXPECT_EQ(Value(Hive::CurrentUser, kFilesKey, kExclude).strings,
            (std::vector<std::string>{"*/Temp.*", "*.log", "*.tmp"}));
  // The editor shows what was stored.
  EXPECT_EQ(editor->toPlainText().toStdString(), "*/Temp.*\n*.log\n*.tmp");
  EXPECT_TRUE(w->isVisible()) << "Apply keeps the window open";
}

TEST_F(SettingsWindowTest, SwitchingListsWritesOnlyTheShownOneAndAnEmptiedListIsDeleted) {
  ASSERT_EQ(tc.registry().SetValue(Hive::CurrentUser, kFilesKey, kExclude,
                                   RegValue::MultiSz({"*.log"})),
            0);
  ASSERT_EQ(tc.registry().SetValue(Hive::CurrentUser, kFilesKey, kInclude,
                                   RegValue::MultiSz({"*.txt"})),
            0);
  auto w = Open();
  auto* editor = Find<QPlainTextEdit>(w.get(), "Files.patterns");
  EXPECT_EQ(editor->toPlainText(), "*.log");
  Find<QRadioButton>(w.get(), "Files.include")->setChecked(true);
  EXPECT_EQ(editor->toPlainText(), "*.txt");
  editor->setPlainText("\n  \n");
  Click(w.get(), QDialogButtonBox::Apply);
  EXPECT_EQ(Value(Hive::CurrentUser, kFilesKey, kMatchType).dword, kMatchTypeInclude);
  EXPECT_FALSE(Has(Hive::CurrentUser, kFilesKey, kInclude));
  EXPECT_EQ(Value(Hive::CurrentUser, kFilesKey, kExclude).strings,
            (std::vector<std::string>{"*.log"}));
}

TEST_F(SettingsWindowTest, OkSavesAndClosesCancelWritesNothing) {
  {
    auto w = Open();
    Find<QSlider>(w.get(), "Search.PartialMatch")->setValue(70);
    Click(w.get(), QDialogButtonBox::Cancel);
    EXPECT_EQ(w->result(), QDialog::Rejected);
    EXPECT_FALSE(Has(Hive::CurrentUser, kRootKey, kPartialMatch));
  }
  auto w = Open();
  Find<QSlider>(w.get(), "Search.PartialMatch")->setValue(70);
  Click(w.get(), QDialogButtonBox::Ok);
  EXPECT_EQ(w->result(), QDialog::Accepted);
  EXPECT_EQ(Value(Hive::CurrentUser, kRootKey, kPartialMatch).dword, 70u);
}

TEST_F(SettingsWindowTest, AnOutOfRangeSliderValueShowsTheMiddle) {
  ASSERT_EQ(tc.registry().SetValue(Hive::CurrentUser, kRootKey, kPartialMatch,
                                   RegValue::Dword(150)),
            0);
  auto w = Open();
  EXPECT_EQ(Find<QSlider>(w.get(), "Search.PartialMatch")->value(), 50);
  EXPECT_EQ(Find<QSlider>(w.get(), "Search.PartialMatch")->pageStep(), 10);
}

TEST_F(SettingsWindowTest, AFailedSaveShowsTheErrorAndStaysOnThatPage) {
  auto w = Open();
  w->tabs()->setCurrentIndex(w->tabs()->count() - 1);
  Find<QCheckBox>(w.get(), "Files.ranking")->setChecked(false);
  // The user hive cannot be replaced: its file's place is taken by a folder.
  const std::filesystem::path hive = tc.registry().HivePath(Hive::CurrentUser);
  std::filesystem::remove(hive);
  std::filesystem::create_directories(hive / "in-the-way");
  Click(w.get(), QDialogButtonBox::Ok);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].startsWith("The settings could not be saved")) << errors[0].toStdString();
  EXPECT_EQ(w->tabs()->currentWidget()->objectName(), "Files");
  EXPECT_NE(w->result(), QDialog::Accepted);
  EXPECT_TRUE(w->isVisible());
}

TEST_F(SettingsWindowTest, TheCacheBoxFollowsRankingAndIsSavedAsShown) {
  auto w = Open();
  w->tabs()->setCurrentIndex(1);
  auto* ranking = Find<QCheckBox>(w.get(), "WebHistory.ranking");
  auto* cache = Find<QCheckBox>(w.get(), "WebHistory.cacheChanging");
  EXPECT_TRUE(cache->isEnabled());
  EXPECT_TRUE(cache->isChecked());
  ranking->setChecked(false);
  EXPECT_FALSE(cache->isEnabled());
  EXPECT_FALSE(cache->isChecked());
  Click(w.get(), QDialogButtonBox::Apply);
  EXPECT_EQ(Value(Hive::CurrentUser, kWebKey, kDisableRanking).dword, 1u);
  EXPECT_EQ(Value(Hive::CurrentUser, kWebKey, kDisableCacheChanging).dword, 1u);
  ranking->setChecked(true);  // the choice made before is back
  EXPECT_TRUE(cache->isChecked());
}

TEST_F(SettingsWindowTest, TheMailPageEditsAStoresBitsWhereTheAddInIsRegistered) {
  ASSERT_EQ(tc.registry().CreateKey(Hive::ClassesRoot, kStoreClassKey), 0);
  const std::string store = std::string(kStoresKey) + "\\1a";
  ASSERT_EQ(tc.registry().SetValue(Hive::CurrentUser, store, "", RegValue::Sz("Personal")), 0);
  ASSERT_EQ(tc.registry().SetValue(Hive::CurrentUser, store, "PSTSync", RegValue::Dword(7)), 0);
  auto w = Open();
  EXPECT_EQ(Tabs(*w), (std::vector<QString>{"Files", "WebHistory", "EMail", "General", "Search",
                                            "View"}));
  auto* drafts = Find<QCheckBox>(w.get(), "EMail.bit9");
  EXPECT_TRUE(drafts->isEnabled());
  EXPECT_FALSE(drafts->isChecked());                              // 0x1B3 has no bit 9
  EXPECT_TRUE(Find<QCheckBox>(w.get(), "EMail.bit8")->isChecked());  // tasks
  drafts->setChecked(true);
  Click(w.get(), QDialogButtonBox::Apply);
  EXPECT_EQ(Value(Hive::CurrentUser, store, kStoreSettings).dword, 0x3B3u);
  EXPECT_FALSE(Has(Hive::CurrentUser, store, "PSTSync")) << "the store is synchronised anew";
}

TEST_F(SettingsWindowTest, WithoutStoresTheStoreControlsAreDisabled) {
  ASSERT_EQ(tc.registry().CreateKey(Hive::ClassesRoot, kStoreClassKey), 0);
  auto w = Open();
  EXPECT_FALSE(Find<QCheckBox>(w.get(), "EMail.bit0")->isEnabled());
}

TEST_F(SettingsWindowTest, MachineValuesAreDisabledForOthersAndTheIdentityIsCut) {
  auto w = Open(/*admin=*/false);
  EXPECT_FALSE(Find<QCheckBox>(w.get(), "General.searchKeys")->isEnabled());
  EXPECT_FALSE(Find<QCheckBox>(w.get(), "General.statistics")->isEnabled());
  auto* identity = Find<QLineEdit>(w.get(), "General.Identity");
  identity->setText(QString(300, QChar('x')));
  Click(w.get(), QDialogButtonBox::Apply);
  EXPECT_TRUE(errors.empty()) << errors[0].toStdString();
  EXPECT_EQ(Value(Hive::CurrentUser, kRootKey, kIdentity).text, std::string(255, 'x'));
  EXPECT_EQ(identity->text().size(), 255) << "the window shows what was stored";
  // A character outside the basic plane across the limit is left out whole, never halved.
  identity->setText(QString(254, QChar('y')) + QString::fromUtf8("\xF0\x9F\x98\x80") + "z");
  Click(w.get(), QDialogButtonBox::Apply);
  EXPECT_EQ(Value(Hive::CurrentUser, kRootKey, kIdentity).text, std::string(254, 'y'));
  EXPECT_FALSE(Has(Hive::LocalMachine, kFilesKey, kNoSearchKeys));
}

TEST_F(SettingsWindowTest, ChangedIndexerValuesOfferARestartWhileItRuns) {
  indexerRunning = true;
  answerYes = true;
  auto w = Open(/*admin=*/true);
  Find<QCheckBox>(w.get(), "General.batteryOn")->setChecked(true);
  Click(w.get(), QDialogButtonBox::Apply);
  EXPECT_EQ(Value(Hive::LocalMachine, kContentIndexKey, kMinWordlistBattery).dword, 0u);
  EXPECT_EQ(questions.size(), 1u);
  EXPECT_EQ(restarts, 1);
  Click(w.get(), QDialogButtonBox::Apply);  // nothing changed since: no question
  EXPECT_EQ(questions.size(), 1u);
}

TEST_F(SettingsWindowTest, ForgetRunsOnlyAfterTheUserChoseWhat) {
  auto w = Open();
  auto* forget = Find<QPushButton>(w.get(), "Forget");
  forget->click();  // cancelled
  EXPECT_TRUE(told.empty());
  EXPECT_EQ(w->Forget(), E_ABORT);
  forgetChoice = uiutils::ForgetSpan::Everything;
  forget->click();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(told[0].startsWith("Forgotten: 0 journal entries")) << told[0].toStdString();
}

}  // namespace
}  // namespace qv::settingswindow
