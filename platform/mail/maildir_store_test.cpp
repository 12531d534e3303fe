// The Maildir store: what a save keeps, entry ids that survive flag changes and saves, mail
// delivered by others read correctly, and hostile files and ids refused.
#include "platform/mail/maildir_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/temp_dir.h"

namespace qv::platform::mail {
namespace {

namespace fs = std::filesystem;

constexpr Guid kRankingSet = MakeGuid(0x48CA09C3, 0x119B, 0x8534, 0x9A, 0x91, 0x87, 0x84, 0x80,
                                      0x40, 0xE3, 0x51);

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, std::string_view text) {
  std::ofstream(p, std::ios::binary) << text;
}

class MaildirStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { Reopen(); }
  void Reopen() {
    store_.reset();
    ASSERT_EQ(MaildirStore::Open(dir_.path() / "Mail", "Personal", clock_, store_), S_OK);
  }
  EntryId Inbox() const {
    EntryId id;
    EXPECT_EQ(store_->DefaultFolder(FolderType::Inbox, id), S_OK);
    return id;
  }
  Message Sample() const {
    Message m;
    m.folderId = Inbox();
    m.subjectPrefix = "Re: ";
    m.normalizedSubject = "Quarterly figures, revised";
    m.senderName = "Jane Doe";
    m.senderAddress = "jane@example.org";
    m.recipients = {{RecipientType::To, "Bob", "bob@example.org"},
                    {RecipientType::To, "", "carol@example.org"},
                    {RecipientType::Cc, "Dave, Jr.", "dave@example.org"},
                    {RecipientType::Bcc, "Jörg", "joerg@example.de"}};
    m.messageFlags = kMsgFlagRead | kMsgFlagFromMe;
    m.deliveryTime = 46000.25;
    m.startDate = 46001.123456789;
    m.bodyPlain = "Hello Bob,\nthe figures.\n";
    m.bodyHtml = "<p>Hello Bob</p>";
    m.htmlCharset = "utf-8";
    m.bodyRtfCompressed = std::vector<std::uint8_t>{0x51, 0x00, 0xFF, 0x0A};
    m.named[{kRankingSet, 6}] = std::int32_t{3};
    m.named[{kRankingSet, 8}] = 46000.123456789012;
    return m;
  }
  // A mail as another program delivers it: into new/, with its own name.
  EntryId Deliver(std::string_view name, std::string_view text) {
    WriteFile(store_->root() / "new" / name, text);
    std::vector<EntryId> ids;
    EXPECT_EQ(store_->Messages(Inbox(), ids), S_OK);
    for (const auto& id : ids) {
      fs::path p;
      if (store_->MessagePath(id, p) == S_OK && p.filename() == name) return id;
    }
    ADD_FAILURE() << "delivered mail not listed";
    return {};
  }

