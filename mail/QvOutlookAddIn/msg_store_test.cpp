#include "mail/QvOutlookAddIn/msg_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "context/test_context.h"
#include "mail/QvOutlookAddIn/addin_events.h"
#include "mail/QvOutlookAddIn/fake_message_store.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "mail/QvOutlookAddIn/store_shortcut.h"

namespace qv::mail::addin {
namespace {

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegValue;
using platform::mail::FolderType;
using testing::FakeMessageStore;
using namespace std::chrono_literals;

std::vector<FolderType> Types(const KivMsgStore& s) {
  std::vector<FolderType> t;
  for (const auto& f : s.trackedFolders()) t.push_back(f.type);
  return t;
}

class MsgStore : public ::testing::Test {
 protected:
  MsgStore() {
    for (auto [name, type] : std::vector<std::pair<std::string, FolderType>>{
             {"Inbox", FolderType::Inbox}, {"Sent Items", FolderType::SentMail},
             {"Outbox", FolderType::Outbox}, {"Deleted Items", FolderType::DeletedItems},
             {"Calendar", FolderType::Calendar}, {"Contacts", FolderType::Contacts},
             {"Journal", FolderType::Journal}, {"Notes", FolderType::Notes},
             {"Tasks", FolderType::Tasks}, {"Drafts", FolderType::Drafts}}) {
      folders_[type] = fake_.AddFolder(name, type);
    }
    archive_ = fake_.AddFolder("Archive", FolderType::None);
  }
  std::unique_ptr<KivMsgStore> Connect(std::chrono::milliseconds period = 1h) {
    auto s = std::make_unique<KivMsgStore>(tc_.ctx(), fake_, dir_, period);
    EXPECT_EQ(s->OnConnection(), S_OK);
    return s;
  }
  void SetSettings(std::string_view key, std::uint32_t v) {
    ASSERT_EQ(tc_.registry().SetValue(Hive::CurrentUser, key, kSettingsValue, RegValue::Dword(v)), 0);
  }
  std::string StoreKey() { return KivMsgStore(tc_.ctx(), fake_, dir_, 1h).registryKey(); }
  bool Has(std::string_view name) {
    RegValue v;
    return tc_.registry().GetValue(Hive::CurrentUser, StoreKey(), name, v) == 0;
  }
  fs::path ShortcutOf(const platform::mail::EntryId& id) {
    fs::path p;
    EXPECT_EQ(ShortcutPath(dir_, id, p), S_OK);
    return p;
  }
  void MakeShortcut(const platform::mail::EntryId& id) {
    ShortcutRequest r;
    r.directory = dir_;
    r.key = id;
    ASSERT_EQ(WriteShortcut(tc_.ctx(), &fake_, r), S_OK);
  }

