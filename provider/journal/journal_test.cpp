#include "provider/journal/journal.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

#include "context/test_context.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal_paths.h"

namespace qv::journal {
namespace {

// Sets TZ for one test; POSIX rules, so no time zone database is needed.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_) ::setenv("TZ", old_->c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

DATE Utc(std::string_view iso) { return *ParseIsoDate(iso); }

class FakeNotifier : public JournalNotifier {
 public:
  void Notify(std::string_view dayKey, const NotificationBlock& block) override {
    calls.emplace_back(std::string(dayKey), block);
  }
  std::vector<std::pair<std::string, NotificationBlock>> calls;
};

std::vector<platform::PropertySet> StoredEntries(const std::filesystem::path& dayFile) {
  std::vector<std::uint8_t> image;
  EXPECT_EQ(ReadDayFileImage(dayFile, image), S_OK);
  std::vector<platform::PropertySet> sets;
  DayFileReader reader(image, dayfile::kFileHeaderSize);
  DayFileRecord r;
  while (reader.Next(r)) {
    platform::PropertySet set;
    EXPECT_EQ(platform::ParsePropertySet(r.payload, set), S_OK);
    sets.push_back(set);
  }
  EXPECT_EQ(reader.tail(), DayFileTail::Clean);
  return sets;
}

class JournalTest : public ::testing::Test {
 protected:
  EntryFields Web(DATE start) {
    EntryFields f;
    f.url = "http://example.org/page";
    f.start = start;
    f.end = start + 90.0 / kSecondsPerDay;
    f.workingTime = 42;
    f.activeTime = 60;
    f.type = kTypeWebPage;
    f.searchKey = "{3108EFA7-0C78-4930-8542-237B2C341ED2}";
    f.title = "Example page";
    return f;
  }
  EntryFields Mail(std::uint32_t flags, BstrIn to, BstrIn from) {
    EntryFields f;
    f.url = "outlook:00000000ABCD";
    f.start = Utc("2025-03-10T09:00:00Z");
    f.end = Utc("2025-03-10T09:02:00Z");
    f.workingTime = 30;
    f.type = 2;
    f.pst = 3;
    f.parentFolder = "Inbox";
    f.prefix = "RE: ";
    f.title = "Budget";
    f.to = to;
    f.from = from;
    f.messageFlags = flags;
    return f;
  }
  platform::PropertySet LogAndRead(const EntryFields& f) {
    std::string marker;
    EXPECT_EQ(journal_.LogEntry(f, &marker), S_OK);
    const auto sets = StoredEntries(std::filesystem::path(marker).parent_path() / kDayFileName);
    return sets.empty() ? platform::PropertySet{} : sets.back();
  }

  ScopedTimeZone tz_{"UTC0"};
  TestContext test_;
  std::shared_ptr<FakeNotifier> notifier_ = std::make_shared<FakeNotifier>();
  Journal journal_{test_.ctx(), notifier_};
};

TEST_F(JournalTest, FirstEntryOfADayCreatesTheDayThenLaterOnesOnlyAdd) {
  const DATE start = Utc("2005-07-26T10:15:30Z");
  std::string first, second;
  ASSERT_EQ(journal_.LogEntry(Web(start), &first), S_OK);
  const auto folder = JournalRoot(test_.root()) / "2005" / "7" / "26";
  EXPECT_EQ(std::filesystem::path(first).parent_path(), folder);
  const auto dayFile = folder / kDayFileName;
  ASSERT_TRUE(std::filesystem::is_regular_file(dayFile));

  // The marker is empty, named after the entry, and carries the visit's start.
  EXPECT_EQ(std::filesystem::file_size(first), 0u);
  struct stat st {};
  ASSERT_EQ(::stat(first.c_str(), &st), 0);
  EXPECT_EQ(TimespecToFileTime(st.st_mtim), *DateToFileTime(start));
  const auto id = ParseGuid(std::filesystem::path(first).stem().string());
  ASSERT_TRUE(id);
  EXPECT_EQ(std::filesystem::path(first).filename().string(), MarkerName(*id));

  ASSERT_EQ(journal_.LogEntry(Web(start + 0.01), &second), S_OK);
  EXPECT_NE(first, second);
  const auto sets = StoredEntries(dayFile);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].fmtid, *id);
  EXPECT_EQ(sets[0].clsid, *id);
  EXPECT_EQ(sets[0].codePage, platform::kCodePageUnicode);
  std::size_t markers = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    markers += e.path().extension() == kMarkerExtension;
  }
  EXPECT_EQ(markers, 2u);
}

