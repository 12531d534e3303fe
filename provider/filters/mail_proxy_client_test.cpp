#include "provider/filters/mail_proxy_client.h"

#include <gtest/gtest.h>

namespace qv::filters {
namespace {

using platform::CallArg;
using OptString = std::optional<std::string>;

TEST(MailScope, ABucketFolderIsDroppedAndNothingElse) {
  EXPECT_EQ(MailScopeOfFolder("/mail/store/3f"), "/mail/store");
  EXPECT_EQ(MailScopeOfFolder("/mail/store/3f/"), "/mail/store");
  EXPECT_EQ(MailScopeOfFolder("/mail/store"), "/mail/store");
  EXPECT_EQ(MailScopeOfFolder("/mail/store/"), "/mail/store");
  // Upper-case digits, other lengths and other letters are not bucket folders.
  EXPECT_EQ(MailScopeOfFolder("/mail/store/3F"), "/mail/store/3F");
  EXPECT_EQ(MailScopeOfFolder("/mail/store/3f0"), "/mail/store/3f0");
  EXPECT_EQ(MailScopeOfFolder("/mail/store/zz"), "/mail/store/zz");
  // A bucket-named folder right under the root stays whole rather than naming "/".
  EXPECT_EQ(MailScopeOfFolder("/ab"), "/ab");
  EXPECT_EQ(MailScopeOfFolder(""), "");
}

std::vector<CallArg> ItemDataArgs() {
  std::vector<CallArg> a = {std::uint32_t{123}, std::uint32_t{2}, std::uint32_t{3},
                            OptString("{0B5E3F57-33A0-4D16-9C7C-2A8F8E0D61AA}")};
  a.insert(a.end(), {std::uint32_t{77}, std::uint32_t{120}, std::uint32_t{60}, std::uint32_t{2},
                     45000.5, 46000.25, std::uint32_t{60}, std::uint32_t{300}, 0.0,
                     std::uint32_t{0}, std::uint32_t{0}});
  for (const char* s : {"Inbox", "RE: ", "Budget", "Bob", "Ann", "", "", "IPM.Note"}) {
    a.emplace_back(OptString(s));
  }
  a.insert(a.end(), {std::uint32_t{0x21}, 45000.0, 45001.0});
  return a;
}

TEST(ProxyItemData, TheScopeComesFirstAndEveryValueMustHaveItsType) {
  const std::vector<CallArg> args = ItemDataArgs();
  ASSERT_EQ(args.size(), kProxyItemValueCount);
  std::uint32_t scope = 0;
  OtlItemData d;
  ASSERT_TRUE(ProxyItemDataFromArgs(args, scope, d));
  EXPECT_EQ(scope, 123u);
  EXPECT_EQ(d.flags, kItemHasRankingSet);
  EXPECT_EQ(d.set.last.n, 300u);
  EXPECT_EQ(d.subject, "Budget");
  EXPECT_EQ(d.itemType, "IPM.Note");
  EXPECT_EQ(d.messageFlags, 0x21u);
  EXPECT_EQ(d.date2, 45001.0);

  OtlItemData kept;
  kept.subject = "kept";
  EXPECT_FALSE(ProxyItemDataFromArgs(std::span(args).subspan(1), scope, kept));
  auto wrong = args;
  wrong[8] = CallArg(std::uint32_t{1});  // a number where the first visit's date belongs
  EXPECT_FALSE(ProxyItemDataFromArgs(wrong, scope, kept));
  wrong = args;
  wrong.resize(wrong.size() + 1);
  EXPECT_FALSE(ProxyItemDataFromArgs(wrong, scope, kept));
  EXPECT_EQ(kept.subject, "kept");
}

}  // namespace
}  // namespace qv::filters
