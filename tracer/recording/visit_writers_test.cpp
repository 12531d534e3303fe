#include "tracer/recording/visit_writers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "context/test_context.h"
#include "platform/browser/browser_feed.h"
#include "platform/urlcache/url.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_entry.h"
#include "provider/journal/journal_paths.h"
#include "provider/ranking/file_ranking.h"
#include "provider/urlmon/kiv_urlmon.h"
#include "tracer/recording/recording_constants.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {
namespace {

constexpr FileTime kSecond = 10'000'000;

struct Entry {
  std::string url, cachedUrl, searchKey, title;
  std::uint32_t type = 99, working = 0, active = 0, pst = 0;
};

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRankingClasses(tc.ctx());
    journal::RegisterJournalClass(tc.classes(), tc.ctx(), nullptr);
    ASSERT_EQ(urlmon::RegisterWebHistoryClasses(tc.ctx()), S_OK);
    docs = tc.root() / "docs";
    std::filesystem::create_directories(docs);
    now = tc.clock().Now();
  }

  std::string MakeFile(const std::string& name) {
    const auto p = docs / name;
    std::ofstream(p) << "content of " << name;
    return p.string();
  }

  // A finished visit of `seconds`, ending now, with all of it working time.
  Visit MakeVisit(std::string identifier, int seconds, std::int32_t kind = kKindDocument) {
    Visit v;
    v.identifier = std::move(identifier);
    v.end = now;
    v.start = now - static_cast<FileTime>(seconds) * kSecond;
    v.trackingStart = v.start;
    v.workingTime = static_cast<std::uint64_t>(seconds) * kSecond;
    v.activeTime = v.workingTime / 2;
    v.kind = kind;
    v.tracked = true;
    return v;
  }

  std::vector<Entry> JournalEntries() {
    std::vector<Entry> out;
    const auto root = journal::JournalRoot(tc.root());
    std::error_code ec;
    if (!std::filesystem::exists(root, ec)) return out;
    for (const auto& f : std::filesystem::recursive_directory_iterator(root)) {
      if (f.path().filename() != journal::kDayFileName) continue;
      std::vector<std::uint8_t> image;
      if (Failed(journal::ReadDayFileImage(f.path(), image))) continue;
      journal::DayFileReader reader(image, journal::dayfile::kFileHeaderSize);
      journal::DayFileRecord rec;
      while (reader.Next(rec)) {
        platform::PropertySet ps;
        if (Failed(platform::ParsePropertySet(rec.payload, ps))) continue;
        auto str = [&](std::uint32_t pid) {
          auto it = ps.values.find(pid);
          return it == ps.values.end() ? std::string() : it->second.str;
        };
        auto num = [&](std::uint32_t pid) {
          auto it = ps.values.find(pid);
          return it == ps.values.end() ? 0u : it->second.ui4;
        };
        out.push_back({str(journal::kPidUrl), str(journal::kPidCachedUrl),
                       str(journal::kPidSearchKey), str(journal::kPidTitle),
                       num(journal::kPidType), num(journal::kPidWorkingTime),
                       num(journal::kPidActiveTime), num(journal::kPidPst)});
      }
    }
    return out;
  }

  ranking::RankingSet Record(const std::string& file, Guid* key = nullptr) {
    FileRanking fr(tc.ctx());
    VARIANT_BOOL valid = VARIANT_FALSE;
    ranking::RankingSet s;
    Guid k;
    EXPECT_EQ(fr.GetRankingSet(&file, &valid, &k, &s.scope, &s.workingTime, &s.activeTime,
                               &s.visits, &s.firstVisitStart, &s.last.end, &s.last.t, &s.last.n,
                               &s.blended.end, &s.blended.t, &s.blended.n),
              S_OK);
    EXPECT_EQ(valid, VARIANT_TRUE);
    if (key) *key = k;
    return s;
  }

  TestContext tc;
  std::stop_source stop;
  std::filesystem::path docs;
  FileTime now = 0;
};