  TestContext tc_;
  fs::path dir_ = tc_.root() / "mail" / "store";
  FakeMessageStore fake_{7, "Mailbox"};
  std::map<FolderType, platform::mail::EntryId> folders_;
  platform::mail::EntryId archive_;
};

TEST_F(MsgStore, RegistryEntryCarriesNameAndPathUnderTheHexNumber) {
  auto s = Connect();
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", s->number());
  EXPECT_EQ(s->registryKey(), std::string(kPstsKey) + "\\" + hex);
  RegValue v;
  ASSERT_EQ(tc_.registry().GetValue(Hive::CurrentUser, s->registryKey(), "", v), 0);
  EXPECT_EQ(v.text, "Mailbox");
  ASSERT_EQ(tc_.registry().GetValue(Hive::CurrentUser, s->registryKey(), kPathValue, v), 0);
  EXPECT_EQ(v.text, dir_.string());
  FakeMessageStore other{8, "Other"};
  EXPECT_NE(KivMsgStore(tc_.ctx(), other, dir_, 1h).number(), s->number());
  EXPECT_TRUE(s->IsEntryId(fake_.storeEntryId()));
  EXPECT_FALSE(s->IsEntryId(other.storeEntryId()));
}

TEST_F(MsgStore, SettingsComeFromTheStoreThenThePstsKeyThen435) {
  EXPECT_EQ(Connect()->settings(), kDefaultStoreSettings);
  SetSettings(kPstsKey, 0x7);
  EXPECT_EQ(Connect()->settings(), 0x7u);
  SetSettings(StoreKey(), 0x200);
  EXPECT_EQ(Connect()->settings(), 0x200u);
  // A value of another type counts as missing.
  ASSERT_EQ(tc_.registry().SetValue(Hive::CurrentUser, StoreKey(), kSettingsValue, RegValue::Sz("5")), 0);
  EXPECT_EQ(Connect()->settings(), 0x7u);
  EXPECT_TRUE(tc_.EventIds().empty());
}

TEST_F(MsgStore, SettingsBitsChooseTheTrackedFolders) {
  EXPECT_EQ(Types(*Connect()),
            (std::vector<FolderType>{FolderType::Inbox, FolderType::SentMail, FolderType::Outbox,
                                     FolderType::Calendar, FolderType::Contacts, FolderType::Notes,
                                     FolderType::Tasks}));
  SetSettings(StoreKey(), 0x0F);  // bit 3 chooses nothing; no root-folder entries at 15
  EXPECT_EQ(Types(*Connect()), (std::vector<FolderType>{FolderType::Inbox, FolderType::SentMail,
                                                         FolderType::Outbox, FolderType::DeletedItems}));
  SetSettings(StoreKey(), 0x240);
  EXPECT_EQ(Types(*Connect()), (std::vector<FolderType>{FolderType::Journal, FolderType::Drafts}));
  SetSettings(StoreKey(), 0);
  EXPECT_TRUE(Connect()->trackedFolders().empty());
}

TEST_F(MsgStore, MissingFoldersAreSkippedQuietlyAndOtherFailuresReported) {
  fake_.defaultFolderFailure[FolderType::Contacts] = platform::mail::MAPI_E_NOT_FOUND;
  fake_.defaultFolderFailure[FolderType::Inbox] = E_ACCESSDENIED;
  fake_.defaultFolderFailure[FolderType::Notes] = E_FAIL;
  auto s = Connect();
  EXPECT_EQ(Types(*s), (std::vector<FolderType>{FolderType::SentMail, FolderType::Outbox,
                                                 FolderType::Calendar, FolderType::Tasks}));
  EXPECT_EQ(tc_.EventIds(),
            (std::vector<std::uint32_t>{kEventReceiveFolderFailed, kEventRootFolderIdFailed}));
}

TEST_F(MsgStore, AStoreWithoutSentMailIdFindsItsFoldersByName) {
  FakeMessageStore plain{9, "Maildir"};
  const auto inbox = plain.AddFolder("INBOX", FolderType::None, {}, false);
  const auto sent = plain.AddFolder("Sent Items", FolderType::None, {}, false);
  plain.AddFolder("Notes", FolderType::Notes, {}, false);
  const auto tasks = plain.AddFolder("Aufgaben", FolderType::None, {}, false);
  WellKnownFolderNames names;
  names.tasks = "Aufgaben";
  KivMsgStore s(tc_.ctx(), plain, dir_, 1h, names);
  ASSERT_EQ(s.OnConnection(), S_OK);
  ASSERT_EQ(s.trackedFolders().size(), 3u);
  EXPECT_EQ(s.trackedFolders()[0].id, inbox);
  EXPECT_EQ(s.trackedFolders()[1].id, sent);
  EXPECT_EQ(s.trackedFolders()[1].type, FolderType::SentMail);
  EXPECT_EQ(s.trackedFolders()[2].id, tasks);
}

TEST_F(MsgStore, ItemsInTrackedFoldersAndTheirSubFoldersAreTracked) {
  const auto sub = fake_.AddFolder("Lists", FolderType::None, folders_[FolderType::Inbox]);
  const auto inSub = fake_.AddMessage(sub);
  const auto inSent = fake_.AddMessage(folders_[FolderType::SentMail]);
  const auto archived = fake_.AddMessage(archive_);
  auto s = Connect();
  FolderType type;
  std::string parent;
  ASSERT_EQ(s->IsTracked(inSub, type, parent), S_OK);
  EXPECT_EQ(type, FolderType::Inbox);
  EXPECT_EQ(parent, "Lists");
  ASSERT_EQ(s->IsTracked(inSent, type, parent), S_OK);
  EXPECT_EQ(type, FolderType::SentMail);
  EXPECT_EQ(s->IsTracked(archived, type, parent), S_FALSE);
  EXPECT_EQ(s->IsTracked(std::vector<std::uint8_t>{1, 2, 3}, type, parent),
            platform::mail::MAPI_E_NOT_FOUND);
  EXPECT_TRUE(Failed(s->IsTracked(folders_[FolderType::Inbox], type, parent)));
}

TEST_F(MsgStore, WalksAreDueUntilCompletedAndAgainAfterThePeriod) {
  auto s = Connect();
  EXPECT_TRUE(s->dirSyncDue());
  EXPECT_TRUE(s->storeSyncDue());
  ASSERT_EQ(s->ResyncDir(false, 100), S_OK);
  ASSERT_EQ(s->ResyncPST(false, 100), S_OK);
  RegValue v;
  ASSERT_EQ(tc_.registry().GetValue(Hive::CurrentUser, StoreKey(), kDirSyncCompletedValue, v), 0);
  EXPECT_EQ(v.binary.size(), 8u);
  EXPECT_FALSE(Connect()->dirSyncDue());
  EXPECT_FALSE(Connect()->storeSyncDue());
  EXPECT_TRUE(Connect(0ms)->dirSyncDue());
  tc_.clock().Advance(1h);
  EXPECT_TRUE(Connect()->dirSyncDue());
  EXPECT_TRUE(Connect()->storeSyncDue());
  // A walk under way makes it due whatever the completion time.
  ASSERT_EQ(tc_.registry().SetValue(Hive::CurrentUser, StoreKey(), kDirSyncCompletedValue,
                                    RegValue::Binary(std::vector<std::uint8_t>(8, 0x7F))), 0);
  EXPECT_FALSE(Connect()->dirSyncDue());
  ASSERT_EQ(tc_.registry().SetValue(Hive::CurrentUser, StoreKey(), kDirSyncValue, RegValue::Sz("00")), 0);
  EXPECT_TRUE(Connect()->dirSyncDue());
  // A completion time of the wrong size counts as missing.
  ASSERT_EQ(tc_.registry().SetValue(Hive::CurrentUser, StoreKey(), kPstSyncCompletedValue,
                                    RegValue::Binary({1, 2, 3})), 0);
  EXPECT_TRUE(Connect()->storeSyncDue());
}

TEST_F(MsgStore, DirectoryWalkDropsShortcutsOfUntrackedItemsAndResumes) {
  const auto kept = fake_.AddMessage(folders_[FolderType::Inbox]);
  const auto moved = fake_.AddMessage(archive_);
  const auto gone = fake_.AddMessage(folders_[FolderType::Inbox]);
  for (const auto& id : {kept, moved, gone}) MakeShortcut(id);
  ASSERT_EQ(fake_.DeleteMessage(gone), S_OK);
  const fs::path bogus = dir_ / "00" / "XYZ.q6e";
  const fs::path hidden = dir_ / "00" / ".hidden.q6e";
  fs::create_directories(bogus.parent_path());
  std::ofstream(bogus).put('x');
  std::ofstream(hidden).put('x');

  auto s = Connect();
  // One file at a time: every step leaves a resume point, none repeats or skips a file.
  int steps = 0;
  HRESULT hr;
  while ((hr = s->ResyncDir(false, 1)) == S_FALSE) {
    ++steps;
    RegValue v;
    ASSERT_EQ(tc_.registry().GetValue(Hive::CurrentUser, StoreKey(), kDirSyncValue, v), 0);
    EXPECT_NE(v.text.find('\\'), std::string::npos);
    ASSERT_LT(steps, 20);
  }
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(steps, 3);  // four files: the fourth call ends the walk
  EXPECT_TRUE(fs::exists(ShortcutOf(kept)));
  EXPECT_FALSE(fs::exists(ShortcutOf(moved)));
  EXPECT_FALSE(fs::exists(ShortcutOf(gone)));
  EXPECT_TRUE(fs::exists(bogus));
  EXPECT_TRUE(fs::exists(hidden));
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventDirWalkFailed});
  EXPECT_FALSE(Has(kDirSyncValue));
  EXPECT_TRUE(Has(kDirSyncCompletedValue));
}

