// A client session as the host sees it: visits start on display and end on the next one, on
// closing their tab and on disconnection; the client's window is the visit key.
#include "mail/thunderbird/mail_host.h"

#include <gtest/gtest.h>

#include "context/test_context.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "mail/QvOutlookAddIn/addin_test_support.h"
#include "mail/thunderbird/client_window_key.h"
#include "mail/thunderbird/tb_test_support.h"

namespace qv::mail::tb {
namespace {

using addin::testing::RecordedVisits;
using addin::testing::VisitCall;
using testing::MaildirFixture;

std::string Displayed(int tab, const std::string& id, const std::string& folder = "/Inbox",
                      const std::string& account = "account1") {
  return R"({"type":"displayed","tab":)" + std::to_string(tab) + R"(,"messageId":")" + id +
         R"(","folder":")" + folder + R"(","account":")" + account + "\"}";
}

class MailHostTest : public ::testing::Test {
 protected:
  MailHostTest() {
    mail.Put("", "cur", "100.A:2,S", "Message-ID: <a@x>");
    mail.Put("", "cur", "101.B:2,S", "Message-ID: <b@x>");
  }
  MaildirFixture mail;
  RecordedVisits recorded;
  addin::VisitBinding visits{RecordedVisits::Points()};
  std::uint64_t window = 0x4400001;
  std::unique_ptr<MailHost> host = std::make_unique<MailHost>(
      visits, AccountRoots{{"account1", mail.root()}}, [this] { return window; });
};

TEST_F(MailHostTest, EachDisplayEndsThePreviousVisitAndStartsItsOwn) {
  const std::string a = MaildirFixture::Expected("", "100.A"), b = MaildirFixture::Expected("", "101.B");
  EXPECT_EQ(host->Handle(Displayed(1, "a@x")), "{\"ok\":true,\"item\":\"" + a + "\",\"tracer\":true}");
  EXPECT_EQ(host->Handle(Displayed(2, "b@x")), "{\"ok\":true,\"item\":\"" + b + "\",\"tracer\":true}");
  EXPECT_EQ(recorded.calls, (std::vector<VisitCall>{{'S', window, a, hooks::KIV_VF_TRACK},
                                                   {'E', window, "<null>", 0},
                                                   {'S', window, b, hooks::KIV_VF_TRACK}}));
  // Closing another tab leaves the visit; closing its own ends it, once.
  EXPECT_EQ(host->Handle(R"({"type":"closed","tab":1})"), "{\"ok\":true}");
  EXPECT_EQ(recorded.calls.size(), 3u);
  host->Handle(R"({"type":"closed","tab":2})");
  host->Handle(R"({"type":"closed","tab":2})");
  EXPECT_EQ(recorded.calls.size(), 4u);
  EXPECT_EQ(recorded.calls.back(), (VisitCall{'E', window, "<null>", 0}));
  EXPECT_TRUE(host->openItem().empty());
}

TEST_F(MailHostTest, DisconnectionEndsTheOpenVisit) {
  host->Handle(Displayed(1, "a@x"));
  host.reset();  // the client closed the connection
  ASSERT_EQ(recorded.calls.size(), 2u);
  EXPECT_EQ(recorded.calls[1].op, 'E');
}

TEST_F(MailHostTest, MessagesThatNameNoItemEndTheVisitAndSayWhy) {
  host->Handle(Displayed(1, "a@x"));
  const std::string other = host->Handle(Displayed(1, "a@x", "/Inbox", "imap9"));
  EXPECT_NE(other.find("\"ok\":false"), std::string::npos);
  EXPECT_NE(other.find("--account imap9=MAILDIR"), std::string::npos);
  EXPECT_EQ(recorded.calls.back().op, 'E');  // the user has moved on from the first message
  EXPECT_NE(host->Handle(Displayed(1, "gone@x")).find("not in the account"), std::string::npos);
  EXPECT_NE(host->Handle(Displayed(1, "a@x", "/../../etc")).find("cannot name"), std::string::npos);
  EXPECT_NE(host->Handle("{\"type\":").find("refused"), std::string::npos);
  window = 0;
  EXPECT_NE(host->Handle(Displayed(1, "a@x")).find("window was not found"), std::string::npos);
  EXPECT_EQ(recorded.calls.size(), 2u);  // one start, one end
  // A failed start leaves no visit to end later.
  window = 7;
  recorded.startResult = E_INVALIDARG;
  EXPECT_NE(host->Handle(Displayed(1, "a@x")).find("not reported"), std::string::npos);
  host->Disconnect();
  EXPECT_EQ(recorded.calls.size(), 3u);
}

TEST_F(MailHostTest, HelloCountsTheKnownAccounts) {
  EXPECT_EQ(host->Handle(R"({"type":"hello"})"), "{\"ok\":true,\"host\":\"qvmailhost\",\"accounts\":1}");
}

TEST(MailHostAccounts, AccountsAreKeptPerUserWithAbsoluteRootsOnly) {
  TestContext tc;
  EXPECT_TRUE(ReadAccounts(tc.registry()).empty());
  EXPECT_EQ(AddAccount(tc.registry(), "account1", "/home/u/Mail"), S_OK);
  EXPECT_EQ(AddAccount(tc.registry(), "account2", "relative/Mail"), E_INVALIDARG);
  EXPECT_EQ(AddAccount(tc.registry(), "", "/x"), E_INVALIDARG);
  tc.registry().SetValue(platform::Hive::CurrentUser, kAccountsKey, "bad", platform::RegValue::Dword(1));
  EXPECT_EQ(ReadAccounts(tc.registry()), (AccountRoots{{"account1", "/home/u/Mail"}}));
}

TEST(ClientWindowKey, TheClientsForegroundWindowElseItsTopmostVisibleOne) {
  platform::SimDesktop desktop;
  auto make = [&](platform::DesktopWindow id, std::int32_t pid, bool visible = true) {
    platform::WindowState s;
    s.id = id;
    s.pid = pid;
    s.visible = visible;
    desktop.CreateWindow(s);
  };
  make(1, 500);
  make(2, 500);
  make(3, 600);
  make(4, 500, false);  // topmost, hidden
  EXPECT_EQ(ClientWindow(desktop, 500), 2u);
  desktop.SetForeground(1);
  EXPECT_EQ(ClientWindow(desktop, 500), 1u);
  desktop.SetForeground(3);
  EXPECT_EQ(ClientWindow(desktop, 500), 1u);
  EXPECT_EQ(ClientWindow(desktop, 700), 0u);
  EXPECT_EQ(ClientWindow(desktop, 0), 0u);
}

}  // namespace
}  // namespace qv::mail::tb
