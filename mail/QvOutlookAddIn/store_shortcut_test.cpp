#include "mail/QvOutlookAddIn/store_shortcut.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "context/test_context.h"
#include "mail/QvOutlookAddIn/addin_events.h"
#include "mail/QvOutlookAddIn/fake_message_store.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"

namespace qv::mail::addin {
namespace {

namespace fs = std::filesystem;
using testing::FakeMessageStore;

ranking::RankingSet Set(std::uint32_t visits) {
  ranking::RankingSet s;
  s.scope = 9;
  s.visits = visits;
  s.workingTime = 10 * visits;
  s.last = {46000.5, 30, visits};
  return s;
}

class StoreShortcut : public ::testing::Test {
 protected:
  StoreShortcut() {
    inbox_ = store_.AddFolder("Inbox", platform::mail::FolderType::Inbox);
    item_ = store_.AddMessage(inbox_);
  }
  ShortcutRequest Request() const {
    ShortcutRequest r;
    r.directory = dir_;
    r.key = item_;
    r.lastWrite = *DateToFileTime(45000.0);
    return r;
  }
  HRESULT Park(const ranking::RankingSet& set) {
    const PendingRecord record = EncodePendingRecord(set);
    ShortcutRequest r = Request();
    r.pending = &record;
    return WriteShortcut(tc_.ctx(), &store_, r);
  }
  HRESULT Apply() {
    ShortcutRequest r = Request();
    r.apply = true;
    return WriteShortcut(tc_.ctx(), &store_, r);
  }
  fs::path Path() const {
    fs::path p;
    EXPECT_EQ(ShortcutPath(dir_, item_, p), S_OK);
    return p;
  }

  TestContext tc_;
  fs::path dir_ = tc_.root() / "shortcuts" / "store";
  FakeMessageStore store_{1, "Personal Folders"};
  platform::mail::EntryId inbox_, item_;
};

TEST_F(StoreShortcut, ParkingMakesThePrivateBucketFolderAndKeepsOnlyTheLatestRecord) {
  ASSERT_EQ(Park(Set(1)), S_OK);
  ASSERT_EQ(Park(Set(2)), S_OK);
  EXPECT_EQ(fs::file_size(Path()), kPendingRecordSize);
  struct stat st {};
  ASSERT_EQ(::stat(Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(FileTimeToTimespec(*DateToFileTime(45000.0)).tv_sec, st.st_mtim.tv_sec);
  ranking::RankingSet parked;
  ASSERT_EQ(ReadPendingRecord(dir_, item_, parked), S_OK);
  EXPECT_EQ(parked, Set(2));
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(Path().parent_path()), fs::directory_iterator()), 1);
  // Nothing reaches the item before the apply pass.
  EXPECT_EQ(store_.saveCount, 0);
}

TEST_F(StoreShortcut, ApplyMovesTheRecordIntoTheItemAndEmptiesTheShortcut) {
  ASSERT_EQ(Park(Set(3)), S_OK);
  ASSERT_EQ(Apply(), S_OK);
  ranking::RankingSet stored;
  ASSERT_EQ(GetRankingProperties(store_.message(item_), stored), S_OK);
  EXPECT_EQ(stored, Set(3));
  EXPECT_EQ(fs::file_size(Path()), 0u);
  ranking::RankingSet unused;
  EXPECT_EQ(ReadPendingRecord(dir_, item_, unused), S_FALSE);
}

TEST_F(StoreShortcut, ApplyOverAnEmptyOrMissingShortcutDoesNotOpenTheItem) {
  ASSERT_EQ(Apply(), S_OK);  // missing
  ShortcutRequest make = Request();
  ASSERT_EQ(WriteShortcut(tc_.ctx(), &store_, make), S_OK);  // creates it empty
  ASSERT_TRUE(fs::exists(Path()));
  EXPECT_EQ(fs::file_size(Path()), 0u);
  store_.openCount = 0;
  ASSERT_EQ(Apply(), S_OK);
  EXPECT_EQ(store_.openCount, 0);
  EXPECT_EQ(store_.saveCount, 0);
}

TEST_F(StoreShortcut, AFailedItemWriteKeepsTheRecordForTheNextPass) {
  ASSERT_EQ(Park(Set(4)), S_OK);
  store_.saveFailure = STG_E_MEDIUMFULL;
  EXPECT_EQ(Apply(), STG_E_MEDIUMFULL);
  EXPECT_EQ(fs::file_size(Path()), kPendingRecordSize);
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventItemWriteFailed});

  store_.saveFailure = S_OK;
  ASSERT_EQ(Apply(), S_OK);
  ranking::RankingSet stored;
  ASSERT_EQ(GetRankingProperties(store_.message(item_), stored), S_OK);
  EXPECT_EQ(stored, Set(4));
  EXPECT_EQ(fs::file_size(Path()), 0u);
}

TEST_F(StoreShortcut, APartialRecordIsReportedAndNeverWrittenIntoTheItem) {
  ASSERT_EQ(Park(Set(5)), S_OK);
  fs::resize_file(Path(), 30);
  ranking::RankingSet unused;
  EXPECT_TRUE(Failed(ReadPendingRecord(dir_, item_, unused)));
  EXPECT_TRUE(Failed(Apply()));
  EXPECT_EQ(store_.saveCount, 0);
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventPendingReadFailed});
  EXPECT_EQ(fs::file_size(Path()), 0u);  // an unusable record does not linger
}

TEST_F(StoreShortcut, ApplyingARecordTwiceLeavesTheSameRanking) {
  ASSERT_EQ(Park(Set(6)), S_OK);
  ASSERT_EQ(Apply(), S_OK);
  ASSERT_EQ(Park(Set(6)), S_OK);  // the same record again, as after a crash before the cut
  ASSERT_EQ(Apply(), S_OK);
  ranking::RankingSet stored;
  ASSERT_EQ(GetRankingProperties(store_.message(item_), stored), S_OK);
  EXPECT_EQ(stored, Set(6));
}

TEST_F(StoreShortcut, KeysTooLongForANameAreRefusedAndReported) {
  const std::vector<std::uint8_t> longKey(64, 0x11);
  const PendingRecord record = EncodePendingRecord(Set(1));
  ShortcutRequest r = Request();
  r.key = longKey;
  r.pending = &record;
  EXPECT_EQ(WriteShortcut(tc_.ctx(), &store_, r), E_INVALIDARG);
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventShortcutFailed});
  EXPECT_FALSE(fs::exists(dir_));
}

TEST_F(StoreShortcut, AnUnwritableFolderIsReportedAndDeletingAMissingShortcutSucceeds) {
  EXPECT_EQ(DeleteShortcut(tc_.ctx(), dir_, item_), S_OK);
  fs::create_directories(dir_.parent_path());
  std::ofstream(dir_) << "a file where the folder should be";
  EXPECT_TRUE(Failed(Park(Set(1))));
  EXPECT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventBucketFolderFailed});
  EXPECT_EQ(DeleteShortcut(tc_.ctx(), dir_, item_), S_OK);
}

}  // namespace
}  // namespace qv::mail::addin
