#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "common/bit_count.h"
#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"
#include "common/scope_hash.h"
#include "common/tool_args.h"
#include "common/utf.h"

namespace qv {
namespace {

// The inline count must agree with the standard one on every width and pattern: a wrong
// mask would pick the wrong value of a cached row.
TEST(BitCount, AgreesWithTheStandardCount) {
  static_assert(CountBits(0) == 0 && CountBits(~std::uint64_t{0}) == 64);
  std::uint64_t x = 0x9e3779b97f4a7c15ull;
  for (int i = 0; i < 10000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const std::uint64_t sparse = x & (x >> 1) & (x >> 2);
    EXPECT_EQ(CountBits(x), std::popcount(x));
    EXPECT_EQ(CountBits(sparse), std::popcount(sparse));
    EXPECT_EQ(CountBits(x & ((std::uint64_t{1} << (i % 64)) - 1)),
              std::popcount(x & ((std::uint64_t{1} << (i % 64)) - 1)));
  }
}

TEST(Hresult, Win32CodesBecomeFailuresOnlyWhenPositive) {
  EXPECT_EQ(HresultFromWin32(0), S_OK);
  EXPECT_EQ(HresultFromWin32(-5), -5);
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(5)), 0x80070005u);
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(1460)), 0x800705B4u);
  // Only the low 16 bits of the code survive.
  EXPECT_EQ(static_cast<std::uint32_t>(HresultFromWin32(0x12345)), 0x80072345u);
  EXPECT_EQ(FormatHresult(E_INVALIDARG), "0x80070057");
  EXPECT_EQ(FormatLowWord(E_INVALIDARG), "87(0x57)");
  EXPECT_EQ(SystemMessage(E_INVALIDARG), "The parameter is incorrect.");
  EXPECT_EQ(SystemMessage(MakeHr(0x8123ABCD)), "");
}

TEST(Guid, ParsesOnlyTheRegistryFormAndFormatsUpperCase) {
  const auto g = ParseGuid("{3108efa7-0c78-4930-8542-237b2c341ed2}");
  ASSERT_TRUE(g);
  EXPECT_EQ(FormatGuid(*g), "{3108EFA7-0C78-4930-8542-237B2C341ED2}");
  EXPECT_EQ(g->data1, 0x3108EFA7u);
  EXPECT_EQ(g->data4[7], 0xD2);
  for (const char* bad : {"3108EFA7-0C78-4930-8542-237B2C341ED2", "{3108EFA7-0C78-4930-8542-237B2C341ED2",
                          "{3108EFA7-0C78-4930-8542-237B2C341EDZ}", "{3108EFA70C78-4930-8542-237B2C341ED2x}",
                          "", "{}", "{3108EFA7-0C78-4930-8542-237B2C341ED2}}"}) {
    EXPECT_FALSE(ParseGuid(bad)) << bad;
  }
}

TEST(Guid, BytesAreLittleEndianInTheFirstThreeFields) {
  const Guid g = *ParseGuid("{48CA09C3-119B-8534-9A91-87848040E351}");
  const auto b = GuidToBytes(g);
  EXPECT_EQ(b[0], 0xC3);
  EXPECT_EQ(b[3], 0x48);
  EXPECT_EQ(b[4], 0x9B);
  EXPECT_EQ(b[6], 0x34);
  EXPECT_EQ(b[8], 0x9A);
  EXPECT_EQ(GuidFromBytes(b), g);
}

TEST(Guid, NewGuidsAreVersionFourAndDistinct) {
  Guid a, b;
  ASSERT_EQ(NewGuid(a), S_OK);
  ASSERT_EQ(NewGuid(b), S_OK);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.data3 >> 12, 4);
  EXPECT_EQ(a.data4[0] & 0xC0, 0x80);
}

TEST(Utf, RoundTripsAndReplacesInvalidInput) {
  const std::string s = "Grüße, 日本, 😀";
  bool ok = false;
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s, &ok)), s);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Utf8ToUtf16("😀").size(), 2u);  // a surrogate pair
  const auto bytes = Utf8ToUtf16LeBytes("Aé");
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x41, 0x00, 0xE9, 0x00}));
  EXPECT_EQ(Utf16LeBytesToUtf8(bytes), "Aé");
  // Truncated, overlong and surrogate encodings become U+FFFD, never a real character.
  for (std::string bad : {std::string("\xC3"), std::string("\xC0\x80"), std::string("\xED\xA0\x80"),
                          std::string("\xFF")}) {
    ok = true;
    const std::u16string w = Utf8ToUtf16(bad, &ok);
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.find_first_not_of(u'\uFFFD'), std::u16string::npos) << bad.size();
    EXPECT_FALSE(ok);
  }
  EXPECT_TRUE(EqualsNoCase("Software\\Quillon", "SOFTWARE\\quillon"));
  EXPECT_FALSE(EqualsNoCase("a", "ab"));
}