TEST_F(JournalTest, FilesEntriesUnderTheLocalDayOnWhichTheVisitStarted) {
  struct Case {
    const char* tz;
    const char* startUtc;
    const char* folder;
  };
  const Case cases[] = {
      // 23:59 on New Year's Eve in New York, ending after midnight: the old year.
      {"EST5", "2025-01-01T04:59:00Z", "2024/12/31"},
      {"EST5", "2025-01-01T05:00:00Z", "2025/1/1"},
      // Tokyo is ahead of UTC: the UTC date is still the day before.
      {"JST-9", "2025-01-01T14:59:59.900Z", "2025/1/1"},
      {"JST-9", "2025-01-01T15:00:00Z", "2025/1/2"},
      // Summer time in Berlin (UTC+2) moves the day boundary to 22:00 UTC.
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2025-07-26T21:59:59Z", "2025/7/26"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2025-07-26T22:00:00Z", "2025/7/27"},
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.tz);
    EntryFields f = Web(Utc(c.startUtc));
    f.end = f.start + 1.0;  // ends a day later: still filed under the start
    std::string marker;
    ASSERT_EQ(journal_.LogEntry(f, &marker), S_OK) << c.tz << " " << c.startUtc;
    EXPECT_EQ(std::filesystem::path(marker).parent_path(), JournalRoot(test_.root()) / c.folder)
        << c.tz << " " << c.startUtc;
  }
}

TEST_F(JournalTest, StoresEveryFieldAndWorkingTimeZeroAsOneSecond) {
  EntryFields f = Web(Utc("2025-02-01T08:00:00Z"));
  f.workingTime = 0;
  f.pst = 7;
  f.cachedUrl = "history:0001";
  f.otherInfo = "more";
  f.to = "someone";  // not a mail item: no correspondent, no message flags
  f.messageFlags = 0x20;
  const auto set = LogAndRead(f);
  const auto& v = set.values;
  EXPECT_EQ(v.at(kPidUrl).str, "http://example.org/page");
  EXPECT_EQ(v.at(kPidUrl).vt, platform::VT_LPWSTR);
  EXPECT_EQ(v.at(kPidType).ui4, kTypeWebPage);
  EXPECT_EQ(v.at(kPidPst).ui4, 7u);
  EXPECT_EQ(v.at(kPidStart).vt, platform::VT_DATE);
  EXPECT_EQ(v.at(kPidStart).date, f.start);
  EXPECT_EQ(v.at(kPidEnd).date, f.end);
  EXPECT_EQ(v.at(kPidWorkingTime).ui4, 1u);
  EXPECT_EQ(v.at(kPidActiveTime).ui4, 60u);
  EXPECT_EQ(v.at(kPidCachedUrl).str, "history:0001");
  EXPECT_EQ(v.at(kPidSearchKey).str, "{3108EFA7-0C78-4930-8542-237B2C341ED2}");
  EXPECT_EQ(v.at(kPidTitle).str, "Example page");
  EXPECT_EQ(v.at(kPidOtherInfo).str, "more");
  EXPECT_FALSE(v.contains(kPidParentFolder));
  EXPECT_FALSE(v.contains(kPidPrefix));
  EXPECT_FALSE(v.contains(kPidCorrespondent));
  EXPECT_FALSE(v.contains(kPidMessageFlags));
}

TEST_F(JournalTest, MailEntriesKeepTheCorrespondentTheMessageFlagsChoose) {
  const auto sent = LogAndRead(Mail(0x21, "bob@example.org", "me@example.org"));
  EXPECT_EQ(sent.values.at(kPidCorrespondent).str, "bob@example.org");
  EXPECT_EQ(sent.values.at(kPidMessageFlags).ui4, 0x21u);
  EXPECT_EQ(sent.values.at(kPidParentFolder).str, "Inbox");

  const auto received = LogAndRead(Mail(0x01, "me@example.org", "alice@example.org"));
  EXPECT_EQ(received.values.at(kPidCorrespondent).str, "alice@example.org");

  // The chosen string is empty (or null): no correspondent, though the other one is set.
  const auto noSender = LogAndRead(Mail(0x00, "me@example.org", ""));
  EXPECT_FALSE(noSender.values.contains(kPidCorrespondent));
  EXPECT_EQ(noSender.values.at(kPidMessageFlags).ui4, 0u);
  const auto nullRecipient = LogAndRead(Mail(0x20, std::nullopt, "me@example.org"));
  EXPECT_FALSE(nullRecipient.values.contains(kPidCorrespondent));
}

