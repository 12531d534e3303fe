#include "platform/registry/reg_file.h"

#include <gtest/gtest.h>

#include <string>

#include "common/hresult.h"
#include "common/utf.h"
#include "platform/registry/reg_names.h"

namespace qv::platform {
namespace {

constexpr std::string_view kHead = "Windows Registry Editor Version 5.00\n\n";

std::unique_ptr<RegKey> NewRoot(Hive h = Hive::CurrentUser) {
  return std::make_unique<RegKey>(std::string(HiveName(h)));
}

std::int32_t Parse(std::string_view text, RegKey& root, RegParseError* err = nullptr) {
  return ParseRegText(text, Hive::CurrentUser, root, err);
}

// Formats `root`, parses the text again and expects the same tree; returns the text.
std::string RoundTrip(const RegKey& root) {
  const std::string text = FormatRegText(root);
  auto again = NewRoot();
  RegParseError err;
  EXPECT_EQ(Parse(text, *again, &err), 0) << err.Describe() << "\n" << text;
  EXPECT_TRUE(SameTree(root, *again)) << text;
  return text;
}

TEST(RegFile, EveryTypeRoundTrips) {
  auto root = NewRoot();
  RegKey& k = root->AddSubkey("Software").AddSubkey("Quillon").AddSubkey("Vesper");
  k.SetValue("Dword", RegValue::Dword(0xDEADBEEF));
  k.SetValue("Zero", RegValue::Dword(0));
  k.SetValue("Sz", RegValue::Sz("plain"));
  k.SetValue("Escapes", RegValue::Sz(R"(C:\dir\"quoted"\\end\)"));
  k.SetValue("Unicode", RegValue::Sz("Grüße – 日本語 – \U0001F600"));
  k.SetValue("EmptySz", RegValue::Sz(""));
  k.SetValue("Tab", RegValue::Sz("a\tb"));
  k.SetValue("Newline", RegValue::Sz("line1\r\nline2"));
  k.SetValue("EmbeddedNul", RegValue::Sz(std::string("a\0b\0", 4)));
  k.SetValue("Expand", RegValue::ExpandSz("%HOME%\\x"));
  k.SetValue("EmptyExpand", RegValue::ExpandSz(""));
  k.SetValue("Multi", RegValue::MultiSz({"one", "two \"2\"", "drei ü"}));
  k.SetValue("EmptyMulti", RegValue::MultiSz({}));
  k.SetValue("OneEmptyString", RegValue::MultiSz({""}));
  k.SetValue("HoleInMulti", RegValue::MultiSz({"a", "", "b"}));
  k.SetValue("Binary", RegValue::Binary({0x00, 0xFF, 0x10}));
  k.SetValue("EmptyBinary", RegValue::Binary({}));
  std::vector<std::uint8_t> big(1000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  k.SetValue("BigBinary", RegValue::Binary(big));
  k.SetValue("", RegValue::Sz("default"));
  k.SetValue("quote\"and\\slash", RegValue::Dword(1));
  k.SetValue("@", RegValue::Dword(2));
  root->SetValue("AtRoot", RegValue::Dword(3));
  root->AddSubkey("Empty");
  root->AddSubkey("Odd [name] ü");

  const std::string text = RoundTrip(*root);
  EXPECT_NE(text.find("\"Dword\"=dword:deadbeef\n"), std::string::npos);
  EXPECT_NE(text.find(R"("Escapes"="C:\\dir\\\"quoted\"\\\\end\\")"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"EmptyMulti\"=hex(7):00,00\n"), std::string::npos);
  EXPECT_NE(text.find("\"Expand\"=hex(2):25,00,48,00"), std::string::npos);
  EXPECT_NE(text.find("\"EmptyBinary\"=hex:\n"), std::string::npos);
  // Text that a quoted string cannot hold goes out as hex(1).
  EXPECT_NE(text.find("\"Newline\"=hex(1):"), std::string::npos);
  // Long hex lists are continued and no line grows past 80 columns.
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    const std::string_view line(text.data() + start, nl - start);
    if (line.find("hex") != std::string_view::npos || line.starts_with("  ")) {
      EXPECT_LE(line.size(), 80u) << line;
    }
    start = nl + 1;
  }
}

TEST(RegFile, ReadsRegeditStyleText) {
  // CRLF line ends, comments, lower/upper case hex, an implicit parent, a repeated section.
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon\\Vesper]\r\n"
      "\"A\"=dword:1E\r\n"
      "\"B\" = \"x\"   \r\n"
      "\"Bin\"=hex:0A,0b,\\\r\n"
      "  0c\r\n"
      "\"Four\"=hex(4):01,02,03,04\r\n"
      "\"Sz1\"=hex(1):68,00,69,00,00,00\r\n"
      "\"NoTerm\"=hex(7):61,00\r\n"
      "[hkey_current_user\\software\\QUILLON\\vesper]\r\n"
      "\"a\"=dword:00000002\r\n";
  auto root = NewRoot();
  RegParseError err;
  ASSERT_EQ(Parse(text, *root, &err), 0) << err.Describe();
  ASSERT_EQ(root->subkeys().size(), 1u);
  const RegKey* v = root->FindSubkey("software")->FindSubkey("quillon")->FindSubkey("VESPER");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->name(), "Vesper");  // first spelling kept
  ASSERT_EQ(v->values().size(), 6u);
  EXPECT_EQ(v->values()[0].first, "A");
  EXPECT_EQ(*v->FindValue("A"), RegValue::Dword(2));  // the later section wins
  EXPECT_EQ(*v->FindValue("B"), RegValue::Sz("x"));
  EXPECT_EQ(*v->FindValue("Bin"), RegValue::Binary({0x0A, 0x0B, 0x0C}));
  EXPECT_EQ(*v->FindValue("Four"), RegValue::Dword(0x04030201));
  EXPECT_EQ(*v->FindValue("Sz1"), RegValue::Sz("hi"));
  EXPECT_EQ(*v->FindValue("NoTerm"), RegValue::MultiSz({"a"}));
}