TEST_F(MsgStore, DirectoryWalkAppliesParkedRecordsOfTrackedItems) {
  const auto item = fake_.AddMessage(folders_[FolderType::Inbox]);
  auto s = Connect();
  ranking::RankingSet set;
  set.visits = 3;
  ASSERT_EQ(s->SetPending(item, EncodePendingRecord(set)), S_OK);
  ASSERT_EQ(s->ResyncDir(true, 100), S_OK);
  ranking::RankingSet stored;
  ASSERT_EQ(GetRankingProperties(fake_.message(item), stored), S_OK);
  EXPECT_EQ(stored, set);
}

TEST_F(MsgStore, StoreWalkMakesShortcutsForTrackedItemsAndResumes) {
  std::vector<platform::mail::EntryId> tracked;
  for (int i = 0; i < 3; ++i) tracked.push_back(fake_.AddMessage(folders_[FolderType::Inbox]));
  platform::mail::Message dated;
  dated.deliveryTime = 45500.0;
  tracked.push_back(fake_.AddMessage(folders_[FolderType::Tasks], dated));
  const auto untracked = fake_.AddMessage(archive_);
  auto s = Connect();
  ASSERT_EQ(s->ResyncPST(false, 2), S_FALSE);
  EXPECT_TRUE(Has(kPstSyncValue));
  EXPECT_TRUE(Has(kPstSyncFolderValue));
  EXPECT_TRUE(Has(kPstSyncItemValue));
  EXPECT_TRUE(fs::exists(ShortcutOf(tracked[1])));
  EXPECT_FALSE(fs::exists(ShortcutOf(tracked[2])));
  ASSERT_EQ(s->ResyncPST(false, 1), S_FALSE);
  EXPECT_TRUE(fs::exists(ShortcutOf(tracked[2])));
  EXPECT_FALSE(fs::exists(ShortcutOf(tracked[3])));
  ASSERT_EQ(s->ResyncPST(false, 10), S_OK);
  for (const auto& id : tracked) EXPECT_TRUE(fs::exists(ShortcutOf(id)));
  EXPECT_FALSE(fs::exists(ShortcutOf(untracked)));
  struct stat st {};
  ASSERT_EQ(::stat(ShortcutOf(tracked[3]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, static_cast<time_t>(DateToUnixSeconds(45500.0)));
  EXPECT_FALSE(Has(kPstSyncValue));
  EXPECT_FALSE(Has(kPstSyncItemValue));
  EXPECT_TRUE(Has(kPstSyncCompletedValue));
  EXPECT_FALSE(s->storeSyncDue());
}

}  // namespace
}  // namespace qv::mail::addin
