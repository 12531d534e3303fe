#include "mail/QvOutlookAddIn/otl_ranking_object.h"

#include <gtest/gtest.h>

#include <cstring>

#include "context/test_context.h"
#include "mail/QvOutlookAddIn/fake_message_store.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "mail/QvOutlookAddIn/store_shortcut.h"
#include "provider/filters/shared_section.h"

namespace qv::mail::addin {
namespace {

namespace fs = std::filesystem;
namespace pm = platform::mail;
using testing::FakeMessageStore;
using namespace std::chrono_literals;

std::string Id(const pm::EntryId& id) { return std::string(kMailItemPrefix) + HexUpper(id); }

ranking::RankingSet Set(std::uint32_t visits) {
  ranking::RankingSet s;
  s.scope = 42;
  s.visits = visits;
  s.workingTime = 5 * visits;
  s.last = {46000.0 + visits, 20, visits};
  return s;
}

class RankingObject : public ::testing::Test {
 protected:
  RankingObject() {
    inbox_ = tracked_.AddFolder("Inbox", pm::FolderType::Inbox);
    sent_ = tracked_.AddFolder("Sent Items", pm::FolderType::SentMail);
    other_ = tracked_.AddFolder("Archive", pm::FolderType::None);
    untrackedInbox_ = untracked_.AddFolder("Inbox", pm::FolderType::Inbox);
    EXPECT_EQ(store_.OnConnection(), S_OK);
  }
  OtlRankingObject& Object() { return object_; }
  std::size_t FilesUnder(const fs::path& p) {
    if (!fs::exists(p)) return 0;
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(p)) n += e.is_regular_file();
    return n;
  }

