// The shell library as a control panel loads it: by name, calling its applet entry point.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct CplInfo {
  int idIcon, idName, idInfo;
  std::intptr_t lData;
};
using CplApplet = long (*)(void*, unsigned, std::intptr_t, std::intptr_t);

TEST(QvSearchExports, TheAppletAnswersThePanelWithoutOpeningAWindow) {
  void* lib = ::dlopen(QVSEARCH_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  auto applet = reinterpret_cast<CplApplet>(::dlsym(lib, "CPlApplet"));
  ASSERT_NE(applet, nullptr) << "CPlApplet is not exported";
  EXPECT_EQ(applet(nullptr, 1, 0, 0), 1);  // CPL_INIT
  EXPECT_EQ(applet(nullptr, 2, 0, 0), 1);  // CPL_GETCOUNT
  CplInfo info{-1, -1, -1, -1};
  EXPECT_EQ(applet(nullptr, 3, 0, reinterpret_cast<std::intptr_t>(&info)), 0);  // CPL_INQUIRE
  EXPECT_EQ(info.idIcon, 1);
  EXPECT_EQ(info.idName, 100);
  EXPECT_EQ(info.idInfo, 101);
  EXPECT_EQ(info.lData, 0);
  EXPECT_EQ(applet(nullptr, 0x99, 0, 0), 1);
  EXPECT_EQ(applet(nullptr, 6, 0, 0), 0);  // CPL_STOP
  EXPECT_EQ(applet(nullptr, 7, 0, 0), 0);  // CPL_EXIT
  // Only the applet's entry point is exported, nothing of the code inside.
  EXPECT_EQ(::dlsym(lib, "_ZN2qv8settings14SettingsApplet7MessageEPvjll"), nullptr);
  // The library stays loaded: Qt's classes inside it must not be torn down mid-process.
}

}  // namespace
