#include <gtest/gtest.h>

#include <string>

#include "common/oledate.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {
namespace {

std::string Joined(const DocumentText& d) {
  std::string all;
  for (const auto& c : d.chunks) all += c + "\n";
  return all;
}

std::string Text(std::string_view rtf, ReaderLimits limits = {}) {
  DocumentText d;
  EXPECT_EQ(ReadRtf(rtf, limits, d), S_OK) << rtf;
  return Joined(d);
}

TEST(RtfReader, WordsSplitByFormattingAndEscapesReadWhole) {
  // "Pangolin" is split by bold and italic groups; the é comes as \'e9 in Windows-1252 and
  // the € as \u8364 with a one-character fallback that must not appear.
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Times Xylophone;}}"
      "{\\colortbl;\\red0\\green0\\blue0;}"
      "{\\stylesheet{\\s0 Normal Xylophone;}}"
      "\\pard Pan{\\b go}{\\i lin} caf\\'e9 costs 5\\u8364?.\\par "
      "Second line\\line third\\tab cell}";
  const std::string text = Text(rtf);
  EXPECT_NE(text.find("Pangolin caf\xC3\xA9 costs 5\xE2\x82\xAC."), std::string::npos) << text;
  EXPECT_NE(text.find("Second line\nthird\tcell"), std::string::npos) << text;
  EXPECT_EQ(text.find("Xylophone"), std::string::npos) << "tables leaked: " << text;
  EXPECT_EQ(text.find('?'), std::string::npos) << "fallback not skipped: " << text;
}

TEST(RtfReader, UnicodeSkipCountsAndSurrogatesAndCodePages) {
  // \uc2 skips two fallback characters, whether bytes, \'hh or control symbols; \uc0 none.
  EXPECT_EQ(Text("{\\rtf1\\uc2 a\\u233\\'3f\\'3fb}"), "a\xC3\xA9" "b\n");
  EXPECT_EQ(Text("{\\rtf1\\uc2 a\\u233 xyb}"), "a\xC3\xA9" "b\n");
  EXPECT_EQ(Text("{\\rtf1\\uc0 a\\u233 b}"), "a\xC3\xA9" "b\n");
  // \uc is scoped to its group.
  EXPECT_EQ(Text("{\\rtf1{\\uc0 \\u233}\\u233?}"), "\xC3\xA9\xC3\xA9\n");
  // Negative values are the upper half; two halves of a surrogate pair make one character.
  EXPECT_EQ(Text("{\\rtf1 \\u-3?}"), "\xEF\xBF\xBD\n");
  EXPECT_EQ(Text("{\\rtf1 \\u-10179?\\u-8694?}"), "\xF0\x9F\x98\x8A\n");
  // Windows-1251 Cyrillic through \ansicpg.
  EXPECT_EQ(Text("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}"), "\xD0\x9F\xD1\x80\xD0\xB8\n");
  // A double-byte code page: the two bytes of one character are decoded together.
  EXPECT_EQ(Text("{\\rtf1\\ansi\\ansicpg932 \\'93\\'fa}"), "\xE6\x97\xA5\n");
  // Escaped braces and backslashes are text; \bin data is not, even with braces in it.
  EXPECT_EQ(Text("{\\rtf1 a\\{b\\}c\\\\d}"), "a{b}c\\d\n");
  EXPECT_EQ(Text("{\\rtf1 x{\\bin4 }}{{}y}"), "xy\n");
}

TEST(RtfReader, SkippedDestinationsAndInfoProperties) {
  const std::string rtf =
      "{\\rtf1{\\info{\\title Annual  Report}{\\author Ada Lovelace}{\\subject Hidden}"
      "{\\creatim\\yr2024\\mo3\\dy5\\hr10\\min30}{\\revtim\\yr2025\\mo1\\dy2}}"
      "{\\*\\generator Riched20;}{\\*\\unknowndest secret}"
      "{\\pict\\pngblip 89504e47}{\\object{\\objdata 0102}}"
      "{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt visible}}Body}";
  DocumentText d;
  ASSERT_EQ(ReadRtf(rtf, {}, d), S_OK);
  EXPECT_EQ(Joined(d), "visibleBody\n");
  EXPECT_EQ(d.title, "Annual Report");
  EXPECT_EQ(d.author, "Ada Lovelace");
  ASSERT_TRUE(d.created.has_value());
  EXPECT_EQ(FormatIsoDate(*d.created), "2024-03-05T10:30:00Z");
  ASSERT_TRUE(d.modified.has_value());
  EXPECT_EQ(FormatIsoDate(*d.modified), "2025-01-02T00:00:00Z");
}

TEST(RtfReader, HostileInputFailsAloneOrIsCut) {
  // Not RTF at all.
  DocumentText d;
  EXPECT_EQ(ReadRtf("hello {\\rtf1 x}", {}, d), FILTER_E_UNKNOWNFORMAT);
  // Groups nested past the limit fail with the limit's error, quickly.
  std::string deep = "{\\rtf1 ";
  deep += std::string(100000, '{') + "x" + std::string(100000, '}') + "}";
  EXPECT_EQ(ReadRtf(deep, {}, d), kLimitExceeded);
  // Nesting within the limit is fine.
  ReaderLimits shallow;
  shallow.maxDepth = 8;
  EXPECT_EQ(ReadRtf("{\\rtf1{{{{{{x}}}}}}}", shallow, d), S_OK);
  EXPECT_EQ(ReadRtf("{\\rtf1{{{{{{{{{x}}}}}}}}}}", shallow, d), kLimitExceeded);
  // Text past the text limit is cut at a character boundary, and said to be.
  ReaderLimits small;
  small.maxTextBytes = 5;
  ASSERT_EQ(ReadRtf("{\\rtf1 abcd\\u233?fgh}", small, d), S_OK);
  EXPECT_TRUE(d.truncated);
  EXPECT_EQ(Joined(d), "abcd\n");
  // Cut-off input, a lone backslash, a huge parameter, a truncated \' escape.
  for (std::string_view bad : {"{\\rtf1 abc", "{\\rtf1 abc\\", "{\\rtf1\\u99999999999999 x}",
                               "{\\rtf1 x\\'", "{\\rtf1 x\\'4", "{\\rtf1\\bin999999 x}",
                               "{\\rtf1\\uc99999999 \\u65 abc}"}) {
    EXPECT_EQ(ReadRtf(bad, {}, d), S_OK) << bad;
  }
}

TEST(RtfReader, DocumentEntryPointChoosesByContent) {
  DocumentText d;
  // An RTF file named .doc (as Word used to save them) is still read as RTF.
  ASSERT_EQ(ReadDocumentBytes("{\\rtf1 Wombat}", ".doc", {}, d), S_OK);
  EXPECT_EQ(Joined(d), "Wombat\n");
  EXPECT_EQ(ReadDocumentBytes("plain words", ".rtf", {}, d), FILTER_E_UNKNOWNFORMAT);
  EXPECT_EQ(ReadDocumentBytes("plain words", ".xyz", {}, d), FILTER_E_UNKNOWNFORMAT);
}

}  // namespace
}  // namespace qv::platform::readers
