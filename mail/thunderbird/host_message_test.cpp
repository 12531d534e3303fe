// What the host accepts from the extension, and the hostile JSON it refuses.
#include "mail/thunderbird/host_message.h"

#include <gtest/gtest.h>

namespace qv::mail::tb {
namespace {

HRESULT Parse(std::string_view json, HostMessage& m) {
  std::string why;
  return ParseHostMessage(json, m, why);
}

TEST(HostMessage, TheThreeMessagesOfTheExtension) {
  HostMessage m;
  ASSERT_EQ(Parse(R"({"type":"displayed","tab":3,"messageId":"abc@example.org",)"
                  R"("folder":"/Inbox","account":"account1"})", m), S_OK);
  EXPECT_EQ(m.type, HostMessage::Type::Displayed);
  EXPECT_EQ(m.tab, 3);
  EXPECT_EQ(m.messageId, "abc@example.org");
  EXPECT_EQ(m.folder, "/Inbox");
  EXPECT_EQ(m.account, "account1");
  ASSERT_EQ(Parse(" {\n\"tab\" : 12 , \"type\":\"closed\", \"extra\": null, \"flag\": true}\r\n", m), S_OK);
  EXPECT_EQ(m.type, HostMessage::Type::Closed);
  EXPECT_EQ(m.tab, 12);
  ASSERT_EQ(Parse(R"({"type":"hello","version":1})", m), S_OK);
  EXPECT_EQ(m.type, HostMessage::Type::Hello);
  // Escapes, surrogate pairs included, become UTF-8.
  ASSERT_EQ(Parse(R"({"type":"displayed","tab":0,"messageId":"a\"b\\c\u00e9\ud83d\ude00",)"
                  R"("folder":"\/Archiv\u00e9","account":"a"})", m), S_OK);
  EXPECT_EQ(m.messageId, "a\"b\\c\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(m.folder, "/Archiv\xC3\xA9");
}

TEST(HostMessage, HostileOrMalformedJsonIsRefused) {
  const char* refused[] = {
      "",
      "[]",
      "\"text\"",
      R"({"type":"hello"} {})",                     // trailing text
      R"({"type":"hello","type":"closed","tab":1})",  // a key twice
      R"({"type":"hello","x":{"y":1}})",             // nesting
      R"({"type":"hello","x":[1]})",
      R"({"type":"hello",})",
      R"({"type":"hello")",
      R"({"type":"hel)",
      "{\"type\":\"hel\x01lo\"}",                    // raw control character
      "{\"type\":\"hello\",\"x\":\"\xC3\x28\"}",     // invalid UTF-8
      "{\"type\":\"hello\",\"x\":\"\xED\xA0\x80\"}",  // an encoded surrogate
      R"({"type":"hello","x":"\ud800"})",            // a lone high surrogate
      R"({"type":"hello","x":"\udc00x"})",           // a lone low surrogate
      R"({"type":"hello","x":"\u0000"})",            // NUL
      R"({"type":"hello","x":"\q"})",
      R"({"type":"hello","x":01})",
      R"({"type":"hello","x":1.5})",
      R"({"type":"hello","x":99999999999999999999})",
      R"({"type":"wave"})",
      R"({"type":7})",
      R"({"type":"closed"})",
      R"({"type":"closed","tab":-1})",
      R"({"type":"closed","tab":"1"})",
      R"({"type":"displayed","tab":1,"messageId":"","folder":"/","account":"a"})",
      R"({"type":"displayed","tab":1,"messageId":"m","folder":"/","account":5})",
      R"({"type":"displayed","tab":1,"folder":"/","account":"a"})",
  };
  for (const char* json : refused) {
    HostMessage m;
    std::string why;
    EXPECT_EQ(ParseHostMessage(json, m, why), E_INVALIDARG) << json;
    EXPECT_FALSE(why.empty()) << json;
  }
  // Long strings and many keys are bounded.
  HostMessage m;
  const std::string longId(kMaxFieldChars + 1, 'x');
  EXPECT_EQ(Parse(R"({"type":"displayed","tab":1,"folder":"/","account":"a","messageId":")" +
                      longId + "\"}", m), E_INVALIDARG);
  std::string many = R"({"type":"hello")";
  for (int i = 0; i < 40; ++i) many += ",\"k" + std::to_string(i) + "\":1";
  EXPECT_EQ(Parse(many + "}", m), E_INVALIDARG);
}

TEST(HostMessage, RepliesQuoteTheirText) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
}

}  // namespace
}  // namespace qv::mail::tb
