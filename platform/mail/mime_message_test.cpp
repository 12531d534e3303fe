// The MIME reader: bodies in their transfer encodings and charsets, encoded header words,
// address lists, dates, and hostile input refused with a reason instead of a crash.
#include "platform/mail/mime_message.h"

#include <gtest/gtest.h>

#include <cmath>

namespace qv::platform::mail {
namespace {

MimeMessage Parse(std::string_view text) {
  MimeMessage m;
  std::string error;
  EXPECT_TRUE(ParseMimeMessage(text, m, error)) << error;
  return m;
}

std::string Refused(std::string_view text) {
  MimeMessage m;
  std::string error;
  EXPECT_FALSE(ParseMimeMessage(text, m, error));
  EXPECT_FALSE(error.empty());
  return error;
}

TEST(MimeMessageTest, Base64BodyAndEncodedSubject) {
  // "Grüße aus Köln" in base64, its subject split over two words in the middle of "ü"
  // (C3 | BC) and a Q word in Latin-1, with folding between them.
  const std::string text =
      "From: a@example.org\r\n"
      "Subject: =?UTF-8?B?R3LD?=\r\n"
      " =?UTF-8?B?vMOfZQ==?= and =?ISO-8859-1?Q?K=F6ln_am_Rhein?=\r\n"
      "Content-Type: text/plain; charset=\"utf-8\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "\r\n"
      "R3LDvMOfZSBh\r\ndXMgS8O2bG4=\r\n";
  const MimeMessage m = Parse(text);
  EXPECT_EQ(DecodeEncodedWords(FindHeader(m.root.headers, "subject")->value),
            "Grüße and Köln am Rhein");
  const MimePart* body = FindBodyPart(m.root, "text/plain");
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->body, "Grüße aus Köln");
}

TEST(MimeMessageTest, MultipartFindsEachBodyAndSkipsAttachments) {
  const std::string text =
      "Subject: parts\n"
      "Content-Type: multipart/mixed; boundary=outer\n"
      "\n"
      "preamble\n"
      "--outer\n"
      "Content-Type: multipart/alternative; boundary=\"in ner\"\n"
      "\n"
      "--in ner\n"
      "Content-Type: text/plain; charset=iso-8859-1\n"
      "Content-Transfer-Encoding: quoted-printable\n"
      "\n"
      "Caf=E9 au lait, a long line that is=\n"
      " softly broken\n"
      "--in ner\n"
      "Content-Type: text/html; charset=windows-1252\n"
      "\n"
      "<p>Caf\xE9</p>\n"
      "--in ner--\n"
      "--outer\n"
      "Content-Type: text/plain\n"
      "Content-Disposition: attachment; filename=notes.txt\n"
      "\n"
      "not the body\n"
      "--outer\n"
      "Content-Type: application/rtf\n"
      "Content-Transfer-Encoding: base64\n"
      "\n"
      "AAEC/w==\n"
      "--outer--\n"
      "epilogue\n";
  const MimeMessage m = Parse(text);
  const MimePart* plain = FindBodyPart(m.root, "text/plain");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(ToUtf8(plain->body, plain->params.at("charset")),
            "Café au lait, a long line that is softly broken");
  const MimePart* html = FindBodyPart(m.root, "text/html");
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(html->body, "<p>Caf\xE9</p>");  // bytes as stored, charset beside them
  EXPECT_EQ(html->params.at("charset"), "windows-1252");
  const MimePart* rtf = FindBodyPart(m.root, "application/rtf");
  ASSERT_NE(rtf, nullptr);
  EXPECT_EQ(rtf->body, std::string("\x00\x01\x02\xFF", 4));
}

TEST(MimeMessageTest, MessageCutShortKeepsItsLastPart) {
  const MimeMessage m = Parse(
      "Content-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: text/html\n\n<b>x");
  const MimePart* html = FindBodyPart(m.root, "text/html");
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(html->body, "<b>x");
}

TEST(MimeMessageTest, MalformedInputIsRefusedWithAReason) {
  Refused("");
  Refused("\nbody without a header\n");
  Refused("just some text without a colon\n\nbody");
  Refused(" folded first line: x\n\n");
  Refused(std::string("Subject: a\0b\n\n", 13));
  // A header field past its bound, folded or not.
  Refused("Subject: " + std::string(kMaxHeaderFieldBytes + 10, 'x') + "\n\n");
  std::string folded = "Subject: x\n";
  for (int i = 0; i < 10000; ++i) folded += " 0123456789\n";
  EXPECT_NE(Refused(folded + "\n").find("Subject"), std::string::npos);
  std::string many;
  for (std::size_t i = 0; i <= kMaxHeaderFields; ++i) many += "X-A: 1\n";
  Refused(many + "\n");
  // Bytes outside the base64 alphabet.
  Refused("Content-Transfer-Encoding: base64\n\nnot*base64\n");
  // Multiparts nested past the bound.
  std::string deep;
  for (int i = 0; i <= kMaxMimeDepth + 1; ++i)
    deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
            std::to_string(i) + "\n";
  Refused("Subject: deep\n" + deep);
}

TEST(MimeMessageTest, HeaderTextRoundTripsAndNeverBreaksTheLine) {
  for (const std::string s : {"plain ascii", "Grüße, 東京 and more text to need a second word "
                                             "because encoded words stay short enough",
                              "line\r\nBcc: victim@example.org", "=?looks?like?=a word"}) {
    const std::string encoded = EncodeHeaderText(s);
    EXPECT_EQ(encoded.find('\r'), std::string::npos);
    for (std::size_t nl = encoded.find('\n'); nl != std::string::npos;
         nl = encoded.find('\n', nl + 1))
      EXPECT_EQ(encoded[nl + 1], ' ') << "an unfolded line break in " << encoded;
    std::string unfolded = encoded;
    std::erase(unfolded, '\n');
    EXPECT_EQ(DecodeEncodedWords(unfolded), s);
  }
}

TEST(MimeMessageTest, AddressLists) {
  const auto list = ParseAddressList(
      "\"Doe, Jane\" <jane@example.org>, bob@example.org (Bob Smith), "
      "=?UTF-8?B?SsO2cmc=?= <joerg@example.de>, team: a@x.org, b@x.org;, <c@x.org>");
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[0].name, "Doe, Jane");
  EXPECT_EQ(list[0].address, "jane@example.org");
  EXPECT_EQ(list[1].name, "Bob Smith");
  EXPECT_EQ(list[1].address, "bob@example.org");
  EXPECT_EQ(list[2].name, "Jörg");
  EXPECT_EQ(list[3].address, "a@x.org");
  EXPECT_EQ(list[3].name, "");
  EXPECT_EQ(list[4].address, "b@x.org");
  EXPECT_EQ(list[5].address, "c@x.org");
  for (const MailAddress& a : {MailAddress{"Doe, \"J\"", "j@x.org"}, MailAddress{"Jörg", "j@x"},
                               MailAddress{"", "only@x.org"}, MailAddress{"No Address", ""}}) {
    const auto back = ParseAddressList(FormatAddress(a));
    ASSERT_EQ(back.size(), 1u) << FormatAddress(a);
    EXPECT_EQ(back[0].name, a.name);
    EXPECT_EQ(back[0].address, a.address);
  }
}