TEST_F(RecordingTest, AFileVisitIsJournaledInSecondsAndRankedInTenthsAndUnits) {
  const std::string file = MakeFile("report.txt");
  FileWriter writer({tc.ctx(), stop.get_token()});
  Visit v = MakeVisit(platform::PathToFileUrl(file), 95);
  v.workingTime = 47 * kSecond + 5'000'000;  // 47.5 s
  writer.Record(v);

  const auto entries = JournalEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].url, file);
  EXPECT_EQ(entries[0].type, journal::kTypeDocument);
  EXPECT_EQ(entries[0].working, 47u);
  Guid key;
  const auto s = Record(file, &key);
  EXPECT_EQ(entries[0].searchKey, FormatGuid(key));  // the journal carries the record's key
  EXPECT_EQ(s.workingTime, 47u);  // 475 tenths
  EXPECT_EQ(s.last.n, 237u);      // 47.5 s in units of 0.2 s
  EXPECT_EQ(s.last.t, 95u);
  EXPECT_TRUE(tc.EventIds().empty());
}

TEST_F(RecordingTest, RecordFlagsAndRulesChooseJournalOrRank) {
  const std::string file = MakeFile("a.txt");
  FileWriter writer({tc.ctx(), stop.get_token()});
  Visit v = MakeVisit(file, 30);
  v.recordFlags = 0x10;  // journal only
  writer.Record(v);
  EXPECT_EQ(JournalEntries().size(), 1u);
  std::string f = file;
  VARIANT_BOOL valid;
  EXPECT_EQ(FileRanking(tc.ctx()).GetRankingSet(&f, &valid, nullptr, nullptr, nullptr, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr,
                                                nullptr, nullptr, nullptr),
            STG_E_FILENOTFOUND);
  v.recordFlags = 0x20;  // rank only
  writer.Record(v);
  EXPECT_EQ(JournalEntries().size(), 1u);
  EXPECT_EQ(Record(file).visits, 1u);
  // The system's own shortcut files are journaled, never ranked.
  const std::string mailShortcut = MakeFile("item.q6e");
  writer.Record(MakeVisit(mailShortcut, 30));
  EXPECT_EQ(JournalEntries().size(), 2u);
  // Identifiers that are neither file URLs nor absolute paths record nothing.
  writer.Record(MakeVisit("relative/path.txt", 30));
  writer.Record(MakeVisit("", 30));
  EXPECT_EQ(JournalEntries().size(), 2u);
}

TEST_F(RecordingTest, ARecordLostDuringTheVisitIsRebuiltFromTheSnapshot) {
  const std::string file = MakeFile("doc.odt");
  FileWriter writer({tc.ctx(), stop.get_token()});
  // Three earlier visits within an hour: a blended span shorter than a day.
  for (int i = 3; i >= 1; --i) {
    Visit earlier = MakeVisit(file, 120);
    earlier.end = now - static_cast<FileTime>(i) * 600 * kSecond;
    earlier.start = earlier.end - 120 * kSecond;
    writer.Record(earlier);
  }
  Guid key;
  const auto before = Record(file, &key);
  ASSERT_EQ(before.visits, 3u);
  ASSERT_NE(before.blended.end, 0.0);
  ASSERT_LT(before.blended.t, 86400u);

  Visit v = MakeVisit(file, 60);
  TakeRankingSnapshot(tc.ctx(), v);
  ASSERT_TRUE(v.snapshot.taken);
  // The application saves the document and drops the ranking record.
  std::string f = file;
  ASSERT_EQ(FileRanking(tc.ctx()).DeleteRank(&f), S_OK);
  writer.Record(v);

  Guid after;
  const auto s = Record(file, &after);
  EXPECT_EQ(after, key);  // the snapshot's key survives
  EXPECT_EQ(s.visits, 4u);
  EXPECT_NE(s.blended.end, 0.0);
  EXPECT_TRUE(tc.EventIds().empty());
}