TEST(RegFile, ReadsUtf16FileAndEmptyFile) {
  const std::string utf8 = std::string(kHead) + "[HKEY_CURRENT_USER\\Ä]\n\"n\"=\"ö\"\n";
  const std::u16string u16 = Utf8ToUtf16(utf8);
  std::string bytes = "\xFF\xFE";
  for (char16_t c : u16) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  auto root = NewRoot();
  ASSERT_EQ(Parse(bytes, *root), 0);
  EXPECT_EQ(*root->FindSubkey("Ä")->FindValue("N"), RegValue::Sz("ö"));

  auto empty = NewRoot();
  EXPECT_EQ(Parse("", *empty), 0);
  EXPECT_EQ(Parse("\n \n", *empty), 0);
  EXPECT_TRUE(empty->subkeys().empty());
}

TEST(RegFile, RejectsMalformedTextWithTheLine) {
  struct Case {
    std::string text;
    std::size_t line;
  };
  using namespace std::string_literals;
  const std::string h(kHead);
  const Case cases[] = {
      {"REGEDIT4\n", 1},
      {h + "\"a\"=dword:1\n", 3},                                      // value before a key
      {h + "[HKEY_LOCAL_MACHINE\\x]\n", 3},                            // other hive
      {h + "[HKEY_CURRENT_USER\\a\\\\b]\n", 3},                        // empty component
      {h + "[HKEY_CURRENT_USER\\a\\]\n", 3},
      {h + "[HKEY_CURRENT_USER\\a\n", 3},                              // no ]
      {h + "[-HKEY_CURRENT_USER\\a]\n", 3},                            // deletion line
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=-\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=dword:123456789\n", 4},      // 9 digits
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=dword:\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=dword:12g\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=\"open\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=\"bad \\n escape\"\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=\"v\" trailing\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex:0g\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex:001\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex:00,\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex:00,\\\n", 4},            // ends inside
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex(b):00,00,00,00,00,00,00,00\n", 4},  // QWORD
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex(2):41\n", 4},            // odd UTF-16
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex(2):00,d8,00,00\n", 4},   // lone surrogate
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex(4):01,02\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=hex(:00\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=wat\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"dword:1\n", 4},
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=\"\xC3\"\n", 4},             // invalid UTF-8
      {h + "[HKEY_CURRENT_USER\\a]\n\"x\"=\"a\0b\"\n"s, 4},
      {h + "garbage\n", 3},
  };
  for (const Case& c : cases) {
    auto root = NewRoot();
    RegParseError err;
    EXPECT_EQ(Parse(c.text, *root, &err), win32::ERROR_BADDB) << c.text;
    EXPECT_EQ(err.line, c.line) << c.text;
    EXPECT_FALSE(err.message.empty());
  }
  auto root = NewRoot();
  RegParseError err;
  EXPECT_EQ(ParseRegText("\xFF\xFE\x41", Hive::CurrentUser, *root, &err), win32::ERROR_BADDB);
}