TEST(MimeMessageTest, DatesWithZonesAndRoundTrip) {
  const auto utc = ParseMailDate("Tue, 08 Dec 2026 05:15:21 +0000");
  ASSERT_TRUE(utc);
  EXPECT_EQ(FormatMailDate(*utc), "Tue, 08 Dec 2026 05:15:21 +0000");
  const auto east = ParseMailDate("8 Dec 2026 06:15:21 +0100 (CET)");
  const auto west = ParseMailDate("Mon, 7 Dec 2026 21:15:21 PST");
  const auto twoDigit = ParseMailDate("Tue, 8 Dec 26 05:15:21 GMT");
  for (const auto& d : {east, west, twoDigit}) {
    ASSERT_TRUE(d);
    EXPECT_NEAR(*d, *utc, 1e-9);
  }
  EXPECT_FALSE(ParseMailDate("yesterday"));
  EXPECT_FALSE(ParseMailDate("32 Dec 2026 05:15:21 +0000"));
  EXPECT_FALSE(ParseMailDate("8 Foo 2026 05:15:21 +0000"));
  EXPECT_FALSE(ParseMailDate("8 Dec 2026 25:15 +0000"));
}

TEST(MimeMessageTest, DecodersOnEdgeInput) {
  std::string out;
  EXPECT_TRUE(DecodeBase64("", out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(DecodeBase64(EncodeBase64(std::string(200, '\xAB')), out));
  EXPECT_EQ(out, std::string(200, '\xAB'));
  EXPECT_EQ(DecodeQuotedPrintable("a=3Db=\r\nc=ZZ="), "a=bc=ZZ");
  // Invalid UTF-8 and unknown charsets do not pass bad bytes on.
  EXPECT_EQ(ToUtf8("a\xFF" "b", "utf-8"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToUtf8("a\xFF" "b", "no-such-charset"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToUtf8("\xE9", "latin1"), "é");
}

}  // namespace
}  // namespace qv::platform::mail
