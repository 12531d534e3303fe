// Clearing journal days by date range: across months and years, links never followed,
// hidden items kept, and a day whose data file a writer holds keeps its entries.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "common/temp_dir.h"
#include "context/context.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_paths.h"
#include "provider/journal/unique_fd.h"
#include "shell/uiutils/journal_clearing.h"

namespace qv::uiutils {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class JournalClearing : public ::testing::Test {
 protected:
  fs::path root() const { return dir_.path() / "Journal"; }

  // A day folder as the journal leaves it: the data file and two markers.
  void MakeDay(const std::string& rel) {
    const fs::path day = root() / rel;
    fs::create_directories(day);
    std::ofstream(day / std::string(journal::kDayFileName)) << "records";
    std::ofstream(day / "{00000000-0000-0000-0000-000000000001}.q6j");
    std::ofstream(day / "{00000000-0000-0000-0000-000000000002}.q6j");
  }
  bool Has(const std::string& rel) const { return fs::exists(fs::symlink_status(root() / rel)); }

  HRESULT Clear(CivilDay first, CivilDay last, bool goOn = false,
                std::chrono::milliseconds wait = 5s) {
    JournalClearer clearer(root(), clock_, wait);
    ClearCallbacks cb;
    cb.error = [this](const fs::path& p, HRESULT hr) { errors_.emplace_back(p, hr); };
    return clearer.ClearRange(first, last, goOn, cb, done_);
  }

