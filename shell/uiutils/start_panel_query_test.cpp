// The start panel's query strings and stored options, checked against the search client's
// own reading of its command line, and the programs it starts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "client/command_line.h"
#include "common/temp_dir.h"
#include "context/context.h"
#include "context/language_module.h"
#include "context/registry_values.h"
#include "shell/uiutils/kiv_ui_utils.h"
#include "shell/uiutils/start_panel_query.h"

namespace qv::uiutils {
namespace {

namespace fs = std::filesystem;

StartPanelOptions Only(bool files, bool web, bool mail, bool exn = false, bool sys = false) {
  StartPanelOptions o;
  o.files = files;
  o.webHistory = web;
  o.email = mail;
  o.visitedOnly = exn;
  o.includeSystemFolders = sys;
  return o;
}

TEST(StartPanelQuery, ContentTypesFlagsAndEscapedText) {
  EXPECT_EQ(BuildStartPanelQuery(Only(true, true, true, true, true), "a b"),
            "&ct=Files,WebHistory,EMail&exn=1&sys=1&q=a%20b");
  EXPECT_EQ(BuildStartPanelQuery(Only(false, true, false), ""), "&ct=WebHistory");
  EXPECT_EQ(BuildStartPanelQuery(Only(true, false, true), " \t\r\n report \n"),
            "&ct=Files,EMail&q=report");
  EXPECT_EQ(BuildStartPanelQuery(Only(true, false, false), " \t\r\n"), "&ct=Files");
}

TEST(StartPanelQuery, TextCannotAddParametersToTheClientsCommandLine) {
  const std::string typed = "x&ct=Journal&dd=1&q=%zz + 100% €";
  const std::string query = BuildStartPanelQuery(Only(true, false, false), typed);
  const client::SeekParameters p = client::ParseSeekParameters(query);
  ASSERT_TRUE(p.usable);
  EXPECT_FALSE(p.journal);
  EXPECT_FALSE(p.searchKeyMode);
  EXPECT_TRUE(p.searchFiles);
  EXPECT_FALSE(p.searchWebHistory);
  EXPECT_EQ(p.query, typed);  // the client gets back exactly what was typed
}

TEST(StartPanelQuery, OverlongOrBrokenTextCountsAsEmpty) {
  const std::string fits(kMaxSearchText - 1, 'a');
  EXPECT_EQ(BuildStartPanelQuery(Only(true, false, false), fits), "&ct=Files&q=" + fits);
  EXPECT_EQ(BuildStartPanelQuery(Only(true, false, false), fits + "a"), "&ct=Files");
  // Characters, not bytes, are counted.
  std::string wide;
  for (std::size_t i = 0; i < kMaxSearchText - 1; ++i) wide += "é";
  EXPECT_NE(BuildStartPanelQuery(Only(true, false, false), wide).find("&q="), std::string::npos);
  EXPECT_EQ(BuildStartPanelQuery(Only(true, false, false), "ab\xff\xfe"), "&ct=Files");
  EXPECT_FALSE(UrlEscape("\xc3").has_value());
}

class StartPanelStore : public ::testing::Test {
 protected:
  TempDir dir_;
  Installation install_{dir_.path() / "root"};
  Context& ctx() { return install_.context(); }
};

TEST_F(StartPanelStore, OptionsKeepTheClientsBytesAndFallBackWhenMalformed) {
  std::vector<std::uint8_t> stored(kSearchParamsBytes);
  for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<std::uint8_t>(i * 7);
  stored[0] = 0;
  stored[1] = 1;
  stored[2] = 0;
  stored[3] = 1;
  stored[4] = 0;
  ASSERT_EQ(ctx().registry.SetValue(platform::Hive::CurrentUser, kVesperKey, "SearchParams",
                                    platform::RegValue::Binary(stored)),
            0);
  StartPanelOptions o = LoadStartPanelOptions(ctx().registry, true);
  EXPECT_FALSE(o.files);
  EXPECT_TRUE(o.webHistory);
  EXPECT_TRUE(o.visitedOnly);
  o.files = true;
  o.includeSystemFolders = true;
  ASSERT_EQ(SaveStartPanelOptions(ctx().registry, o), 0);
  platform::RegValue v;
  ASSERT_EQ(ctx().registry.GetValue(platform::Hive::CurrentUser, kVesperKey, "SearchParams", v),
            0);
  ASSERT_EQ(v.binary.size(), kSearchParamsBytes);
  EXPECT_EQ(v.binary[0], 1);
  EXPECT_EQ(v.binary[4], 1);
  for (std::size_t i = 5; i < stored.size(); ++i) EXPECT_EQ(v.binary[i], stored[i]) << i;

  stored.pop_back();  // 19 bytes: not the panel's value
  ASSERT_EQ(ctx().registry.SetValue(platform::Hive::CurrentUser, kVesperKey, "SearchParams",
                                    platform::RegValue::Binary(stored)),
            0);
  const StartPanelOptions fresh = LoadStartPanelOptions(ctx().registry, false);
  EXPECT_TRUE(fresh.files && fresh.webHistory);
  EXPECT_FALSE(fresh.email || fresh.visitedOnly || fresh.includeSystemFolders);
  EXPECT_TRUE(LoadStartPanelOptions(ctx().registry, true).email);
  for (std::uint8_t b : fresh.raw) EXPECT_EQ(b, 0);
}

TEST_F(StartPanelStore, HistoryTakesHexNamedStringsUpToTheLimit) {
  const std::string key(kSearchHistoryKey);
  auto set = [&](const std::string& name, const std::string& text) {
    ASSERT_EQ(ctx().registry.SetValue(platform::Hive::CurrentUser, key, name,
                                      platform::RegValue::Sz(text)),
              0);
  };
  set("0x1", "first");
  set("other", "not history");
  set("0xZZ", "not history either");
  set("0x2", std::string(kMaxSearchText, 'x'));
  for (int i = 3; i < 80; ++i) set("0x" + std::to_string(i), "q" + std::to_string(i));
  const auto history = ReadSearchHistory(ctx().registry);
  ASSERT_EQ(history.size(), kMaxHistoryStrings);
  EXPECT_EQ(history[0], "first");
  EXPECT_EQ(history[1], "q3");
}

class ScriptedPanel : public StartPanelView {
 public:
  HRESULT result = S_OK;
  StartPanelAnswer answer;
  StartPanelRequest seen;
  HRESULT Show(const StartPanelRequest& request, StartPanelAnswer& out) override {
    seen = request;
    if (Succeeded(result)) out = answer;
    return result;
  }
};

TEST_F(StartPanelStore, PanelSearchStoresOptionsAndHidesMailWithoutMail) {
  ScriptedPanel panel;
  KivUIUtils ui(ctx(), &panel);
  long choice = -1;
  std::string query;
  EXPECT_EQ(ui.StartPanel(0, 0, nullptr, &query), E_INVALIDARG);
  EXPECT_EQ(ui.StartPanel(0, 0, &choice, nullptr), E_INVALIDARG);

  panel.result = E_ABORT;
  EXPECT_EQ(ui.StartPanel(10, 20, &choice, &query), E_ABORT);
  EXPECT_EQ(panel.seen.x, 10);
  EXPECT_FALSE(panel.seen.mailAvailable);

  panel.result = S_OK;
  panel.answer.choice = kChoiceSearch;
  panel.answer.text = "  tax 2005 ";
  panel.answer.options = Only(false, true, true, true, false);
  ASSERT_EQ(ui.StartPanel(10, 20, &choice, &query), S_OK);
  EXPECT_EQ(choice, kChoiceSearch);
  EXPECT_EQ(query, "&ct=WebHistory&exn=1&q=tax%202005");
  const StartPanelOptions stored = LoadStartPanelOptions(ctx().registry, true);
  EXPECT_TRUE(stored.webHistory && stored.visitedOnly);
  EXPECT_FALSE(stored.files || stored.email);

  panel.answer.choice = kChoiceSettings;
  ASSERT_EQ(ui.StartPanel(10, 20, &choice, &query), S_OK);
  EXPECT_EQ(choice, kChoiceSettings);
  EXPECT_EQ(query, "");
}

TEST(UIUtilsWithoutViews, StartPanelIsNotAvailableAndClearJournalSucceeds) {
  TempDir dir;
  Installation install(dir.path() / "root");
  KivUIUtils ui(install.context());
  long choice = 0;
  std::string query;
  EXPECT_EQ(ui.StartPanel(0, 0, &choice, &query), E_NOTIMPL);
  EXPECT_EQ(ui.ClearJournal(0), S_OK);
}

// An install folder whose QvSeek and qvsettings write their arguments, one a line.
class InstalledPrograms : public StartPanelStore {
 protected:
  void SetUp() override {
    bin_ = dir_.path() / "install";
    fs::create_directories(bin_);
    for (const std::string_view name : {kSearchClientProgram, kSettingsProgram}) {
      const fs::path script = bin_ / name;
      std::ofstream(script) << "#!/bin/sh\n"
                               "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n";
      ::chmod(script.c_str(), 0700);
    }
    ASSERT_EQ(ctx().registry.SetValue(platform::Hive::LocalMachine, kEventSourceKey,
                                      "EventMessageFile",
                                      platform::RegValue::Sz((bin_ / "QvNls.dll").string())),
              0);
  }
  // Waits for every child the object started (bounded by the children's own run).
  static void WaitForChildren(const KivUIUtils& ui) {
    for (pid_t pid : ui.children()) {
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
  }
  std::string ArgsOf(std::string_view program) {
    std::ifstream in(bin_ / (std::string(program) + ".args"));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path bin_;
};

TEST_F(InstalledPrograms, RunPassesTheQueryAsOneArgumentAndNothingWhenEmpty) {
  KivUIUtils ui(ctx());
  const std::string query = "&ct=Files&q=a%20b; rm -rf ~ `x` $(y)";
  ASSERT_EQ(ui.Run(query), S_OK);
  WaitForChildren(ui);
  EXPECT_EQ(ArgsOf(kSearchClientProgram), "/q\n" + query + "\n");

  ASSERT_EQ(ui.Run(""), S_OK);
  WaitForChildren(ui);
  EXPECT_EQ(ArgsOf(kSearchClientProgram), "");

  ASSERT_EQ(ui.Options(), S_OK);
  WaitForChildren(ui);
  EXPECT_TRUE(fs::exists(bin_ / (std::string(kSettingsProgram) + ".args")));
}

TEST_F(InstalledPrograms, StartFailuresAreReported) {
  KivUIUtils ui(ctx());
  fs::remove(bin_ / kSearchClientProgram);
  EXPECT_EQ(ui.Run("&ct=Files"), HresultFromErrno(ENOENT));
  ASSERT_EQ(ctx().registry.DeleteValue(platform::Hive::LocalMachine, kEventSourceKey,
                                       "EventMessageFile"),
            0);
  EXPECT_EQ(ui.Options(), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace qv::uiutils
