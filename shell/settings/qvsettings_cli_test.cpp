#include "shell/settings/qvsettings_cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "context/test_context.h"
#include "shell/settings/settings_constants.h"

namespace qv::settings {
namespace {

using platform::Hive;
using platform::RegValue;

class QvsettingsTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string_view> args) {
    out.str("");
    err.str("");
    const SettingsEnvironment env{tc.ctx(), [this] { return admin; }};
    return RunQvsettings(args, env, out, err);
  }
  std::string Show(std::string_view page) {
    EXPECT_EQ(Run({"show", page}), kSettingsExitOk) << err.str();
    return out.str();
  }
  TestContext tc;
  bool admin = true;
  std::ostringstream out, err;
};

TEST_F(QvsettingsTest, SetThenShowGoesThroughThePageRules) {
  ASSERT_EQ(Run({"set", "Files.DisableJournaling", "1"}), kSettingsExitOk) << err.str();
  EXPECT_NE(Show("Files").find("Files.DisableJournaling=1\nFiles.DisableRanking=0\n"),
            std::string::npos);

  // A list as several arguments or as one ';'-separated text, normalised either way.
  ASSERT_EQ(Run({"set", "files.exclude", "Temp", " .log "}), kSettingsExitOk) << err.str();
  EXPECT_NE(Show("files").find("Files.exclude=*/Temp.*;*.log\n"), std::string::npos) << out.str();
  ASSERT_EQ(Run({"set", "WebHistory.include", "news;about:blank"}), kSettingsExitOk);
  EXPECT_NE(Show("WebHistory").find("WebHistory.include=*news*;about:blank*\n"), std::string::npos);
  ASSERT_EQ(Run({"set", "Files.exclude", ""}), kSettingsExitOk);
  RegValue v;
  EXPECT_NE(tc.registry().GetValue(Hive::CurrentUser, kFilesKey, kExclude, v), 0);

  ASSERT_EQ(Run({"set", "Search.PartialMatch", "70"}), kSettingsExitOk);
  EXPECT_EQ(Show("Search"), "Search.PartialMatch=70\n");
  ASSERT_EQ(Run({"set", "General.WordlistUserIdle", "0"}), kSettingsExitOk);
  EXPECT_NE(Show("General").find("General.WordlistUserIdle=0\n"), std::string::npos);
  ASSERT_EQ(Run({"set", "View.PreviewFileTypes", "0x21"}), kSettingsExitOk);
  EXPECT_NE(Show("View").find("View.PreviewFileTypes=0x21\n"), std::string::npos);

  // Every page shows with no page named.
  ASSERT_EQ(Run({"show"}), kSettingsExitOk);
  for (const char* page : {"Files.", "WebHistory.", "EMail.", "General.", "Search.", "View."}) {
    EXPECT_NE(out.str().find(std::string("\n") + page), std::string::npos) << page;
  }
}

TEST_F(QvsettingsTest, BadInputIsAUsageErrorAndWritesNothing) {
  const std::vector<std::vector<std::string_view>> bad = {
      {},
      {"frobnicate"},
      {"show", "Nowhere"},
      {"set", "Files.DisableJournaling"},
      {"set", "Files.DisableJournaling", "2"},
      {"set", "Files.DisableJournaling", "1", "1"},
      {"set", "Files.Nothing", "1"},
      {"set", "FilesDisableJournaling", "1"},
      {"set", "Search.PartialMatch", "150"},
      {"set", "General.WordlistUserIdle", "1201"},
      {"set", "General.Identity", "  "},
      {"set", "General.Identity", "a\nb"},
      {"set", "Files.exclude", "a\x01"},
      {"set", "EMail.PSTs.1.Settings", "1"},  // no such store
  };
  for (const auto& args : bad) {
    EXPECT_EQ(Run(args), kSettingsExitUsage) << (args.empty() ? "" : args[0]);
    EXPECT_NE(err.str().find("qvsettings --help"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(tc.registry().HivePath(Hive::CurrentUser)));
  ASSERT_EQ(Run({"--help"}), kSettingsExitOk);
  EXPECT_NE(out.str().find("qvsettings set PAGE.VALUE"), std::string::npos);
}

TEST_F(QvsettingsTest, StoreSettingsAndMachineValuesKeepTheirRules) {
  const std::string store = std::string(kStoresKey) + "\\1a";
  ASSERT_EQ(tc.registry().SetValue(Hive::CurrentUser, store, "PSTSync", RegValue::Dword(1)), 0);
  EXPECT_NE(Show("EMail").find("EMail.PSTs.1a.Settings=0x1B3\n"), std::string::npos) << out.str();
  // Bit 3 is not a setting of the page.
  EXPECT_EQ(Run({"set", "EMail.PSTs.1A.Settings", "0x1BB"}), kSettingsExitUsage);
  ASSERT_EQ(Run({"set", "EMail.PSTs.1A.Settings", "0x3B3"}), kSettingsExitOk) << err.str();
  RegValue v;
  ASSERT_EQ(tc.registry().GetValue(Hive::CurrentUser, store, kStoreSettings, v), 0);
  EXPECT_EQ(v.dword, 0x3B3u);
  EXPECT_NE(tc.registry().GetValue(Hive::CurrentUser, store, "PSTSync", v), 0);

  admin = false;
  EXPECT_EQ(Run({"set", "General.NoSearchKeys", "1"}), kSettingsExitFailed);
  EXPECT_NE(err.str().find("owner of the installation"), std::string::npos);
  EXPECT_NE(tc.registry().GetValue(Hive::LocalMachine, kFilesKey, kNoSearchKeys, v), 0);
  ASSERT_EQ(Run({"set", "General.Identity", " ann "}), kSettingsExitOk);
  EXPECT_NE(Show("General").find("General.Identity=ann\n"), std::string::npos);
}

TEST(QvsettingsProgramTest, RunsOnItsOwnRootAndExitsWithItsCodes) {
  TempDir dir;
  const std::string root = dir.path().string();
  const std::string tool = std::string("QV_ROOT=") + root + " " + QVSETTINGS_PATH;
  const std::string outFile = (dir.path() / "out").string();
  ASSERT_EQ(std::system((tool + " set Files.DisableJournaling 1").c_str()), 0);
  ASSERT_EQ(std::system((tool + " show Files > " + outFile).c_str()), 0);
  std::ifstream in(outFile);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Files.DisableJournaling=1\n"), std::string::npos) << text.str();
  const int rc = std::system((tool + " set Files.DisableJournaling maybe 2>/dev/null").c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), kSettingsExitUsage);
}

TEST(QvsettingsProgramTest, WithoutADisplayTheWindowIsRefusedWithAWayOut) {
  TempDir dir;
  const std::string errFile = (dir.path() / "err").string();
  const int rc = std::system(("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM QV_ROOT=" +
                              dir.path().string() + " " + QVSETTINGS_PATH + " 2> " + errFile)
                                 .c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), kSettingsExitUsage);
  std::ifstream in(errFile);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("qvsettings show"), std::string::npos) << text.str();
}

}  // namespace
}  // namespace qv::settings