// File names are bytes: every byte string survives the trip through UTF-16 exactly.
TEST(Utf, EscapedConversionKeepsBytesThatAreNotUtf8) {
  std::vector<std::string> names = {"plain", "Gr\xC3\xBC\xC3\x9F\xF0\x9F\x98\x80",
                                    "latin1 caf\xE9", "\xC3", "\xC0\x80", "\xED\xA0\x80",
                                    "\xF4\x90\x80\x80", "\xEF\xBF\xBD real U+FFFD",
                                    "\xE2\x82", "\x80\x80\xFF\xFE"};
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  names.push_back(all);
  for (const std::string& name : names) {
    const std::u16string w = Utf8ToUtf16Escaped(name);
    EXPECT_EQ(Utf16ToUtf8Escaped(w), name) << name;
    // Valid text is converted as before.
    bool ok = false;
    const std::u16string plain = Utf8ToUtf16(name, &ok);
    if (ok) {
      EXPECT_EQ(w, plain) << name;
    }
  }
  EXPECT_EQ(Utf8ToUtf16Escaped("a\xFF" "b"), u"a\xDCFF" u"b");
  // Lone surrogates outside the escape range cannot be bytes: U+FFFD, as before.
  EXPECT_EQ(Utf16ToUtf8Escaped(u"\xD800x\xDC7F"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
  EXPECT_EQ(Utf8SequenceLength("\xF0\x9F\x98\x80", 0), 4u);
  EXPECT_EQ(Utf8SequenceLength("a\xE9", 1), 0u);
}

TEST(ToolArgs, NumbersAndPathsAreCheckedNotThrownAt) {
  EXPECT_EQ(ParseWholeNumber("0"), 0u);
  EXPECT_EQ(ParseWholeNumber("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(ParseWholeNumber("255", 255), 255u);
  for (std::string_view bad : {"", "abc", "-1", "+1", " 1", "1 ", "0x10", "1e3", "3.5",
                               "18446744073709551616", "99999999999999999999999"}) {
    EXPECT_FALSE(ParseWholeNumber(bad)) << bad;
  }
  EXPECT_FALSE(ParseWholeNumber("256", 255));
  EXPECT_FALSE(AbsolutePathArg(""));
  EXPECT_FALSE(AbsolutePathArg(std::string_view("a\0b", 3)));
  EXPECT_EQ(AbsolutePathArg("/a/./b/../c"), std::filesystem::path("/a/c"));
  EXPECT_TRUE(AbsolutePathArg("relative")->is_absolute());
  EXPECT_EQ(EscapeControls("a\nb\\c\x7F\xC3\xA9"), "a\\x0Ab\\\\c\\x7F\xC3\xA9");
  EXPECT_TRUE(HasControlCharacter("text/html\r\nX: y"));
  EXPECT_FALSE(HasControlCharacter("text/html; charset=utf-8"));
}

TEST(ScopeHash, HashesUtf16LeBytesWithShiftAddXor) {
  EXPECT_EQ(ScopeHash(""), 0u);
  // "A" is the bytes 41 00: h = 0x41, then h ^= (0x41 << 5) + (0x41 >> 2) = 0x871.
  EXPECT_EQ(ScopeHash("A"), 0x871u);
  EXPECT_NE(ScopeHash("HOST\\alice"), ScopeHash("HOST\\Alice"));
}

TEST(OleDate, KnownDatesAndRoundTrips) {
  EXPECT_DOUBLE_EQ(UnixSecondsToDate(0), 25569.0);
  EXPECT_EQ(FormatIsoDate(25569.5), "1970-01-01T12:00:00Z");
  EXPECT_EQ(FormatIsoDate(1.0), "1899-12-31T00:00:00Z");
  const DATE d = *ParseIsoDate("2026-12-07T13:08:09Z");
  EXPECT_EQ(FormatIsoDate(d), "2026-12-07T13:08:09Z");
  EXPECT_EQ(FormatIsoDate(*ParseIsoDate("2026-12-07T15:08:09+02:00")), "2026-12-07T13:08:09Z");
  EXPECT_EQ(FormatIsoDate(*ParseIsoDate("2026-12-07")), "2026-12-07T00:00:00Z");
  EXPECT_EQ(FormatIsoDate(*ParseIsoDate("2026-12-07T13:08:09.250Z")), "2026-12-07T13:08:09.250Z");
  for (const char* bad : {"2026-02-30", "2025-02-29T00:00:00Z", "2026-13-01", "2026-12-07T24:00",
                          "2026-12-07T13:08:09X", "2026-12-07T13:08:09.Z", "yesterday", ""}) {
    EXPECT_FALSE(ParseIsoDate(bad)) << bad;
  }
  const auto ft = DateToFileTime(d);
  ASSERT_TRUE(ft);
  EXPECT_NEAR(FileTimeToDate(*ft), d, 1e-9);
  EXPECT_EQ(FileTimeToTimespec(*ft).tv_sec, static_cast<time_t>(std::llround(DateToUnixSeconds(d))));
}

TEST(OleDate, RejectsDatesThatCannotBeConverted) {
  EXPECT_FALSE(DateToFileTime(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(DateToFileTime(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(DateToFileTime(-1e9));
  EXPECT_FALSE(DateToFileTime(-109206.0));  // before 1601
  EXPECT_FALSE(IsValidDate(3e6));
  EXPECT_EQ(FormatIsoDate(std::numeric_limits<double>::quiet_NaN()), "invalid");
}

}  // namespace
}  // namespace qv
