#include "client/action_launcher.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "common/temp_dir.h"

namespace qv::client {
namespace {

// Stand-ins for the desktop's helpers: small scripts in a folder of their own that note
// their arguments and exit as told.
class ActionLauncherTest : public ::testing::Test {
 protected:
  void Helper(const std::string& name, const std::string& body) {
    const auto p = bin_.path() / name;
    std::ofstream(p) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << log_.string() << "'\n"
                     << body << "\n";
    ::chmod(p.c_str(), 0700);
  }
  std::string Log() {
    std::ifstream in(log_);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }

  TempDir bin_;
  std::filesystem::path log_ = bin_.path() / "calls.log";
  SystemClock clock_;
  ActionLauncher launcher_{clock_, "relative:" + bin_.path().string()};
};

TEST_F(ActionLauncherTest, ExitStatusesBecomeResultsAndArgumentsArriveWhole) {
  Helper("xdg-open", "exit 0");
  EXPECT_EQ(launcher_.Run(ActionCommand{"xdg-open", {"file:///a b", "$(touch x)"}}), S_OK);
  EXPECT_EQ(Log(), "file:///a b\n$(touch x)\n");
  Helper("xdg-open", "exit 2");
  EXPECT_EQ(launcher_.Run(ActionCommand{"xdg-open", {"x"}}),
            HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
  Helper("xdg-open", "exit 4");
  EXPECT_EQ(launcher_.Run(ActionCommand{"xdg-open", {"x"}}), E_FAIL);
  Helper("xdg-open", "kill -9 $$");
  EXPECT_EQ(launcher_.Run(ActionCommand{"xdg-open", {"x"}}), E_FAIL);
  EXPECT_EQ(launcher_.Run(ActionCommand{"no-such-helper", {}}),
            HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
}

TEST_F(ActionLauncherTest, NoAssociationTriesTheChooserOnceAndOtherFailuresDoNot) {
  Helper("xdg-open", "exit 3");
  Helper("gdbus", "exit 0");
  ActionPlan plan{{"xdg-open", {"file:///a"}}, ActionCommand{"gdbus", {"chooser"}}};
  EXPECT_EQ(launcher_.Run(plan), S_OK);
  EXPECT_EQ(Log(), "file:///a\nchooser\n");
  Helper("gdbus", "exit 3");
  EXPECT_EQ(launcher_.Run(plan), HresultFromWin32(1155));
  std::filesystem::remove(log_);
  Helper("xdg-open", "exit 1");
  EXPECT_EQ(launcher_.Run(plan), E_INVALIDARG);
  EXPECT_EQ(Log(), "file:///a\n");
}

TEST_F(ActionLauncherTest, AHelperStillBusyAfterTheWaitCountsAsSuccessAndIsReapedLater) {
  const auto done = bin_.path() / "done";
  // Waits for the test's word, at most about ten seconds.
  Helper("xdg-open", "i=0; while [ ! -e '" + done.string() +
                         "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done");
  ActionLauncher quick(clock_, bin_.path().string(), std::chrono::milliseconds(50));
  EXPECT_EQ(quick.Run(ActionCommand{"xdg-open", {"x"}}), S_OK);
  EXPECT_EQ(quick.running(), 1u);
  std::ofstream(done) << "";
  for (int i = 0; i < 2000 && quick.running() > 0; ++i) {
    quick.ReapFinished();
    if (quick.running() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(quick.running(), 0u);
}

TEST(FindProgramTest, RelativeSearchPathEntriesAreNeverUsed) {
  std::filesystem::path p;
  EXPECT_EQ(FindProgram("sh", "/bin:/usr/bin", p), S_OK);
  EXPECT_TRUE(p.is_absolute());
  EXPECT_TRUE(Failed(FindProgram("sh", ".:bin:", p)));
  EXPECT_TRUE(Failed(FindProgram("", "/bin", p)));
}

}  // namespace
}  // namespace qv::client