  TempDir dir_;
  ManualClock clock_{134'000'000'000'000'000ull};
  std::unique_ptr<MaildirStore> store_;
};

TEST_F(MaildirStoreTest, SavedMessageReadsBackWhole) {
  Message m = Sample();
  ASSERT_EQ(store_->SaveMessage(m), S_OK);
  EXPECT_FALSE(m.entryId.empty());
  EXPECT_EQ(m.storeEntryId, store_->storeEntryId());
  EXPECT_GE(m.searchKey.size(), 16u);
  Message back;
  ASSERT_EQ(store_->OpenMessage(m.entryId, back), S_OK);
  EXPECT_EQ(back.entryId, m.entryId);
  EXPECT_EQ(back.searchKey, m.searchKey);
  EXPECT_EQ(back.folderId, Inbox());
  EXPECT_EQ(back.subjectPrefix, "Re: ");
  EXPECT_EQ(back.normalizedSubject, "Quarterly figures, revised");
  EXPECT_EQ(back.messageClass, "IPM.Note");
  EXPECT_EQ(back.senderName, "Jane Doe");
  EXPECT_EQ(back.senderAddress, "jane@example.org");
  EXPECT_EQ(back.recipients, m.recipients);
  EXPECT_EQ(back.messageFlags, kMsgFlagRead | kMsgFlagFromMe);
  ASSERT_TRUE(back.deliveryTime);
  EXPECT_NEAR(*back.deliveryTime, 46000.25, 1e-9);
  EXPECT_EQ(back.startDate, m.startDate);  // kept exactly, not through a mail date
  EXPECT_FALSE(back.endDate);
  EXPECT_EQ(back.bodyPlain, m.bodyPlain);
  EXPECT_EQ(back.bodyHtml, m.bodyHtml);
  EXPECT_EQ(back.htmlCharset, "utf-8");
  EXPECT_EQ(back.bodyRtfCompressed, m.bodyRtfCompressed);
  EXPECT_EQ(back.named, m.named);
}

TEST_F(MaildirStoreTest, PropertySurvivesFlagChangeSaveAndReopen) {
  Message m = Sample();
  m.messageFlags = 0;
  ASSERT_EQ(store_->SaveMessage(m), S_OK);
  const EntryId id = m.entryId;
  const EntryId key = m.searchKey;
  ASSERT_EQ(store_->SetReadFlag(id, true), S_OK);
  Message read;
  ASSERT_EQ(store_->OpenMessage(id, read), S_OK);
  EXPECT_EQ(read.messageFlags & kMsgFlagRead, kMsgFlagRead);
  EXPECT_EQ(read.named, m.named);
  // A second save with a new ranking value keeps the id, the key and the read state.
  read.named[{kRankingSet, 6}] = std::int32_t{4};
  ASSERT_EQ(store_->SaveMessage(read), S_OK);
  EXPECT_EQ(read.entryId, id);
  Reopen();
  Message again;
  ASSERT_EQ(store_->OpenMessage(id, again), S_OK);
  EXPECT_EQ(std::get<std::int32_t>(again.named.at({kRankingSet, 6})), 4);
  EXPECT_EQ(again.searchKey, key);
  EXPECT_EQ(again.messageFlags & kMsgFlagRead, kMsgFlagRead);
  ASSERT_EQ(store_->SetReadFlag(id, false), S_OK);
  ASSERT_EQ(store_->OpenMessage(id, again), S_OK);
  EXPECT_EQ(again.messageFlags & kMsgFlagRead, 0u);
  EXPECT_EQ(again.named.size(), 2u);
  std::vector<EntryId> ids;
  ASSERT_EQ(store_->Messages(Inbox(), ids), S_OK);
  EXPECT_EQ(ids, std::vector<EntryId>{id});  // one message, however often it moved
}

TEST_F(MaildirStoreTest, FailedSaveLeavesTheOldMessage) {
  Message m = Sample();
  ASSERT_EQ(store_->SaveMessage(m), S_OK);
  fs::path path;
  ASSERT_EQ(store_->MessagePath(m.entryId, path), S_OK);
  const std::string before = ReadAll(path);

  // A header value that would start a new header line is refused.
  Message bad = m;
  bad.recipients.push_back({RecipientType::To, "x", "evil@x.org>\nBcc: victim@x.org"});
  EXPECT_EQ(store_->SaveMessage(bad), E_INVALIDARG);
  EXPECT_FALSE(store_->lastError().empty());
  // The folder's tmp/ cannot take the new file.
  fs::remove_all(store_->root() / "tmp");
  WriteFile(store_->root() / "tmp", "not a folder");
  Message changed = m;
  changed.named[{kRankingSet, 6}] = std::int32_t{99};
  changed.bodyPlain = "rewritten";
  EXPECT_TRUE(Failed(store_->SaveMessage(changed)));
  EXPECT_EQ(ReadAll(path), before);
  Message back;
  ASSERT_EQ(store_->OpenMessage(m.entryId, back), S_OK);
  EXPECT_EQ(std::get<std::int32_t>(back.named.at({kRankingSet, 6})), 3);
}

TEST_F(MaildirStoreTest, DeliveredMailIsReadAndKeepsItsPartsOnSave) {
  const std::string attachment = "Content-Type: application/pdf; name=a.pdf\n"
                                 "Content-Disposition: attachment; filename=a.pdf\n"
                                 "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n";
  const std::string text =
      "Received: from mx by host; Tue, 8 Dec 2026 05:00:00 +0000\n"
      "Message-ID: <abc@example.org>\n"
      "Date: Tue, 8 Dec 2026 06:00:00 +0100\n"
      "From: =?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <joerg@example.de>\n"
      "To: \"Doe, Jane\" <jane@example.org>\n"
      "Subject: =?UTF-8?B?RndkOiBHcsO8w59l?=\n"
      "MIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=XYZ\n"
      "\n"
      "--XYZ\n"
      "Content-Type: text/plain; charset=utf-8\n"
      "Content-Transfer-Encoding: base64\n"
      "\n"
      "SGFsbG8gSmFuZSwgc2Now7ZuZW4gR3LDvMOfZS4=\n"
      "--XYZ\n" +
      attachment + "--XYZ--\n";
  const EntryId id = Deliver("1765170000.M1P2.mx", text);
  Message m;
  ASSERT_EQ(store_->OpenMessage(id, m), S_OK);
  EXPECT_EQ(m.subjectPrefix, "Fwd: ");
  EXPECT_EQ(m.normalizedSubject, "Grüße");
  EXPECT_EQ(m.senderName, "Jörg Müller");
  EXPECT_EQ(m.senderAddress, "joerg@example.de");
  ASSERT_EQ(m.recipients.size(), 1u);
  EXPECT_EQ(m.recipients[0].name, "Doe, Jane");
  EXPECT_EQ(m.bodyPlain, "Hallo Jane, schönen Grüße.");
  EXPECT_FALSE(m.bodyHtml);
  EXPECT_EQ(m.messageFlags & kMsgFlagRead, 0u);  // still in new/
  const EntryId key = m.searchKey;
  ASSERT_EQ(key.size(), 16u);

  m.named[{kRankingSet, 3}] = std::int32_t{-7};
  ASSERT_EQ(store_->SaveMessage(m), S_OK);
  EXPECT_EQ(m.entryId, id);
  fs::path path;
  ASSERT_EQ(store_->MessagePath(id, path), S_OK);
  const std::string saved = ReadAll(path);
  EXPECT_NE(saved.find("Received: from mx"), std::string::npos);
  EXPECT_NE(saved.find("Subject: =?UTF-8?B?RndkOiBHcsO8w59l?="), std::string::npos);
  EXPECT_NE(saved.find(attachment), std::string::npos) << "the attachment was lost";
  Message back;
  ASSERT_EQ(store_->OpenMessage(id, back), S_OK);
  EXPECT_EQ(back.searchKey, key);
  EXPECT_EQ(back.bodyPlain, m.bodyPlain);
  EXPECT_EQ(std::get<std::int32_t>(back.named.at({kRankingSet, 3})), -7);
}

TEST_F(MaildirStoreTest, DeliverChecksTheMailFirst) {
  EntryId id;
  EXPECT_EQ(store_->Deliver(Inbox(), "no header here", id), MAPI_E_CORRUPT_DATA);
  EXPECT_TRUE(id.empty());
  EXPECT_TRUE(fs::is_empty(store_->root() / "new"));
  EXPECT_TRUE(fs::is_empty(store_->root() / "tmp"));
  ASSERT_EQ(store_->Deliver(Inbox(), "Subject: Re: hello\n\nworld\n", id), S_OK);
  Message m;
  ASSERT_EQ(store_->OpenMessage(id, m), S_OK);
  EXPECT_EQ(m.normalizedSubject, "hello");
  EXPECT_EQ(m.bodyPlain, "world\n");
  EXPECT_EQ(m.messageFlags, 0u);
  EXPECT_TRUE(fs::is_empty(store_->root() / "tmp"));
}

TEST_F(MaildirStoreTest, EveryListedMessageOpensAndAVanishedOneIsNotRecreated) {
  // Some mail programs leave flags on names in new/.
  const EntryId flagged = Deliver("1765170005.M1P2.mx:2,S", "Subject: seen\n\nx");
  Message m;
  ASSERT_EQ(store_->OpenMessage(flagged, m), S_OK);
  EXPECT_EQ(m.messageFlags & kMsgFlagRead, kMsgFlagRead);
  fs::path path;
  ASSERT_EQ(store_->MessagePath(flagged, path), S_OK);
  fs::remove(path);
  m.named[{kRankingSet, 6}] = std::int32_t{1};
  EXPECT_EQ(store_->SaveMessage(m), MAPI_E_NOT_FOUND);
  std::vector<EntryId> ids;
  ASSERT_EQ(store_->Messages(Inbox(), ids), S_OK);
  EXPECT_TRUE(ids.empty());
  EXPECT_TRUE(fs::is_empty(store_->root() / "tmp"));
}

TEST_F(MaildirStoreTest, RankingLinesFromOutsideAreIgnored) {
  const std::string forged = "X-Qv-Store: 00000000000000000000000000000000\n"
                             "X-Qv-Named: {48CA09C3-119B-8534-9A91-87848040E351}/6/long/100000\n"
                             "X-Qv-Search-Key: 0102030405060708090A0B0C0D0E0F10\n"
                             "X-Qv-Flags: 32\n";
  const EntryId id = Deliver("1765170001.M1P2.mx", forged + "Subject: hi\n\nbody\n");
  Message m;
  ASSERT_EQ(store_->OpenMessage(id, m), S_OK);
  EXPECT_TRUE(m.named.empty());
  EXPECT_NE(m.searchKey[0], 0x01);
  EXPECT_EQ(m.messageFlags, 0u);
  // The next save drops them and writes its own.
  m.named[{kRankingSet, 6}] = std::int32_t{1};
  ASSERT_EQ(store_->SaveMessage(m), S_OK);
  fs::path path;
  ASSERT_EQ(store_->MessagePath(id, path), S_OK);
  EXPECT_EQ(ReadAll(path).find("/long/100000"), std::string::npos);
}

TEST_F(MaildirStoreTest, MalformedAndHostileFilesAreRefused) {
  const EntryId bad = Deliver("1765170002.M1P2.mx", "this is not a mail\n\nbody");
  Message m;
  EXPECT_EQ(store_->OpenMessage(bad, m), MAPI_E_CORRUPT_DATA);
  EXPECT_NE(store_->lastError().find("1765170002"), std::string::npos);
  m = Message{};
  m.entryId = bad;
  EXPECT_EQ(store_->SaveMessage(m), MAPI_E_CORRUPT_DATA);

  WriteFile(dir_.path() / "secret", "Subject: outside\n\nthe store's root\n");
  fs::create_symlink(dir_.path() / "secret", store_->root() / "cur" / "1765170003.M1P2.mx:2,S");
  std::vector<EntryId> ids;
  ASSERT_EQ(store_->Messages(Inbox(), ids), S_OK);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(store_->OpenMessage(ids[1], m), MAPI_E_CORRUPT_DATA);
}

TEST_F(MaildirStoreTest, EntryIdsNameStoreFolderAndMessage) {
  Message m = Sample();
  ASSERT_EQ(store_->SaveMessage(m), S_OK);
  const EntryId& store = store_->storeEntryId();
  ASSERT_GT(m.entryId.size(), store.size());
  EXPECT_TRUE(std::equal(store.begin(), store.end(), m.entryId.begin()));
  EXPECT_LE(m.entryId.size(), 128u);
  Message out;
  EXPECT_EQ(store_->OpenMessage(Inbox(), out), E_INVALIDARG);
  // Another store's id, a cut id and ids that try to leave the root are not found.
  TempDir other;
  std::unique_ptr<MaildirStore> second;
  ASSERT_EQ(MaildirStore::Open(other.path(), "Other", clock_, second), S_OK);
  EXPECT_NE(second->storeEntryId(), store);
  EXPECT_EQ(second->OpenMessage(m.entryId, out), MAPI_E_NOT_FOUND);
  EXPECT_EQ(store_->OpenMessage(std::span(m.entryId).first(store.size() + 1), out),
            MAPI_E_NOT_FOUND);
  auto hostile = [&](std::string folder, std::string unique) {
    EntryId id = store;
    id.push_back('M');
    id.push_back(static_cast<std::uint8_t>(folder.size()));
    id.insert(id.end(), folder.begin(), folder.end());
    id.insert(id.end(), unique.begin(), unique.end());
    return id;
  };
  MaildirEntryId parsed;
  EXPECT_TRUE(ParseMaildirEntryId(hostile(".Sent", "1.M2.x"), store, parsed));
  for (const auto& id : {hostile("..", "cur"), hostile("./..", "x"), hostile("", "../../etc"),
                         hostile(".Sent", "a:2,S"), hostile("", ".hidden"), hostile("", "")}) {
    EXPECT_FALSE(ParseMaildirEntryId(id, store, parsed));
    EXPECT_EQ(store_->OpenMessage(id, out), MAPI_E_NOT_FOUND);
    EXPECT_EQ(store_->DeleteMessage(id), MAPI_E_NOT_FOUND);
  }
  // The store id lives on across opens.
  const EntryId before = store;
  Reopen();
  EXPECT_EQ(store_->storeEntryId(), before);
}

TEST_F(MaildirStoreTest, FoldersTypesAndModes) {
  const mode_t old = ::umask(0);
  ASSERT_EQ(store_->CreateDefaultFolders(), S_OK);
  ASSERT_EQ(store_->CreateFolder(".Projects"), S_OK);
  ASSERT_EQ(store_->CreateFolder(".Projects.2026"), S_OK);
  EXPECT_EQ(store_->CreateFolder(".Projects"), S_FALSE);
  EXPECT_EQ(store_->CreateFolder("../x"), E_INVALIDARG);
  EntryId sent;
  ASSERT_EQ(store_->DefaultFolder(FolderType::SentMail, sent), S_OK);
  Message m = Sample();
  m.folderId = sent;
  ASSERT_EQ(store_->SaveMessage(m), S_OK);
  ::umask(old);
  fs::path path;
  ASSERT_EQ(store_->MessagePath(m.entryId, path), S_OK);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const fs::path& d : {store_->root(), store_->root() / ".Sent", store_->root() / ".Sent/cur"}) {
    ASSERT_EQ(::stat(d.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << d;
  }
  ASSERT_EQ(::stat((store_->root() / "qv-store").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  std::vector<Folder> folders;
  ASSERT_EQ(store_->Folders(folders), S_OK);
  std::map<std::string, Folder> byName;
  for (const auto& f : folders) byName[f.displayName] = f;
  EXPECT_EQ(byName.at("Inbox").type, FolderType::Inbox);
  EXPECT_EQ(byName.at("Sent Items").type, FolderType::SentMail);
  EXPECT_EQ(byName.at("Deleted Items").type, FolderType::DeletedItems);
  EXPECT_EQ(byName.at("Tasks").type, FolderType::Tasks);
  EXPECT_EQ(byName.at("Projects").type, FolderType::None);
  EXPECT_EQ(byName.at("2026").parent, byName.at("Projects").id);
  EXPECT_EQ(byName.at("Sent Items").id, sent);

  std::unique_ptr<MaildirStore> bare;
  TempDir other;
  ASSERT_EQ(MaildirStore::Open(other.path() / "m", "Bare", clock_, bare), S_OK);
  EntryId id;
  EXPECT_EQ(bare->DefaultFolder(FolderType::Calendar, id), MAPI_E_NOT_FOUND);
  EXPECT_EQ(bare->DefaultFolder(FolderType::Inbox, id), S_OK);
}

TEST_F(MaildirStoreTest, MessagesOldestFirstAndDelete) {
  // Twelve saves in one second of the clock keep their order.
  std::vector<EntryId> saved;
  for (int i = 0; i < 12; ++i) {
    Message m = Sample();
    ASSERT_EQ(store_->SaveMessage(m), S_OK);
    EXPECT_LE(m.entryId.size(), 64u);
    saved.push_back(m.entryId);
  }
  std::vector<EntryId> listed;
  ASSERT_EQ(store_->Messages(Inbox(), listed), S_OK);
  EXPECT_EQ(listed, saved);
  for (const auto& id : saved) ASSERT_EQ(store_->DeleteMessage(id), S_OK);

  Deliver("1765170009.M1P2.mx", "Subject: later\n\nx");
  Deliver("1765170001.M9P2.mx", "Subject: earlier\n\nx");
  Message m = Sample();
  ASSERT_EQ(store_->SaveMessage(m), S_OK);  // dated by the clock, in 2025
  std::vector<EntryId> ids;
  ASSERT_EQ(store_->Messages(Inbox(), ids), S_OK);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0], m.entryId);
  Message first;
  ASSERT_EQ(store_->OpenMessage(ids[1], first), S_OK);
  EXPECT_EQ(first.normalizedSubject, "earlier");
  ASSERT_EQ(store_->DeleteMessage(ids[1]), S_OK);
  EXPECT_EQ(store_->OpenMessage(ids[1], first), MAPI_E_NOT_FOUND);
  EXPECT_EQ(store_->DeleteMessage(ids[1]), MAPI_E_NOT_FOUND);
  EXPECT_EQ(store_->SetReadFlag(ids[1], true), MAPI_E_NOT_FOUND);
}

}  // namespace
}  // namespace qv::platform::mail