TEST_F(RecordingTest, ASnapshotWithoutABlendedSpanReplaysTheLastVisitAlone) {
  const std::string file = MakeFile("single.txt");
  FileWriter writer({tc.ctx(), stop.get_token()});
  Visit earlier = MakeVisit(file, 300);
  earlier.end = now - 3600 * kSecond;
  earlier.start = earlier.end - 300 * kSecond;
  writer.Record(earlier);
  const auto before = Record(file);
  ASSERT_EQ(before.blended.end, 0.0);

  Visit v = MakeVisit(file, 60);
  TakeRankingSnapshot(tc.ctx(), v);
  ASSERT_TRUE(v.snapshot.taken);
  std::string f = file;
  ASSERT_EQ(FileRanking(tc.ctx()).DeleteRank(&f), S_OK);
  writer.Record(v);
  const auto s = Record(file);
  // The replayed last visit became the older triple, blended; the new visit is the last.
  EXPECT_EQ(s.visits, 2u);
  EXPECT_EQ(s.blended.end, before.last.end);
  EXPECT_EQ(s.blended.t, before.last.t);
  EXPECT_EQ(s.blended.n, before.last.n);
  EXPECT_EQ(s.workingTime, 300u + 60u);  // the replay restores the stored working time
  EXPECT_EQ(s.last.t, 60u);
}

TEST_F(RecordingTest, SnapshotsAreTakenOnlyOfTrackedLocalFilesWithAValidRecord) {
  const std::string file = MakeFile("x.txt");
  Visit v = MakeVisit(file, 10);
  TakeRankingSnapshot(tc.ctx(), v);
  EXPECT_FALSE(v.snapshot.taken);  // no record yet
  FileWriter({tc.ctx(), stop.get_token()}).Record(MakeVisit(file, 10));
  v.tracked = false;
  TakeRankingSnapshot(tc.ctx(), v);
  EXPECT_FALSE(v.snapshot.taken);
  v.tracked = true;
  v.kind = kKindBrowserPane;
  TakeRankingSnapshot(tc.ctx(), v);
  EXPECT_FALSE(v.snapshot.taken);  // a page, not a file
  v.identifier = platform::PathToFileUrl(file);
  TakeRankingSnapshot(tc.ctx(), v);
  EXPECT_TRUE(v.snapshot.taken);
  EXPECT_EQ(v.snapshot.visits, 1u);
}

class WebRecordingTest : public RecordingTest {
 protected:
  void SetUp() override {
    RecordingTest::SetUp();
    ASSERT_EQ(platform::UrlHistory::Open(tc.root(), history), 0);
    cache = std::make_unique<platform::UrlCache>(tc.root(), tc.clock());
  }
  std::string Show(const std::string& url, const std::string& title) {
    platform::BrowserFeed feed(*cache, *history, tc.clock());
    std::string item;
    EXPECT_EQ(feed.ShowPage(title, {{url, "<html><title>" + title + "</title>hello</html>"}}, item),
              0);
    return item.substr(item.find('\n') + 1);  // the frame data
  }
  std::shared_ptr<platform::UrlHistory> History() {
    return std::shared_ptr<platform::UrlHistory>(history.get(), [](platform::UrlHistory*) {});
  }
  std::unique_ptr<platform::UrlHistory> history;
  std::unique_ptr<platform::UrlCache> cache;
};

TEST_F(WebRecordingTest, APageInTheHistoryGetsAShortcutARecordAndAnEntry) {
  const std::string url = "http://intranet.test/plans";
  Visit v = MakeVisit(url, 80, kKindBrowserPane);
  v.frameData = Show(url, "Plans");
  WebWriter writer({tc.ctx(), stop.get_token()}, History());
  writer.Record(v);
  const auto entries = JournalEntries();
  ASSERT_EQ(entries.size(), 1u) << ::testing::PrintToString(tc.EventIds());
  EXPECT_EQ(entries[0].type, journal::kTypeWebPage);
  EXPECT_EQ(entries[0].title, "Plans");
  EXPECT_EQ(entries[0].url, url);
  ASSERT_FALSE(entries[0].cachedUrl.empty());
  // The shortcut file carries the page's ranking record.
  bool ranked = false;
  for (const auto& f : std::filesystem::recursive_directory_iterator(tc.root())) {
    if (f.path().extension() == ".q6w") {
      EXPECT_EQ(Record(f.path().string()).visits, 1u);
      ranked = true;
    }
  }
  EXPECT_TRUE(ranked);
}