  TestContext tc_;
  fs::path dir_ = tc_.root() / "mail" / "tracked";
  FakeMessageStore tracked_{1, "Tracked"};
  FakeMessageStore untracked_{2, "Elsewhere"};
  pm::EntryId inbox_, sent_, other_, untrackedInbox_;
  KivMsgStore store_{tc_.ctx(), tracked_, dir_, 1h};
  OtlRankingObject object_{tc_.ctx(), {&tracked_, &untracked_}, {&store_}, "me@example.org"};
};

TEST_F(RankingObject, WriteParksTheSetAndTheApplyPassStoresIt) {
  const auto item = tracked_.AddMessage(inbox_);
  std::string id = Id(item);
  id.replace(0, 8, "OutLook:");
  ASSERT_EQ(Object().WriteItem(id, Set(1)), S_OK);
  EXPECT_EQ(tracked_.saveCount, 0);
  ASSERT_EQ(store_.ApplyPending(item), S_OK);
  ranking::RankingSet stored;
  ASSERT_EQ(GetRankingProperties(tracked_.message(item), stored), S_OK);
  EXPECT_EQ(stored, Set(1));
}

TEST_F(RankingObject, WriteRefusesBadIdentifiersAndWritesNothing) {
  const auto item = tracked_.AddMessage(inbox_);
  const std::string hex = HexUpper(item);
  EXPECT_EQ(Object().WriteItem("mapi:" + hex, Set(1)), E_INVALIDARG);
  EXPECT_EQ(Object().WriteItem("outlook:" + hex.substr(1), Set(1)), E_INVALIDARG);  // odd
  EXPECT_EQ(Object().WriteItem("outlook:" + hex + "Z0", Set(1)), E_INVALIDARG);
  EXPECT_EQ(Object().WriteItem("outlook:", Set(1)), E_INVALIDARG);
  EXPECT_EQ(Object().WriteItem(Id(inbox_), Set(1)), E_INVALIDARG);  // a folder
  // Over 128 bytes is refused, even when its first 128 bytes would name an item.
  std::string longId = Id(item) + std::string(2 * 128, '0');
  EXPECT_EQ(Object().WriteItem(longId, Set(1)), E_INVALIDARG);
  EXPECT_EQ(Object().WriteItem("outlook:0102", Set(1)), pm::MAPI_E_NOT_FOUND);
  EXPECT_EQ(FilesUnder(dir_), 0u);
}

TEST_F(RankingObject, UntrackedStoresAndFoldersAreLeftAlone) {
  const auto elsewhere = untracked_.AddMessage(untrackedInbox_);
  const auto archived = tracked_.AddMessage(other_);
  EXPECT_EQ(Object().WriteItem(Id(elsewhere), Set(1)), S_FALSE);
  EXPECT_EQ(Object().WriteItem(Id(archived), Set(1)), S_FALSE);
  EXPECT_EQ(FilesUnder(dir_), 0u);
  EXPECT_EQ(untracked_.saveCount + tracked_.saveCount, 0);
}

TEST_F(RankingObject, ReadReturnsAParkedRecordSoTwoVisitsBeforeTheApplyPassBothCount) {
  const auto item = tracked_.AddMessage(inbox_);
  OtlItemValues v;
  ASSERT_EQ(Object().ReadItem(Id(item), v), S_OK);
  EXPECT_EQ(v.state, kItemOpen);

  ASSERT_EQ(Object().WriteItem(Id(item), Set(1)), S_OK);
  ASSERT_EQ(Object().ReadItem(Id(item), v), S_OK);
  EXPECT_EQ(v.state, kItemHasRanking);
  EXPECT_EQ(v.set, Set(1));
  // The second visit folds into the first (the tracer adds one visit) and parks the result.
  ranking::RankingSet next = v.set;
  next.visits += 1;
  ASSERT_EQ(Object().WriteItem(Id(item), next), S_OK);
  ASSERT_EQ(store_.ApplyPending(item), S_OK);
  ASSERT_EQ(Object().ReadItem(Id(item), v), S_OK);
  EXPECT_EQ(v.state, kItemHasRanking);
  EXPECT_EQ(v.set.visits, 2u);
}

TEST_F(RankingObject, ReadFillsTheItemsValues) {
  pm::Message m{};
  m.subjectPrefix.emplace("Re: ");
  m.normalizedSubject.emplace("Budget");
  m.messageClass.emplace("IPM.Note");
  m.senderName.emplace("Ann Lee");
  m.senderAddress.emplace("ann@example.org");
  m.recipients = {{pm::RecipientType::To, "Bob", "bob@example.org"},
                  {pm::RecipientType::To, "", "carl@example.org"},
                  {pm::RecipientType::Cc, "dora@example.org", "DORA@example.org"},
                  {pm::RecipientType::Bcc, "Eve", ""}};
  m.messageFlags = pm::kMsgFlagRead;
  m.startDate = 46010.5;
  m.searchKey = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01};
  const auto item = tracked_.AddMessage(inbox_, m);
  OtlItemValues v;
  ASSERT_EQ(Object().ReadItem(Id(item), v), S_OK);
  EXPECT_EQ(v.pst, store_.number());
  EXPECT_EQ(v.parentFolder, "Inbox");
  EXPECT_EQ(v.searchKey, "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(v.prefix, "Re: ");
  EXPECT_EQ(v.subject, "Budget");
  EXPECT_EQ(v.itemType, "IPM.Note");
  EXPECT_EQ(v.from, "Ann Lee [ann@example.org]");
  EXPECT_EQ(v.to, "Bob [bob@example.org]; carl@example.org");
  EXPECT_EQ(v.cc, "dora@example.org");
  EXPECT_EQ(v.bcc, "Eve");
  EXPECT_EQ(v.messageFlags, pm::kMsgFlagRead);
  EXPECT_EQ(v.date1, 46010.5);
  EXPECT_EQ(v.date2, 0.0);

  // An item in another store is read but has no store number.
  const auto elsewhere = untracked_.AddMessage(untrackedInbox_);
  ASSERT_EQ(Object().ReadItem(Id(elsewhere), v), S_FALSE);
  EXPECT_EQ(v.state, kItemOpen);
  EXPECT_EQ(v.pst, 0u);
  EXPECT_EQ(Object().ReadItem("outlook:ABC", v), E_INVALIDARG);
  EXPECT_EQ(v.state, kItemNotFound);
}

TEST_F(RankingObject, SentByTheUserWhenInSentItemsUnsentOrFromTheUsersAddress) {
  OtlItemValues v;
  ASSERT_EQ(Object().ReadItem(Id(tracked_.AddMessage(sent_)), v), S_OK);
  EXPECT_EQ(v.messageFlags, pm::kMsgFlagFromMe);
  pm::Message unsent;
  unsent.messageFlags = pm::kMsgFlagUnsent;
  ASSERT_EQ(Object().ReadItem(Id(tracked_.AddMessage(inbox_, unsent)), v), S_OK);
  EXPECT_EQ(v.messageFlags, pm::kMsgFlagUnsent | pm::kMsgFlagFromMe);
  pm::Message mine;
  mine.senderAddress = "ME@example.org";
  ASSERT_EQ(Object().ReadItem(Id(tracked_.AddMessage(inbox_, mine)), v), S_OK);
  EXPECT_EQ(v.messageFlags, pm::kMsgFlagFromMe);
  pm::Message theirs;
  theirs.senderAddress = "you@example.org";
  ASSERT_EQ(Object().ReadItem(Id(tracked_.AddMessage(inbox_, theirs)), v), S_OK);
  EXPECT_EQ(v.messageFlags, 0u);
}

class MsgFile : public RankingObject {
 protected:
  MsgFile() {
    Guid g;
    EXPECT_EQ(NewGuid(g), S_OK);
    name_ = "Global\\" + FormatGuid(g);
    EXPECT_EQ(filters::SharedSection::Create(name_, kSection, section_), S_OK);
    std::memset(section_.bytes().data(), 0xEE, kSection);
  }
  HRESULT Get(const pm::EntryId& item, std::uint32_t size) {
    std::string files;
    return Object().GetMsgFile(Id(item), name_, size, "q6e", files, text_, kind_);
  }
  std::uint32_t Count() const {
    std::uint32_t c;
    std::memcpy(&c, section_.bytes().data(), 4);
    return c;
  }
  std::string Body() const {
    return std::string(reinterpret_cast<const char*>(section_.bytes().data()) + 4, Count());
  }