  TempDir dir_;
  ManualClock clock_;
  ClearProgress done_;
  std::vector<std::pair<fs::path, HRESULT>> errors_;
};

TEST_F(JournalClearing, RangeOverTheTurnOfTheYearTakesOnlyItsDays) {
  for (const char* d : {"2005/11/30", "2005/12/29", "2005/12/30", "2005/12/31", "2006/1/1",
                        "2006/1/2", "2006/1/3", "2006/2/1"}) {
    MakeDay(d);
  }
  ASSERT_EQ(Clear({2005, 12, 30}, {2006, 1, 2}), S_OK);
  EXPECT_FALSE(Has("2005/12/30"));
  EXPECT_FALSE(Has("2005/12/31"));
  EXPECT_FALSE(Has("2006/1/1"));
  EXPECT_FALSE(Has("2006/1/2"));
  for (const char* d : {"2005/11/30", "2005/12/29", "2006/1/3", "2006/2/1"}) {
    EXPECT_TRUE(Has(std::string(d) + "/Journal.q6d")) << d;
  }
  EXPECT_EQ(done_.items, 4u * 4u);  // three files and the folder, four days
  EXPECT_EQ(done_.bytes, 4u * 7u);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(JournalClearing, RangeOverSeveralYearsTakesWholeYearsMonthsAndDays) {
  for (const char* d : {"2003/12/31", "2004/3/14", "2004/3/15", "2004/3/31", "2004/4/1",
                        "2004/12/31", "2005/6/6", "2005/1/1", "2006/1/31", "2006/2/10",
                        "2006/2/11", "2006/3/1", "2007/1/1"}) {
    MakeDay(d);
  }
  ASSERT_EQ(Clear({2004, 3, 15}, {2006, 2, 10}), S_OK);
  EXPECT_FALSE(Has("2005"));
  EXPECT_FALSE(Has("2004/4"));
  EXPECT_FALSE(Has("2004/12"));
  EXPECT_FALSE(Has("2006/1"));
  EXPECT_FALSE(Has("2004/3/15"));
  EXPECT_FALSE(Has("2004/3/31"));
  EXPECT_FALSE(Has("2006/2/10"));
  for (const char* d : {"2003/12/31", "2004/3/14", "2006/2/11", "2006/3/1", "2007/1/1"}) {
    EXPECT_TRUE(Has(std::string(d) + "/Journal.q6d")) << d;
  }
}

TEST_F(JournalClearing, RangesOutOfOrderOrImpossibleAreRefused) {
  MakeDay("2006/1/1");
  EXPECT_EQ(Clear({2006, 1, 2}, {2006, 1, 1}), E_INVALIDARG);
  EXPECT_EQ(Clear({2006, 13, 1}, {2006, 13, 2}), E_INVALIDARG);
  EXPECT_EQ(Clear({2006, 1, 0}, {2006, 1, 2}), E_INVALIDARG);
  EXPECT_TRUE(Has("2006/1/1/Journal.q6d"));
  // A journal that was never written is nothing to clear.
  fs::remove_all(root());
  EXPECT_EQ(Clear({2006, 1, 1}, {2006, 1, 2}), S_OK);
}

TEST_F(JournalClearing, LinksAreRemovedAsLinksAndNeverFollowed) {
  const fs::path victim = dir_.path() / "precious";
  fs::create_directories(victim / "1" / "1");
  std::ofstream(victim / "keep.txt") << "mine";
  std::ofstream(victim / "1" / "1" / "keep.txt") << "mine";
  MakeDay("2005/6/6");
  fs::create_directory_symlink(victim, root() / "2005" / "6" / "6" / "inside");
  fs::create_directory_symlink(victim, root() / "2005" / "7");
  fs::create_directories(root() / "2004" / "12");
  fs::create_directory_symlink(victim, root() / "2004" / "12" / "31");
  fs::create_directory_symlink(victim, root() / "2006");  // a year that is a link

  ASSERT_EQ(Clear({2004, 12, 31}, {2006, 1, 1}), S_OK);
  EXPECT_FALSE(Has("2005"));
  EXPECT_FALSE(Has("2004/12/31"));
  EXPECT_TRUE(fs::exists(victim / "keep.txt"));
  EXPECT_TRUE(fs::exists(victim / "1" / "1" / "keep.txt"));
  EXPECT_TRUE(fs::is_symlink(root() / "2006"));  // not descended into
  EXPECT_TRUE(errors_.empty());
}

TEST_F(JournalClearing, HiddenItemsStayAndReadOnlyFoldersGo) {
  MakeDay("2006/5/1");
  std::ofstream(root() / "2006/5/1/.keep") << "x";
  MakeDay("2006/5/2");
  ::chmod((root() / "2006/5/2").c_str(), 0500);
  ASSERT_EQ(Clear({2006, 5, 1}, {2006, 5, 2}), S_OK);
  EXPECT_TRUE(Has("2006/5/1/.keep"));
  EXPECT_FALSE(Has("2006/5/1/Journal.q6d"));
  EXPECT_FALSE(Has("2006/5/2"));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(JournalClearing, ProgressComesEvery30ItemsAndCanAbort) {
  MakeDay("2006/5/1");
  for (int i = 0; i < 70; ++i) std::ofstream(root() / "2006/5/1" / ("m" + std::to_string(i)));
  JournalClearer clearer(root(), clock_, 1s);
  std::vector<std::uint64_t> seen;
  ClearCallbacks cb;
  cb.progress = [&](const ClearProgress& p) {
    seen.push_back(p.items);
    return p.items < 60;
  };
  EXPECT_EQ(clearer.ClearRange({2006, 5, 1}, {2006, 5, 1}, false, cb, done_), E_ABORT);
  EXPECT_EQ(seen, (std::vector<std::uint64_t>{30, 60}));
  EXPECT_TRUE(Has("2006/5/1/Journal.q6d"));  // the data file goes last
}

// Holds the journal writer's lock on a day file, as a writer in the middle of an entry does.
journal::UniqueFd HoldWriterLock(const fs::path& file) {
  journal::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CLOEXEC));
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  EXPECT_EQ(::fcntl(fd.get(), F_OFD_SETLK, &lock), 0);
  return fd;
}

TEST_F(JournalClearing, ADayHeldByAWriterKeepsEveryEntry) {
  MakeDay("2006/5/1");
  MakeDay("2006/5/2");
  journal::UniqueFd writer = HoldWriterLock(root() / "2006/5/1/Journal.q6d");

  EXPECT_EQ(Clear({2006, 5, 1}, {2006, 5, 2}, false, 50ms), STG_E_LOCKVIOLATION);
  EXPECT_TRUE(Has("2006/5/1/{00000000-0000-0000-0000-000000000001}.q6j"));
  EXPECT_TRUE(Has("2006/5/2/Journal.q6d"));  // stopped at the first error

  errors_.clear();
  EXPECT_EQ(Clear({2006, 5, 1}, {2006, 5, 2}, true, 50ms), STG_E_LOCKVIOLATION);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].first, root() / "2006/5/1/Journal.q6d");
  EXPECT_TRUE(Has("2006/5/1/{00000000-0000-0000-0000-000000000002}.q6j"));
  EXPECT_TRUE(Has("2006/5/1/Journal.q6d"));
  EXPECT_FALSE(Has("2006/5/2"));

  writer.Reset();
  errors_.clear();
  EXPECT_EQ(Clear({2006, 5, 1}, {2006, 5, 1}, false, 50ms), S_OK);
  EXPECT_FALSE(Has("2006/5/1"));
}

TEST(JournalClearingWithJournal, TheJournalWritesAClearedDayAgain) {
  TempDir dir;
  Installation install(dir.path() / "root");
  journal::Journal j(install.context(), nullptr);
  const DATE start = 38717.5;  // 31 December 2005, noon UTC
  journal::EntryFields f;
  const std::string url = "/home/user/report.odt";
  f.url = url;
  f.start = start;
  f.end = start + 0.01;
  std::string before;
  ASSERT_EQ(j.LogEntry(f, &before), S_OK);

  const CivilDay day = LocalDayOf(start);
  JournalClearer clearer(j.root(), install.context().clock, 1s);
  ClearProgress done;
  ASSERT_EQ(clearer.ClearRange(day, day, false, {}, done), S_OK);
  EXPECT_FALSE(fs::exists(before));
  EXPECT_FALSE(fs::exists(journal::DayFolder(j.root(), day)));

  std::string after;
  ASSERT_EQ(j.LogEntry(f, &after), S_OK);
  journal::SearchContents contents;
  ASSERT_EQ(j.GetSearchContents(after, contents), S_OK);
  EXPECT_EQ(contents.description, url);
}

}  // namespace
}  // namespace qv::uiutils