TEST_F(WebRecordingTest, SecurePagesAndPagesTheBrowserDoesNotKnowAreNotRecorded) {
  WebWriter writer({tc.ctx(), stop.get_token()}, History());
  Visit secure = MakeVisit("HTTPS://bank.test/", 30, kKindBrowserPane);
  Show("HTTPS://bank.test/", "Bank");
  writer.Record(secure);
  EXPECT_TRUE(JournalEntries().empty());
  EXPECT_TRUE(tc.EventIds().empty());  // silently
  writer.Record(MakeVisit("http://unknown.test/", 30, kKindBrowserPane));
  EXPECT_TRUE(JournalEntries().empty());
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventVisitNotRecorded});
  // No scheme: one event, then nothing more.
  writer.Record(MakeVisit("no scheme here", 30, kKindBrowserPane));
  EXPECT_EQ(tc.EventIds().size(), 2u);
  EXPECT_TRUE(JournalEntries().empty());
  // A visit that is not recorded is a warning: the recorder goes on with the next one.
  for (const auto& e : tc.eventLog().ReadAll()) EXPECT_EQ(e.type, platform::EventType::Warning);
}

class FakeMailObject final : public MailRankingObject {
 public:
  HRESULT Read(const std::string& id, MailItemData& out, std::stop_token cancel) override {
    if (delay.count() > 0) {
      const auto until = std::chrono::steady_clock::now() + delay;
      while (std::chrono::steady_clock::now() < until) {
        if (cancel.stop_requested()) return E_ABORT;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    reads.push_back(id);
    out = item;
    return S_OK;
  }
  HRESULT Write(const std::string& id, const ranking::RankingSet& set, std::stop_token) override {
    writes.emplace_back(id, set);
    return S_OK;
  }
  MailItemData item;
  std::chrono::milliseconds delay{0};
  std::vector<std::string> reads;
  std::vector<std::pair<std::string, ranking::RankingSet>> writes;
};

TEST_F(RecordingTest, MailVisitsAreJournaledAndTheirNewSetWrittenBack) {
  auto rot = std::make_shared<RunningObjectTable>();
  auto object = std::make_shared<FakeMailObject>();
  object->item.state = 1;
  object->item.itemType = "ipm.task";
  object->item.subject = "Quarterly numbers";
  object->item.pst = 3;
  rot->Register(std::string(kMailRankingRotPrefix) + "0:1", object);
  MailWriter writer({tc.ctx(), stop.get_token()}, rot, "0:1");

  writer.Record(MakeVisit("outlook:\\Inbox", 30));  // a folder: nothing
  EXPECT_TRUE(object->reads.empty());

  writer.Record(MakeVisit("outlook:item/00AB", 40));
  const auto entries = JournalEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].type, 5u);  // a task
  EXPECT_EQ(entries[0].title, "Quarterly numbers");
  EXPECT_EQ(entries[0].pst, 3u);
  ASSERT_EQ(object->writes.size(), 1u);
  EXPECT_EQ(object->writes[0].second.visits, 1u);
  EXPECT_EQ(object->writes[0].second.last.n, 200u);

  object->item.state = 0;  // not tracked: journaled only
  writer.Record(MakeVisit("outlook:item/00AC", 40));
  EXPECT_EQ(object->writes.size(), 1u);
  EXPECT_EQ(JournalEntries().size(), 2u);
}