TEST_F(JournalTest, SearchContentsOfAWebEntry) {
  std::string marker;
  EntryFields f = Web(Utc("2025-02-01T08:00:00Z"));
  f.pst = 0;
  ASSERT_EQ(journal_.LogEntry(f, &marker), S_OK);
  std::string text, description;
  std::uint32_t pst = 99, attn = 99, duration = 99;
  ASSERT_EQ(journal_.GetSearchContents(marker, &text, &pst, &attn, &duration, &description), S_OK);
  EXPECT_EQ(text,
            "http://example.org/page \r\n{3108EFA7-0C78-4930-8542-237B2C341ED2} \r\nExample page \r\n");
  EXPECT_EQ(description, "http://example.org/page");
  EXPECT_EQ(pst, 0u);
  EXPECT_EQ(attn, 42u * 5);
  EXPECT_EQ(duration, 90u);
}

TEST_F(JournalTest, SearchContentsOfAMailEntryRunThePrefixIntoTheSubject) {
  std::string marker;
  EntryFields f = Mail(0, "", "alice@example.org");
  f.otherInfo = "cc list";
  ASSERT_EQ(journal_.LogEntry(f, &marker), S_OK);
  std::string text, description;
  std::uint32_t pst = 0, attn = 0, duration = 0;
  ASSERT_EQ(journal_.GetSearchContents(marker, &text, &pst, &attn, &duration, &description), S_OK);
  EXPECT_EQ(text, "outlook:00000000ABCD \r\nRE:  Budget \r\nalice@example.org \r\ncc list \r\n");
  EXPECT_EQ(description, "RE: Budget");
  EXPECT_EQ(pst, 3u);
  EXPECT_EQ(attn, 150u);
  EXPECT_EQ(duration, 120u);
}

