#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "common/temp_dir.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/test_tools.h"
#include "platform/mail/mime_message.h"

namespace qv::platform::readers {
namespace {

std::string Joined(const DocumentText& d) {
  std::string all;
  for (const auto& c : d.chunks) all += c + "|";
  return all;
}

// A message whose body words only a MIME reader sees: a base64 plain body, an HTML
// alternative that must not be read twice, a text attachment, a binary attachment.
std::string RichMessage() {
  return "From: =?UTF-8?B?" + mail::EncodeBase64("Zoë Ngata", 0) +
         "?= <zoe@example.org>\r\n"
         "To: team@example.org\r\n"
         "Subject: =?UTF-8?Q?Quarterly_caf=C3=A9_Okapiword?=\r\n"
         "Date: Tue, 8 Dec 2026 05:15:21 +0100\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
         "\r\n"
         "--outer\r\n"
         "Content-Type: multipart/alternative; boundary=\"alt\"\r\n"
         "\r\n"
         "--alt\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "\r\n" +
         mail::EncodeBase64("Plain body with Quokkamarker inside.") +
         "\r\n--alt\r\n"
         "Content-Type: text/html; charset=utf-8\r\n"
         "\r\n"
         "<html><body>Htmlonlyword</body></html>\r\n"
         "--alt--\r\n"
         "--outer\r\n"
         "Content-Type: text/plain; charset=iso-8859-1; name=notes.txt\r\n"
         "Content-Disposition: attachment; filename=notes.txt\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n"
         "\r\n"
         "Attached Wombatnote =E9t=E9\r\n"
         "--outer\r\n"
         "Content-Type: application/octet-stream\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "\r\n" +
         mail::EncodeBase64("Binaryword") + "\r\n--outer--\r\n";
}

TEST(MailReader, ReadsHeadersBodyAndTextAttachmentsOnce) {
  DocumentText d;
  ASSERT_EQ(ReadMail(RichMessage(), ReaderLimits{}, d), S_OK);
  ASSERT_TRUE(d.title);
  EXPECT_EQ(*d.title, "Quarterly café Okapiword");
  ASSERT_TRUE(d.author);
  EXPECT_EQ(*d.author, "Zoë Ngata");
  ASSERT_TRUE(d.created);
  EXPECT_EQ(*d.created, *mail::ParseMailDate("Tue, 8 Dec 2026 04:15:21 +0000"));
  const std::string text = Joined(d);
  EXPECT_NE(text.find("Okapiword"), std::string::npos) << text;
  EXPECT_NE(text.find("Quokkamarker"), std::string::npos) << text;
  EXPECT_NE(text.find("Wombatnote été"), std::string::npos) << text;
  // The HTML version of the same body and the binary attachment are not text to index.
  EXPECT_EQ(text.find("Htmlonlyword"), std::string::npos) << text;
  EXPECT_EQ(text.find("Binaryword"), std::string::npos) << text;
  EXPECT_FALSE(d.truncated);
}

TEST(MailReader, HtmlOnlyBodyIsReadAsText) {
  const std::string msg =
      "From: a@example.org\nSubject: s\nContent-Type: text/html; charset=windows-1252\n\n"
      "<html><head><style>p{color:red}</style></head><body><p>Caf\xE9 Numbat&amp;co</p>"
      "<script>Scriptword()</script></body></html>\n";
  DocumentText d;
  ASSERT_EQ(ReadMail(msg, ReaderLimits{}, d), S_OK);
  const std::string text = Joined(d);
  EXPECT_NE(text.find("Café Numbat&co"), std::string::npos) << text;
  EXPECT_EQ(text.find("<p>"), std::string::npos) << text;
  EXPECT_EQ(text.find("Scriptword"), std::string::npos) << text;
  EXPECT_EQ(text.find("color"), std::string::npos) << text;
}

TEST(MailReader, LimitsHoldAndHostileMessagesFailQuickly) {
  ReaderLimits small;
  small.maxTextBytes = 64;
  DocumentText d;
  const std::string big = "From: a@example.org\nSubject: long\n\n" + std::string(10'000, 'x');
  ASSERT_EQ(ReadMail(big, small, d), S_OK);
  std::size_t total = 0;
  for (const auto& c : d.chunks) total += c.size();
  EXPECT_LE(total, 64u);
  EXPECT_TRUE(d.truncated);

  // Ten thousand multiparts, each inside the last.
  std::string nested = "From: a@example.org\nSubject: deep\n";
  for (int i = 0; i < 10'000; ++i) {
    nested += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
              std::to_string(i) + "\n";
  }
  nested += "Content-Type: text/plain\n\ndeep\n";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadMail(nested, ReaderLimits{}, d), kLimitExceeded);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  EXPECT_EQ(ReadMail("just some words\nwith no header\n", ReaderLimits{}, d),
            FILTER_E_UNKNOWNFORMAT);
}

TEST(MailReader, HeaderSniffTellsMailFromOtherText) {
  EXPECT_TRUE(LooksLikeMail("Return-Path: <a@x>\r\nReceived: from x\r\n\tby y\r\n\r\nbody"));
  EXPECT_TRUE(LooksLikeMail("X-Spam: no\nFrom: a@x\nSubject: hi"));
  EXPECT_FALSE(LooksLikeMail("Title: notes\nAuthor: me\n\nNot a mail: no mail field"));
  EXPECT_FALSE(LooksLikeMail("Dear friend, From: me\n"));
  EXPECT_FALSE(LooksLikeMail(" From: a@x\n"));
  EXPECT_FALSE(LooksLikeMail(""));
  // By extension or by the header, whatever the file is called.
  DocumentText d;
  const std::string msg = "From: a@x\nSubject: Dingo\n\nbody Kiwiword\n";
  ASSERT_EQ(ReadDocumentBytes(msg, "", ReaderLimits{}, d), S_OK);
  EXPECT_EQ(d.title, "Dingo");
  ASSERT_EQ(ReadDocumentBytes(msg, ".host:2,S", ReaderLimits{}, d), S_OK);
  EXPECT_NE(Joined(d).find("Kiwiword"), std::string::npos);
}

TEST(MailReaderQvindex, MailFilesAndMaildirMessagesAreFoundAndADeepOneCostsOnlyItself) {
  TempDir dir;
  const auto docs = dir.path() / "docs";
  const auto maildir = docs / "Mail" / "Inbox";
  for (const char* sub : {"tmp", "cur", "new"}) std::filesystem::create_directories(maildir / sub);
  std::ofstream(docs / "saved.eml", std::ios::binary) << RichMessage();
  std::ofstream(maildir / "cur" / "1765170921.M1P2.host:2,S", std::ios::binary)
      << "Return-Path: <b@example.org>\nFrom: b@example.org\nSubject: =?ISO-8859-1?Q?Gr=FC=DFe_Kakapoword?=\n"
         "Content-Transfer-Encoding: base64\n\n"
      << mail::EncodeBase64("Maildir body Echidnamark") << "\n";
  std::string nested = "From: a@example.org\nSubject: Deepword\n";
  for (int i = 0; i < 10'000; ++i) {
    nested += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" +
              std::to_string(i) + "\n";
  }
  std::ofstream(maildir / "new" / "1765170922.M3P4.host", std::ios::binary) << nested;
  std::ofstream(docs / "plain.txt") << "Wallaby";
  const auto root = dir.path() / "root";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"add-catalog", "Docs"}, {"add-scope", "Docs", docs.string()}, {"rescan", "Docs"}}) {
    const auto start = std::chrono::steady_clock::now();
    const auto run = indexing::RunQvindex(root, args);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->exit, 0) << run->output;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  }
  const auto query = [&](const std::string& word) {
    const auto run = indexing::RunQvindex(
        root, {"query", "SELECT Path FROM Docs..Scope() WHERE CONTAINS('" + word + "')"});
    return run ? run->output : std::string();
  };
  EXPECT_NE(query("Quokkamarker").find("saved.eml"), std::string::npos);
  EXPECT_NE(query("Okapiword").find("saved.eml"), std::string::npos);
  EXPECT_NE(query("Echidnamark").find("1765170921.M1P2"), std::string::npos);
  EXPECT_NE(query("Kakapoword").find("1765170921.M1P2"), std::string::npos);
  EXPECT_NE(query("Wallaby").find("plain.txt"), std::string::npos);
  EXPECT_EQ(query("Deepword").find("1765170922"), std::string::npos);
}

}  // namespace
}  // namespace qv::platform::readers
