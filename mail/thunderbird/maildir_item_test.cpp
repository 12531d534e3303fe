// A displayed message's item identifier: the folder's Maildir name, the Message-ID header,
// and the entry id the mail store gives the file.
#include "mail/thunderbird/maildir_item.h"

#include <gtest/gtest.h>

#include "common/guid.h"
#include "mail/QvOutlookAddIn/item_identifier.h"
#include "mail/thunderbird/tb_test_support.h"

namespace qv::mail::tb {
namespace testing {

std::string MaildirFixture::Expected(const std::string& folder, const std::string& unique) {
  std::vector<std::uint8_t> id{'Q', 'V', 'S', '1'};
  const auto guid = GuidToBytes(*ParseGuid(kStoreGuid));
  id.insert(id.end(), guid.begin(), guid.end());
  id.push_back('M');
  id.push_back(static_cast<std::uint8_t>(folder.size()));
  id.insert(id.end(), folder.begin(), folder.end());
  id.insert(id.end(), unique.begin(), unique.end());
  return addin::ItemIdentifier(id);
}

}  // namespace testing

namespace {

using testing::MaildirFixture;

TEST(MaildirItem, FolderPathsBecomeMaildirPlusPlusNames) {
  std::string name;
  const std::pair<const char*, const char*> good[] = {
      {"/Inbox", ""}, {"/", ""}, {"/INBOX", ""}, {"/Sent", ".Sent"},
      {"/Archives/2026", ".Archives.2026"}, {"Drafts/", ".Drafts"}, {"/Inbox/Sub", ".Inbox.Sub"}};
  for (const auto& [path, want] : good) {
    ASSERT_EQ(MaildirFolderName(path, name), S_OK) << path;
    EXPECT_EQ(name, want) << path;
  }
  for (const char* bad : {"/../etc", "/a/..", "/a.b", "/./x", "/x\ny", "/a\\b"}) {
    EXPECT_EQ(MaildirFolderName(bad, name), E_INVALIDARG) << bad;
  }
  EXPECT_EQ(MaildirFolderName("/" + std::string(kMaxMaildirNameChars, 'a'), name), E_INVALIDARG);
}

TEST(MaildirItem, TheMessageIdComesFromTheHeaderBlockOnly) {
  EXPECT_EQ(ReadMessageId("From: a\r\nMessage-ID: <x@y>\r\n\r\n"), "x@y");
  EXPECT_EQ(ReadMessageId("message-id:   z@w  \n\nbody"), "z@w");
  EXPECT_EQ(ReadMessageId("Message-Id:\r\n <folded@host>\r\nSubject: s\r\n\r\n"), "folded@host");
  EXPECT_EQ(ReadMessageId("Subject: s\r\n\r\nMessage-ID: <in-body@x>\r\n"), "");
  EXPECT_EQ(ReadMessageId("X-Message-ID: <no@x>\n\n"), "");
  EXPECT_EQ(ReadMessageId("Message-ID: <last@x>"), "last@x");
}

TEST(MaildirItem, ResolvesTheFileWithThatMessageIdInTheFolder) {
  MaildirFixture mail;
  mail.Put("", "cur", "1700000000.M1P2.host:2,S", "Message-ID: <one@example.org>");
  mail.Put("", "new", "1700000001.M2P2.host", "Message-ID: <two@example.org>");
  mail.Put(".Sent", "cur", "1700000002.M3P2.host:2,", "Message-ID: <one@example.org>");
  std::string id;
  ASSERT_EQ(ResolveMaildirItem(mail.root(), "/Inbox", "one@example.org", id), S_OK);
  EXPECT_EQ(id, MaildirFixture::Expected("", "1700000000.M1P2.host"));
  ASSERT_EQ(ResolveMaildirItem(mail.root(), "/Inbox", "<two@example.org>", id), S_OK);
  EXPECT_EQ(id, MaildirFixture::Expected("", "1700000001.M2P2.host"));
  ASSERT_EQ(ResolveMaildirItem(mail.root(), "/Sent", "one@example.org", id), S_OK);
  EXPECT_EQ(id, MaildirFixture::Expected(".Sent", "1700000002.M3P2.host"));

  const HRESULT notFound = HresultFromWin32(win32::ERROR_NOT_FOUND);
  EXPECT_EQ(ResolveMaildirItem(mail.root(), "/Sent", "two@example.org", id), notFound);
  EXPECT_TRUE(id.empty());
  EXPECT_EQ(ResolveMaildirItem(mail.root(), "/Nowhere", "one@example.org", id), notFound);
  EXPECT_EQ(ResolveMaildirItem(mail.root(), "/Inbox", "body@x", id), notFound);
  EXPECT_EQ(ResolveMaildirItem(mail.root(), "/../x", "one@example.org", id), E_INVALIDARG);
  EXPECT_EQ(ResolveMaildirItem(mail.root(), "/Inbox", "<>", id), E_INVALIDARG);
  // A folder that is not a store of ours names no item.
  std::filesystem::remove(mail.root() / "qv-store");
  EXPECT_EQ(ResolveMaildirItem(mail.root(), "/Inbox", "one@example.org", id), notFound);
}

TEST(MaildirItem, LinksAndFoldersAmongTheMessagesAreNotRead) {
  MaildirFixture mail;
  TempDir outside;
  std::ofstream(outside.path() / "secret") << "Message-ID: <planted@x>\r\n\r\n";
  std::filesystem::create_symlink(outside.path() / "secret", mail.root() / "cur" / "123.link:2,S");
  std::filesystem::create_directory(mail.root() / "cur" / "456.dir");
  std::string id;
  EXPECT_EQ(ResolveMaildirItem(mail.root(), "/Inbox", "planted@x", id),
            HresultFromWin32(win32::ERROR_NOT_FOUND));
}

}  // namespace
}  // namespace qv::mail::tb