// File names are bytes: one that is not UTF-8 comes back exactly, from the library and from
// qvjournal list and show.
TEST_F(JournalTest, AFileNameThatIsNotUtf8ComesBackExactly) {
  const std::string name = "/home/u/caf\xE9 \xFF\xC3 \xE2\x82\xAC.txt";
  EntryFields f = Web(Utc("2025-02-01T08:00:00Z"));
  f.type = kTypeDocument;
  f.url = name;
  f.title = std::nullopt;
  f.searchKey = std::nullopt;
  std::string marker;
  ASSERT_EQ(journal_.LogEntry(f, &marker), S_OK);
  std::string text, description;
  ASSERT_EQ(journal_.GetSearchContents(marker, &text, nullptr, nullptr, nullptr, &description),
            S_OK);
  EXPECT_EQ(description, name);
  EXPECT_EQ(text, name + " \r\n");

  const auto out = test_.root() / "qvjournal.out";
  const auto run = [&](const std::string& args) {
    const std::string cmd = "QV_ROOT='" + test_.root().string() + "' TZ=UTC0 " + QVJOURNAL_PATH +
                            " " + args + " > '" + out.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string listed = run("list 2025-02-01");
  EXPECT_NE(listed.find("\t" + name + "\n"), std::string::npos) << listed;
  const std::string shown = run("show '" + marker + "'");
  EXPECT_NE(shown.find("description: " + name + "\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("  " + name + "\n"), std::string::npos) << shown;
}

TEST_F(JournalTest, DurationIsZeroWhenTheEndPrecedesTheStart) {
  EntryFields f = Web(Utc("2025-02-01T08:00:00Z"));
  f.end = f.start - 1.0;
  std::string marker, text;
  std::uint32_t duration = 99;
  ASSERT_EQ(journal_.LogEntry(f, &marker), S_OK);
  ASSERT_EQ(journal_.GetSearchContents(marker, &text, nullptr, nullptr, &duration, nullptr), S_OK);
  EXPECT_EQ(duration, 0u);
}

TEST_F(JournalTest, PathsThatAreNotMarkersAnswerFalseAndClearEveryOutput) {
  std::string marker;
  ASSERT_EQ(journal_.LogEntry(Web(Utc("2025-02-01T08:00:00Z")), &marker), S_OK);
  const auto folder = std::filesystem::path(marker).parent_path();
  const std::string notMarkers[] = {
      (folder / "notes.q6j").string(),
      (folder / "3108EFA7-0C78-4930-8542-237B2C341ED2.q6j").string(),  // no braces
      std::filesystem::path(marker).replace_extension().string(),     // no extension
      (folder / "").string(),                                          // no file name
  };
  for (const std::string& path : notMarkers) {
    std::string text = "stale", description = "stale";
    std::uint32_t pst = 7, attn = 7, duration = 7;
    EXPECT_EQ(journal_.GetSearchContents(path, &text, &pst, &attn, &duration, &description),
              S_FALSE)
        << path;
    EXPECT_EQ(text, "");
    EXPECT_EQ(description, "");
    EXPECT_EQ(pst + attn + duration, 0u);
  }
}

TEST_F(JournalTest, UnreadableEntriesFailWithoutLeavingStaleOutputs) {
  std::string marker;
  ASSERT_EQ(journal_.LogEntry(Web(Utc("2025-02-01T08:00:00Z")), &marker), S_OK);
  const auto folder = std::filesystem::path(marker).parent_path();
  std::string text = "stale", description = "stale";
  std::uint32_t pst = 7, attn = 7, duration = 7;
  auto get = [&](BstrIn path) {
    text = description = "stale";
    pst = attn = duration = 7;
    return journal_.GetSearchContents(path, &text, &pst, &attn, &duration, &description);
  };
  auto cleared = [&] { return text.empty() && description.empty() && pst + attn + duration == 0; };

  // A GUID that is not in the day file, and a day without a data file.
  EXPECT_EQ(get((folder / "{00000000-0000-0000-0000-000000000001}.q6j").string()),
            STG_E_FILENOTFOUND);
  EXPECT_TRUE(cleared());
  EXPECT_EQ(get((folder.parent_path() / "2" / std::filesystem::path(marker).filename()).string()),
            STG_E_PATHNOTFOUND);
  EXPECT_TRUE(cleared());

  // Over-long paths are refused rather than cut to some other file's name.
  const std::string longPath = folder.string() + "/" + std::string(kMaxPathBytes, 'a') +
                               std::filesystem::path(marker).filename().string();
  EXPECT_EQ(get(longPath), HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(cleared());
  // A NUL would make the system open a shorter path than the one given.
  EXPECT_EQ(get(std::string_view(marker.c_str(), marker.size() + 1)), E_INVALIDARG);
  EXPECT_TRUE(cleared());

  EXPECT_EQ(get(std::nullopt), E_INVALIDARG);
  EXPECT_TRUE(cleared());
  EXPECT_EQ(journal_.GetSearchContents(marker, nullptr, &pst, &attn, &duration, &description),
            E_INVALIDARG);
}

TEST_F(JournalTest, RefusesEntriesThatCannotBeFiledOrReadBack) {
  EntryFields f = Web(Utc("2025-02-01T08:00:00Z"));
  const DATE badStarts[] = {0.0, std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(), -1e9, 1e9};
  for (DATE start : badStarts) {
    f.start = start;
    EXPECT_EQ(journal_.LogEntry(f, nullptr), E_INVALIDARG) << start;
  }
  f = Web(Utc("2025-02-01T08:00:00Z"));
  f.end = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(journal_.LogEntry(f, nullptr), E_INVALIDARG);

  f = Web(Utc("2025-02-01T08:00:00Z"));
  f.url = std::nullopt;
  EXPECT_EQ(journal_.LogEntry(f, nullptr), E_INVALIDARG);
  f.url = "";
  EXPECT_EQ(journal_.LogEntry(f, nullptr), E_INVALIDARG);

  // An entry bigger than a record may hold would be written but never read back.
  const std::string huge(dayfile::kMaxPayload, 'x');
  f.url = huge;
  EXPECT_EQ(journal_.LogEntry(f, nullptr), E_INVALIDARG);

  EXPECT_FALSE(std::filesystem::exists(JournalRoot(test_.root())));
  EXPECT_TRUE(notifier_->calls.empty());
}

// A marker must not outlive its record after a power loss: the record is synced first, and
// an entry whose record cannot be synced gets no marker.
TEST_F(JournalTest, TheRecordIsOnDiskBeforeItsMarkerIsMade) {
  const DATE start = Utc("2025-02-01T08:00:00Z");
  const auto folder = JournalRoot(test_.root()) / "2025" / "2" / "1";
  auto markers = [&] {
    std::size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      n += it->path().extension() == kMarkerExtension;
    }
    return n;
  };
  std::vector<std::size_t> markersAtSync;
  bool failSync = false;
  Journal journal(test_.ctx(), notifier_, kWriterLockWait, [&](int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    markersAtSync.push_back(markers());
    if (!failSync) return 0;
    errno = EIO;
    return -1;
  });
  ASSERT_EQ(journal.LogEntry(Web(start), nullptr), S_OK);
  ASSERT_EQ(journal.LogEntry(Web(start), nullptr), S_OK);
  EXPECT_EQ(markersAtSync, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(markers(), 2u);

  failSync = true;
  EXPECT_EQ(journal.LogEntry(Web(start), nullptr), HresultFromErrno(EIO));
  EXPECT_EQ(markers(), 2u);
  EXPECT_EQ(StoredEntries(folder / kDayFileName).size(), 2u);
  EXPECT_EQ(notifier_->calls.size(), 2u);
}

TEST_F(JournalTest, RefusesAMarkerPathTooLongToOpenRatherThanCuttingIt) {
  Context deep = test_.ctx();
  while (deep.root.native().size() < kMaxPathBytes) deep.root /= std::string(200, 'r');
  Journal journal(deep, notifier_);
  EXPECT_EQ(journal.LogEntry(Web(Utc("2025-02-01T08:00:00Z")), nullptr), E_INVALIDARG);
  std::error_code ec;
  EXPECT_FALSE(std::filesystem::exists(deep.root, ec));
  EXPECT_TRUE(notifier_->calls.empty());
}

TEST_F(JournalTest, AnnouncesEachEntryToItsOwnDayOnly) {
  ScopedTimeZone zone("EST5");
  std::string late, early;
  ASSERT_EQ(journal_.LogEntry(Web(Utc("2025-01-01T04:59:58.250Z")), &late), S_OK);
  ASSERT_EQ(journal_.LogEntry(Web(Utc("2025-01-01T05:00:01Z")), &early), S_OK);
  ASSERT_EQ(notifier_->calls.size(), 2u);

  EXPECT_EQ(notifier_->calls[0].first, "2024\\12\\31");
  const auto n = DecodeNotification(notifier_->calls[0].second);
  ASSERT_TRUE(n);
  EXPECT_EQ(MarkerName(n->entry), std::filesystem::path(late).filename().string());
  EXPECT_EQ(n->localStart, (SystemTime{2024, 12, 2, 31, 23, 59, 58, 250}));  // a Tuesday

  EXPECT_EQ(notifier_->calls[1].first, "2025\\1\\1");
  EXPECT_EQ(MarkerName(DecodeNotification(notifier_->calls[1].second)->entry),
            std::filesystem::path(early).filename().string());
}

TEST_F(JournalTest, TheComShapedMethodsMatchTheirArguments) {
  std::shared_ptr<IKivJournal> com;
  RegisterJournalClass(test_.classes(), test_.ctx(), notifier_);
  Guid clsid;
  ASSERT_EQ(test_.classes().ClsidFromProgId("Pelion.Journal", clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_Journal);
  ASSERT_EQ(test_.classes().CreateInstance(CLSID_Journal, com), S_OK);

  std::string marker;
  ASSERT_EQ(com->LogEntry("C:/docs/plan.txt", Utc("2025-02-01T08:00:00Z"),
                          Utc("2025-02-01T08:00:10Z"), 5, 6, kTypeDocument, 0, std::nullopt,
                          "{3108EFA7-0C78-4930-8542-237B2C341ED2}", std::nullopt, std::nullopt,
                          std::nullopt, std::nullopt, std::nullopt, 0, std::nullopt, &marker),
            S_OK);
  std::string text, description;
  std::uint32_t duration = 0;
  ASSERT_EQ(com->GetSearchContents(marker, &text, nullptr, nullptr, &duration, &description), S_OK);
  EXPECT_EQ(text, "C:/docs/plan.txt \r\n{3108EFA7-0C78-4930-8542-237B2C341ED2} \r\n");
  EXPECT_EQ(duration, 10u);
  EXPECT_EQ(com->UpdateSearchKey(marker, &clsid), E_NOTIMPL);
  // Without an output for the marker's path the entry is still written.
  EXPECT_EQ(com->LogEntry("C:/docs/plan.txt", Utc("2025-02-01T09:00:00Z"),
                          Utc("2025-02-01T09:00:10Z"), 5, 6, kTypeDocument, 0, std::nullopt,
                          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                          std::nullopt, 0, std::nullopt, nullptr),
            S_OK);
  EXPECT_EQ(StoredEntries(std::filesystem::path(marker).parent_path() / kDayFileName).size(), 2u);
}

}  // namespace
}  // namespace qv::journal