TEST(RegFile, NameLimitsHoldAtTheirEdges) {
  auto parseKey = [](const std::string& component) {
    auto root = NewRoot();
    return Parse(std::string(kHead) + "[HKEY_CURRENT_USER\\" + component + "]\n", *root);
  };
  EXPECT_EQ(parseKey(std::string(kMaxKeyNameChars, 'k')), 0);
  EXPECT_EQ(parseKey(std::string(kMaxKeyNameChars + 1, 'k')), win32::ERROR_BADDB);
  // The limit counts UTF-16 units: 127 characters outside the BMP make 254 units.
  std::string astral;
  for (int i = 0; i < 128; ++i) astral += "\U0001F600";
  EXPECT_EQ(parseKey(astral), win32::ERROR_BADDB);

  std::string deep = "k";
  for (std::size_t i = 1; i < kMaxKeyDepth; ++i) deep += "\\k";
  EXPECT_EQ(parseKey(deep), 0);
  EXPECT_EQ(parseKey(deep + "\\k"), win32::ERROR_BADDB);

  auto parseValue = [](const std::string& name) {
    auto root = NewRoot();
    return Parse(std::string(kHead) + "[HKEY_CURRENT_USER\\a]\n\"" + name + "\"=dword:1\n", *root);
  };
  EXPECT_EQ(parseValue(std::string(kMaxValueNameChars, 'v')), 0);
  EXPECT_EQ(parseValue(std::string(kMaxValueNameChars + 1, 'v')), win32::ERROR_BADDB);
}

TEST(RegFile, CheckValueRejectsWhatTheFileCannotHold) {
  EXPECT_EQ(CheckValue(RegValue::Sz("ok")), 0);
  EXPECT_EQ(CheckValue(RegValue::Sz("\xC3")), win32::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CheckValue(RegValue::MultiSz({std::string("a\0b", 3)})),
            win32::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CheckValue(RegValue::Binary(std::vector<std::uint8_t>(kMaxValueBytes))), 0);
  EXPECT_EQ(CheckValue(RegValue::Binary(std::vector<std::uint8_t>(kMaxValueBytes + 1))),
            win32::ERROR_INVALID_PARAMETER);
  RegValue bad;
  bad.type = static_cast<RegType>(11);
  EXPECT_EQ(CheckValue(bad), win32::ERROR_INVALID_PARAMETER);
}

TEST(RegNames, SplitsAndChecksKeyPaths) {
  std::vector<std::string_view> parts;
  EXPECT_EQ(SplitKeyPath("", parts), 0);
  EXPECT_TRUE(parts.empty());
  EXPECT_EQ(SplitKeyPath("Software\\Quillon\\Vesper", parts), 0);
  EXPECT_EQ(parts, (std::vector<std::string_view>{"Software", "Quillon", "Vesper"}));
  for (std::string_view bad : {"\\a", "a\\", "a\\\\b", "\\", "a\nb", "a\tb"}) {
    EXPECT_EQ(SplitKeyPath(bad, parts), win32::ERROR_INVALID_PARAMETER) << bad;
  }
  EXPECT_EQ(SplitKeyPath(std::string(256, 'x'), parts), win32::ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(CheckValueName(""), 0);
  EXPECT_EQ(CheckValueName("with\\backslash"), 0);
  EXPECT_EQ(CheckValueName("new\nline"), win32::ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace qv::platform