  static constexpr std::uint32_t kSection = 64;
  std::string name_, text_;
  std::uint32_t kind_ = 99;
  filters::SharedSection section_;
};

TEST_F(MsgFile, TheFirstBodyOfHtmlRtfAndTextIsCopiedWithItsKind) {
  pm::Message all;
  all.bodyHtml = "<p>hi</p>";
  all.htmlCharset = "iso-8859-1";
  all.bodyPlain = "hi";
  ASSERT_EQ(Get(tracked_.AddMessage(inbox_, all), kSection), S_OK);
  EXPECT_EQ(kind_, kBodyHtml);
  EXPECT_EQ(Body(), "<p>hi</p>");
  EXPECT_EQ(section_.bytes()[4 + Count()], 0);
  EXPECT_EQ(text_, "iso-8859-1");

  pm::Message rtf;
  const std::string r = "{\\rtf1 hi}";
  rtf.bodyRtfCompressed = std::vector<std::uint8_t>(r.begin(), r.end());
  rtf.bodyPlain = "hi";
  ASSERT_EQ(Get(tracked_.AddMessage(inbox_, rtf), kSection), S_OK);
  EXPECT_EQ(kind_, kBodyRtf);
  EXPECT_EQ(Body(), r);

  pm::Message text;
  text.bodyPlain = "plain words";
  ASSERT_EQ(Get(tracked_.AddMessage(inbox_, text), kSection), S_OK);
  EXPECT_EQ(kind_, kBodyText);
  EXPECT_EQ(Body(), "plain words");

  std::memset(section_.bytes().data(), 0xEE, kSection);
  EXPECT_EQ(Get(tracked_.AddMessage(inbox_), kSection), S_FALSE);
  EXPECT_EQ(section_.bytes()[0], 0xEE);  // nothing copied
}

TEST_F(MsgFile, ALongBodyIsCutToFitCountBodyAndZero) {
  pm::Message m;
  m.bodyPlain = std::string(200, 'a');
  const auto item = tracked_.AddMessage(inbox_, m);
  ASSERT_EQ(Get(item, 32), S_OK);
  EXPECT_EQ(Count(), 27u);
  EXPECT_EQ(section_.bytes()[31], 0);
  EXPECT_EQ(section_.bytes()[32], 0xEE);  // past the usable size: untouched
}

TEST_F(MsgFile, SizesTheSectionCannotHoldAreRefused) {
  pm::Message m;
  m.bodyPlain = std::string(200, 'a');
  const auto item = tracked_.AddMessage(inbox_, m);
  EXPECT_EQ(Get(item, 4), E_FAIL);
  EXPECT_TRUE(Failed(Get(item, kSection + 1)));
  EXPECT_TRUE(Failed(Get(item, 1u << 30)));
  EXPECT_EQ(section_.bytes()[0], 0xEE);
  std::string files;
  EXPECT_TRUE(Failed(Object().GetMsgFile(Id(item), "Global\\{nothing}", 32, "q6e", files, text_, kind_)));
}

TEST_F(MsgFile, AnRtfBodyThatCannotBeReadLeavesACountOfZero) {
  pm::Message m;
  m.bodyRtfCompressed = std::vector<std::uint8_t>(20, 0x42);
  ASSERT_EQ(Get(tracked_.AddMessage(inbox_, m), kSection), STG_E_INVALIDHEADER);
  EXPECT_EQ(Count(), 0u);
}

}  // namespace
}  // namespace qv::mail::addin
