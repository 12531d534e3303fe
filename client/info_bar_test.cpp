#include "client/info_bar.h"

#include <gtest/gtest.h>

#include "client/messages.h"
#include "client/manager_commands.h"
#include "context/test_context.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/messaging/inproc_transport.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegValue;

TEST(InfoBarTest, TheMessageTheSystemTextAndErrorWhenTheMessageIsMissing) {
  const HRESULT denied = HresultFromWin32(win32::ERROR_ACCESS_DENIED);
  const std::string system = SystemMessage(denied);
  ASSERT_FALSE(system.empty());
  EXPECT_EQ(InfoBarText(nullptr, kMsgOpenFailed, denied),
            "The item cannot be opened. " + system);
  EXPECT_EQ(InfoBarText(nullptr, kMsgNoResults), "No items match the search.");
  EXPECT_EQ(InfoBarText(nullptr, 9999, denied), "Error: " + system);
  EXPECT_EQ(InfoBarText(nullptr, 9999), "Error:");
}

TEST(InfoBarTest, SuppressedMessagesAndTheSound) {
  TestContext test;
  auto& reg = test.registry();
  EXPECT_FALSE(IsMessageSuppressed(reg, 0xAB));
  ASSERT_EQ(SuppressMessage(reg, 0xAB), 0);
  EXPECT_TRUE(IsMessageSuppressed(reg, 0xAB));
  RegValue v;
  EXPECT_EQ(reg.GetValue(Hive::CurrentUser, kMessagesKey, "ab", v), 0);
  reg.SetValue(Hive::CurrentUser, kMessagesKey, "ac", RegValue::Sz("0"));
  EXPECT_FALSE(IsMessageSuppressed(reg, 0xAC));

  EXPECT_FALSE(InfoBarSound(reg));
  reg.SetValue(Hive::CurrentUser, kInfoBarSoundKey, "", RegValue::Sz(""));
  EXPECT_FALSE(InfoBarSound(reg));
  reg.SetValue(Hive::CurrentUser, kInfoBarSoundKey, "", RegValue::Sz("/usr/share/sounds/bar.wav"));
  EXPECT_EQ(InfoBarSound(reg), "/usr/share/sounds/bar.wav");
}

TEST(ManagerCommandsTest, EnableAndDisableArePostedStatusIsSentAndNoManagerMeansNothing) {
  SystemClock clock;
  auto transport = std::make_shared<platform::InProcessTransport>(clock);
  platform::WindowStation station(transport, clock);
  EXPECT_EQ(SendManagerCommand(station, ManagerCommand::EnableRanking), S_FALSE);

  platform::MessageLoop loop(clock);
  std::vector<std::uint32_t> commands;
  std::unique_ptr<platform::Window> host;
  ASSERT_EQ(station.CreateWindow(loop, {std::string(hooks::kHostWindowClass), "", false},
                                 [&](const platform::Message& m) -> platform::LRESULT {
                                   if (m.message == platform::WM_COMMAND) {
                                     commands.push_back(static_cast<std::uint32_t>(m.wParam));
                                     if (m.wParam == 40036) loop.PostQuit(0);
                                   }
                                   return 0;
                                 },
                                 host),
            S_OK);
  EXPECT_EQ(SendManagerCommand(station, ManagerCommand::EnableRanking), S_OK);
  EXPECT_EQ(SendManagerCommand(station, ManagerCommand::DisableRanking), S_OK);
  loop.Run();
  EXPECT_EQ(commands, (std::vector<std::uint32_t>{40038, 40036}));

  const ManagerMessage status = MessageFor(ManagerCommand::ShowStatus);
  EXPECT_TRUE(status.send);
  EXPECT_EQ(status.commandId, 40039u);
  EXPECT_EQ(status.sendFlags, platform::SMTO_ABORTIFHUNG);
  EXPECT_EQ(status.timeout, std::chrono::milliseconds(5000));
  EXPECT_FALSE(MessageFor(ManagerCommand::EnableRanking).send);
}

}  // namespace
}  // namespace qv::client
