// Mail bodies as HTML: HTML kept in RTF recovered, other RTF reduced to its text, text
// wrapped; hostile RTF costs bounded depth; a byte count from the proxy is clamped.
#include "provider/filters/mail_body.h"

#include <cstring>

#include <gtest/gtest.h>

#include "platform/indexing/builtin_filters.h"
#include "provider/filters/email_filter.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/filter_test_tools.h"

namespace qv::filters {
namespace {

TEST(MailBody, RtfTextKeepsWordsLinesAndCells) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0;}"
      "{\\*\\generator Writer;}Caf\\'e9 menu\\par Line two\\line "
      "A\\cell B\\cell\\row {\\info{\\title secret title}}\\u8364?5 \\{x\\}}";
  EXPECT_EQ(RtfToText(rtf), "Caf\xC3\xA9 menu\nLine two\nA\tB\t\n\xE2\x82\xAC" "5 {x}");
}

TEST(MailBody, RtfCodePageFromAnsicpg) {
  const std::string rtf = "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}";
  EXPECT_EQ(RtfToText(rtf), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
}

TEST(MailBody, HtmlEncapsulatedInRtfIsRecovered) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0 Arial;}}"
      "{\\*\\htmltag64 <html>}{\\*\\htmltag <body>}"
      "\\htmlrtf {\\pntext *}\\htmlrtf0 Quarterly \\htmlrtf bold-only\\htmlrtf0 numbers"
      "{\\*\\htmltag <br>}\\par{\\*\\mhtmltag <img src=cid:x>}{\\*\\htmltag </body></html>}}";
  std::string html;
  ASSERT_TRUE(RtfToHtml(rtf, html));
  EXPECT_EQ(html, "<html><body>Quarterly numbers<br>\r\n</body></html>");
  EXPECT_FALSE(RtfToHtml("{\\rtf1\\ansi plain}", html)) << "no \\fromhtml: not HTML";
}

TEST(MailBody, TextIsWrappedWithEscapesAndLineBreaks) {
  EXPECT_EQ(WrapTextAsHtml("a<b>\r\nc\nd", "iso-8859-1"),
            "<HTML><BODY><meta http-equiv=\"Content-Type\" "
            "content=\"text/html;charset=iso-8859-1\">a&lt;b&gt;<BR>c<BR>d</BODY></HTML>");
  EXPECT_EQ(WrapTextAsHtml("x", ""), "<HTML><BODY>x</BODY></HTML>");
  // What the HTML reader then makes of it: the text as written.
  EXPECT_EQ(Trimmed(platform::indexing::ExtractHtml(WrapTextAsHtml("if a<b then", "")).text),
            "if a<b then");
}

TEST(MailBody, DeepNestingIsBoundedAndTextAfterItSurvives) {
  std::string rtf = "{\\rtf1 start ";
  for (int i = 0; i < 100000; ++i) rtf += "{\\b ";
  rtf += "deep";
  for (int i = 0; i < 100000; ++i) rtf += "}";
  rtf += " end}";
  const std::string text = RtfToText(rtf);
  EXPECT_EQ(text, "start deep end");
  // Unbalanced groups and truncated escapes end quietly.
  EXPECT_EQ(RtfToText("{\\rtf1 }}}} a\\'"), " a");
  EXPECT_EQ(RtfToText("{\\rtf1 \\u"), "");
}

TEST(MailBody, SkippedDestinationsStaySkippedInsideDeepGroups) {
  std::string rtf = "{\\rtf1 {\\*\\unknown ";
  for (int i = 0; i < 500; ++i) rtf += "{";
  rtf += "hidden";
  for (int i = 0; i < 500; ++i) rtf += "}";
  rtf += "} shown}";
  EXPECT_EQ(RtfToText(rtf), " shown");
}

TEST(MailBody, SectionByteCountIsClamped) {
  std::vector<std::uint8_t> section(64, 'x');
  const std::uint32_t count = 0xFFFFFFFF;
  std::memcpy(section.data(), &count, 4);
  std::string text;
  ASSERT_TRUE(MailTextFromSection(section, 2, "", text));
  EXPECT_EQ(Trimmed(text), std::string(60, 'x'));
  ASSERT_TRUE(MailTextFromSection(std::span(section).first(4), 2, "", text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(MailTextFromSection(std::span(section).first(3), 2, "", text));
  EXPECT_FALSE(MailTextFromSection(section, 9, "", text)) << "an unknown kind";
}

TEST(MailBody, KindsAndCharsets) {
  std::string html;
  ASSERT_TRUE(MailBodyToHtml("<p>hi</p>", BodyKind::Html, "", html));
  EXPECT_EQ(html, "<p>hi</p>");
  EXPECT_FALSE(MailBodyToHtml("not rtf", BodyKind::Rtf, "", html));
  ASSERT_TRUE(MailBodyToHtml("{\\rtf1 plain}", BodyKind::Text, "", html)) << "RTF by its head";
  EXPECT_NE(html.find("plain"), std::string::npos);

  std::vector<std::uint8_t> section(32, 0);
  const std::string body = "caf\xE9";
  const std::uint32_t n = static_cast<std::uint32_t>(body.size());
  std::memcpy(section.data(), &n, 4);
  std::memcpy(section.data() + 4, body.data(), n);
  std::string text;
  ASSERT_TRUE(MailTextFromSection(section, 2, "windows-1252", text));
  EXPECT_EQ(Trimmed(text), "caf\xC3\xA9");
}

}  // namespace
}  // namespace qv::filters
