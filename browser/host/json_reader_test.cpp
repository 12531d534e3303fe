#include "browser/host/json_reader.h"

#include <gtest/gtest.h>

#include "browser/host/base64.h"

namespace qv::browser {
namespace {

bool Parses(std::string_view text) {
  JsonValue v;
  std::string error;
  return ParseJson(text, v, error);
}

TEST(JsonReader, ReadsValuesEscapesAndMembersInOrder) {
  JsonValue v;
  std::string error;
  ASSERT_TRUE(ParseJson(R"( {"a": [1, -2.5e3, true, false, null], "s": "x\"\\\/\n\u00e9\ud83d\ude00", "a": 0} )",
                        v, error))
      << error;
  ASSERT_EQ(v.type, JsonValue::Type::Object);
  ASSERT_EQ(v.members.size(), 3u);
  const JsonValue* a = v.Find("a");  // the first of a repeated name
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 5u);
  EXPECT_EQ(a->items[1].number, -2500);
  EXPECT_TRUE(a->items[2].boolean);
  EXPECT_EQ(a->items[4].type, JsonValue::Type::Null);
  EXPECT_EQ(v.Find("s")->string, "x\"\\/\n\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(v.Find("missing"), nullptr);
}

TEST(JsonReader, RefusesWhatIsNotStrictJson) {
  for (std::string_view bad :
       {"", " ", "{", "[1,]", "{\"a\":1,}", "{'a':1}", "{a:1}", "[01]", "[1.]", "[.5]", "[1e]",
        "[+1]", "tru", "nul", "[1] [2]", "\"tab\there\"", "\"\\x\"", "\"\\u12\"", "\"\\ud800\"",
        "\"\\udc00\"", "\"\\ud800\\u0041\"", "// c\n1", "[\"\xff\"]", "[\"\xc3\"]", "NaN"}) {
    EXPECT_FALSE(Parses(bad)) << bad;
  }
}

TEST(JsonReader, BoundsNesting) {
  EXPECT_TRUE(Parses(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']')));
  EXPECT_FALSE(Parses(std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']')));
  // Far deeper than the stack could take if the reader recursed without a bound.
  EXPECT_FALSE(Parses(std::string(1 << 20, '[')));
}

TEST(JsonReader, QuotesControlCharacters) {
  EXPECT_EQ(JsonQuote("a\"b\\c\n\x01"), R"("a\"b\\c\u000a\u0001")");
  JsonValue v;
  std::string error;
  ASSERT_TRUE(ParseJson(JsonQuote("line\r\nnext\t\"q\""), v, error));
  EXPECT_EQ(v.string, "line\r\nnext\t\"q\"");
}

TEST(Base64, DecodesOnlyCanonicalPaddedText) {
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(DecodeBase64("aGVsbG8=", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
  ASSERT_TRUE(DecodeBase64("AP8=", out));
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x00, 0xFF}));
  ASSERT_TRUE(DecodeBase64("", out));
  EXPECT_TRUE(out.empty());
  for (std::string_view bad : {"aGVsbG8", "aGVsbG8==", "aG=sbG8=", "a===", "aGVs bG8=", "aGVsbG9=",
                               "aGVs\nbG8="}) {
    EXPECT_FALSE(DecodeBase64(bad, out)) << bad;
  }
}

}  // namespace
}  // namespace qv::browser