TEST_F(RecordingTest, AMissingOrSilentMailAddInRecordsNothingButAnEvent) {
  auto rot = std::make_shared<RunningObjectTable>();
  MailWriter absent({tc.ctx(), stop.get_token()}, rot, "0:1");
  absent.Record(MakeVisit("outlook:item/1", 10));
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventMailObjectFailed});
  EXPECT_EQ(tc.eventLog().ReadAll().back().strings.at(1), "483(0x1E3)");  // 0x800401E3

  auto slow = std::make_shared<FakeMailObject>();
  slow->delay = std::chrono::milliseconds(60'000);
  rot->Register(std::string(kMailRankingRotPrefix) + "0:1", slow);
  const auto started = std::chrono::steady_clock::now();
  HRESULT hr = CallWithLimit(
      [&](std::stop_token s) {
        MailItemData d;
        return slow->Read("x", d, s);
      },
      std::chrono::milliseconds(100));
  EXPECT_EQ(hr, E_ABORT);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(slow->reads.empty());
  EXPECT_TRUE(JournalEntries().empty());

  // The recorder itself gives the add-in five seconds, then records nothing but the event.
  MailWriter writer({tc.ctx(), stop.get_token()}, rot, "0:1");
  const auto before = std::chrono::steady_clock::now();
  writer.Record(MakeVisit("outlook:item/2", 10));
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(waited, kMailCallLimit);
  EXPECT_LT(waited, kMailCallLimit + std::chrono::seconds(3));
  EXPECT_EQ(tc.EventIds(),
            (std::vector<std::uint32_t>{kEventMailObjectFailed, kEventMailReadFailed}));
  EXPECT_TRUE(JournalEntries().empty());
  EXPECT_TRUE(slow->writes.empty());
  for (const auto& e : tc.eventLog().ReadAll()) EXPECT_EQ(e.type, platform::EventType::Warning);
}

// The add-in's object as it is served from the mail client's process.
class ServedRanking final : public mail::OtlRanking {
 public:
  HRESULT ReadItem(std::string_view, mail::OtlItemValues& out) override {
    out.state = mail::kItemHasRanking;
    out.pst = 2;
    out.searchKey = "{83B2B146-1FE6-4213-899C-6B464F50E676}";
    out.set = {1, 10, 5, 1, 45000.0, {45000.1, 10, 100}, {}};
    out.subject = "Minutes";
    out.itemType = "IPM.Note";
    return S_OK;
  }
  HRESULT WriteItem(std::string_view id, const ranking::RankingSet& set) override {
    std::lock_guard lock(m);
    writes.emplace_back(std::string(id), set);
    return S_OK;
  }
  HRESULT GetMsgFile(std::string_view, std::string_view, std::uint32_t, std::string_view,
                     std::string&, std::string&, std::uint32_t&) override {
    return S_FALSE;
  }
  std::mutex m;
  std::vector<std::pair<std::string, ranking::RankingSet>> writes;
};

TEST_F(RecordingTest, TheRecorderReachesTheAddInThroughTheSessionsRunningObjectTable) {
  auto session = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{tc.root() / "rot", ::getuid(), {}});
  SystemClock clock;
  auto rot = std::make_shared<RunningObjectTable>(session, clock);
  MailWriter writer({tc.ctx(), stop.get_token()}, rot, "0:2a");
  writer.Record(MakeVisit("outlook:item/1", 10));  // not running yet
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventMailObjectFailed});

  auto served = std::make_shared<ServedRanking>();
  std::unique_ptr<platform::Registration> reg;
  ASSERT_EQ(mail::PublishOtlRanking(*session, "0:2a", served, reg), S_OK);
  writer.Record(MakeVisit("outlook:item/00AB", 40));
  const auto entries = JournalEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].title, "Minutes");
  EXPECT_EQ(entries[0].pst, 2u);
  std::lock_guard lock(served->m);
  ASSERT_EQ(served->writes.size(), 1u);
  EXPECT_EQ(served->writes[0].first, "outlook:item/00AB");
  EXPECT_EQ(served->writes[0].second.visits, 1u);  // the stored set is of another scope: anew
}

}  // namespace
}  // namespace qv::tracer
