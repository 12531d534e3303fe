#include "shell/settings/settings_applet.h"

#include <gtest/gtest.h>

namespace qv::settings {
namespace {

TEST(SettingsApplet, AnswersThePanelsMessagesAndOpensOnlyOnADoubleClick) {
  std::vector<void*> opened;
  SettingsApplet applet([&](void* owner) { opened.push_back(owner); });
  int panel = 0;
  EXPECT_EQ(applet.Message(&panel, kCplInit, 0, 0), 1);
  EXPECT_EQ(applet.Message(&panel, kCplGetCount, 0, 0), 1);
  CplInfo info{7, 7, 7, 7};
  EXPECT_EQ(applet.Message(&panel, kCplInquire, 0, reinterpret_cast<std::intptr_t>(&info)), 0);
  EXPECT_EQ(info.idIcon, 1);
  EXPECT_EQ(info.idName, 100);
  EXPECT_EQ(info.idInfo, 101);
  EXPECT_EQ(info.lData, 0);
  EXPECT_EQ(applet.Message(&panel, kCplSelect, 0, 0), 1);
  EXPECT_EQ(applet.Message(&panel, 0x4242, 0, 0), 1);
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(applet.Message(&panel, kCplDblClk, 0, 0), 0);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], &panel);
  EXPECT_EQ(applet.Message(&panel, kCplStop, 0, 0), 0);
  EXPECT_EQ(applet.Message(&panel, kCplExit, 0, 0), 0);
}

TEST(SettingsApplet, AnInquiryWithoutAnAnswerBlockFailsInsteadOfWritingThroughNull) {
  SettingsApplet applet(nullptr);
  EXPECT_EQ(applet.Message(nullptr, kCplInquire, 0, 0), 1);
  EXPECT_EQ(applet.Message(nullptr, kCplDblClk, 0, 0), 0);  // no window to open: nothing
}

}  // namespace
}  // namespace qv::settings
