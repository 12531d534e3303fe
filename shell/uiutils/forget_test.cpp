// Forgetting the last hour, the last day or everything on the stores a recording session
// fills: the journal, the files' ranking records, the web history and the URL cache.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/xattr.h>

#include <fstream>
#include <sstream>

#include "common/temp_dir.h"
#include "context/context.h"
#include "platform/propset/property_store.h"
#include "platform/urlcache/url_cache.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_paths.h"
#include "provider/journal/unique_fd.h"
#include "provider/ranking/file_ranking.h"
#include "provider/ranking/ranking_record.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/shortcut_file.h"
#include "shell/uiutils/forget.h"
#include "shell/uiutils/forget_cli.h"

namespace qv::uiutils {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr DATE kMinute = 1.0 / (24 * 60);
// Half past midnight on New Year's Day: the last day reaches into the year before.
constexpr DATE kNow = 38718.0 + 30 * kMinute;

std::unique_ptr<ManualClock> ClockAt(DATE d) {
  auto c = std::make_unique<ManualClock>();
  c->SetNowDate(d);
  return c;
}

class Forget : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRankingClasses(ctx());
    fs::create_directories(files_);
  }
  Context& ctx() { return install_.context(); }

  struct Recorded {
    std::string marker;
    std::string path;  // the file, or the page's shortcut
    std::string copyUrl;
  };

  // A finished visit to a file as the recorder leaves it: a journal entry and the file's
  // ranking record.
  Recorded VisitFile(const std::string& name, DATE end) {
    Recorded r;
    r.path = (files_ / name).string();
    std::ofstream(r.path) << "contents of " << name;
    FileRanking ranking(ctx());
    ULONG scope = 0;
    EXPECT_EQ(ranking.get_CurrentScope(&scope), S_OK);
    const HRESULT hr =
        ranking.UpdateRank(&r.path, 600, 1, end - 2 * kMinute, end, 1200, 1200, scope, 0, nullptr);
    if (hr != S_OK) rankable_ = false;
    Log(r.path, journal::kTypeDocument, end, std::nullopt, r.marker);
    return r;
  }

  // A finished visit to a web page: the page's copy in the URL cache, its shortcut, and a
  // journal entry that names the shortcut.
  Recorded VisitPage(const std::string& url, DATE end) {
    Recorded r;
    platform::UrlCache cache(ctx().root, ctx().clock);
    fs::path copy;
    EXPECT_EQ(cache.CreateEntryFile(url, "htm", copy), 0);
    std::ofstream(copy) << "<html>" << url;
    EXPECT_EQ(cache.CommitEntry(url, copy, {}), 0);
    urlmon::Shortcut s;
    urlmon::PagePart part;
    part.url = url;
    part.kind = urlmon::kKindHtml;
    part.copy = urlmon::StoredCopyPath(cache.folder(), copy);
    s.parts.push_back(part);
    s.title = url;
    s.url = url;
    const std::vector<std::string> urls{url};
    const urlmon::ShortcutName name = urlmon::NameOfUrls(urls);
    const fs::path shortcut = urlmon::ShortcutPath(urlmon::WebHistoryRoot(ctx().root), name);
    fs::create_directories(shortcut.parent_path());
    EXPECT_EQ(urlmon::CreateShortcutFile(shortcut, s), S_OK);
    r.path = shortcut.string();
    r.copyUrl = url;
    Log(url, journal::kTypeWebPage, end, urlmon::FormatHistoryUrl(name), r.marker);
    return r;
  }

  void Log(const std::string& url, std::uint32_t type, DATE end,
           std::optional<std::string> cachedUrl, std::string& marker) {
    journal::EntryFields f;
    f.url = url;
    f.type = type;
    f.start = end - 2 * kMinute;
    f.end = end;
    f.workingTime = 120;
    f.activeTime = 120;
    if (cachedUrl) f.cachedUrl = *cachedUrl;
    ASSERT_EQ(journal_.LogEntry(f, &marker), S_OK);
  }

  bool InJournal(const Recorded& r) {
    journal::SearchContents c;
    return fs::exists(r.marker) && journal_.GetSearchContents(r.marker, c) == S_OK;
  }
  bool Ranked(const Recorded& r) {
    return ::getxattr(r.path.c_str(),
                      platform::PropertySetAttributeName(ranking::kRankingFmtid).c_str(), nullptr,
                      0) >= 0;
  }
  bool Cached(const Recorded& r) {
    platform::UrlCache cache(ctx().root, ctx().clock);
    platform::CacheEntry e;
    return cache.GetEntry(r.copyUrl, e) == 0 && fs::exists(e.localFile);
  }

  ForgetSummary Run(ForgetSpan span, HRESULT expected = S_OK,
                    std::chrono::milliseconds wait = 5s) {
    Forgetter f(ctx(), wait);
    ForgetSummary summary;
    EXPECT_EQ(f.Forget(span, {}, summary), expected);
    return summary;
  }

  TempDir dir_;
  fs::path files_ = dir_.path() / "home";
  Installation install_{dir_.path() / "root", ClockAt(kNow)};
  journal::Journal journal_{ctx(), nullptr};
  bool rankable_ = true;
};

TEST_F(Forget, LastHourThenLastDayThenEverything) {
  const Recorded recent = VisitFile("recent.txt", kNow - 10 * kMinute);
  const Recorded page = VisitPage("http://example.com/recent", kNow - 20 * kMinute);
  const Recorded evening = VisitFile("evening.txt", kNow - 5 * 60 * kMinute);  // last year
  const Recorded oldFile = VisitFile("old.txt", kNow - 3.0);
  const Recorded oldPage = VisitPage("http://example.com/old", kNow - 3.0);
  if (!rankable_) GTEST_SKIP() << "files here cannot hold ranking records (no user xattrs)";

  ForgetSummary s = Run(ForgetSpan::LastHour);
  EXPECT_EQ(s.journalEntries, 2u);
  EXPECT_EQ(s.rankingRecords, 1u);
  EXPECT_EQ(s.shortcuts, 1u);
  EXPECT_EQ(s.cachedCopies, 1u);
  EXPECT_FALSE(InJournal(recent));
  EXPECT_FALSE(InJournal(page));
  EXPECT_FALSE(Ranked(recent));
  EXPECT_TRUE(fs::exists(recent.path));  // the file itself stays
  EXPECT_FALSE(fs::exists(page.path));
  EXPECT_FALSE(Cached(page));
  EXPECT_TRUE(InJournal(evening) && Ranked(evening));
  EXPECT_TRUE(InJournal(oldFile) && Ranked(oldFile));
  EXPECT_TRUE(InJournal(oldPage) && fs::exists(oldPage.path) && Cached(oldPage));

  s = Run(ForgetSpan::LastDay);
  EXPECT_EQ(s.journalEntries, 1u);
  EXPECT_EQ(s.rankingRecords, 1u);
  EXPECT_FALSE(InJournal(evening) || Ranked(evening));
  EXPECT_TRUE(InJournal(oldFile) && Ranked(oldFile));

  // The journal keeps working on a day that lost entries.
  const Recorded later = VisitFile("later.txt", kNow);
  EXPECT_TRUE(InJournal(later));

  s = Run(ForgetSpan::Everything);
  EXPECT_EQ(s.journalEntries, 3u);
  EXPECT_EQ(s.rankingRecords, 2u);
  EXPECT_EQ(s.shortcuts, 1u);
  EXPECT_EQ(s.cachedCopies, 1u);
  EXPECT_FALSE(InJournal(oldFile) || Ranked(oldFile) || InJournal(later) || Ranked(later));
  EXPECT_FALSE(fs::exists(oldPage.path) || Cached(oldPage));
  EXPECT_TRUE(s.errors.empty());
  // Nothing is left to forget.
  s = Run(ForgetSpan::Everything);
  EXPECT_EQ(s.journalEntries + s.rankingRecords + s.shortcuts + s.cachedCopies, 0u);
}

TEST_F(Forget, ADayHeldByAWriterIsReportedAndKeptWhole) {
  const Recorded recent = VisitFile("recent.txt", kNow - 10 * kMinute);
  const fs::path dayFile = fs::path(recent.marker).parent_path() / "Journal.q6d";
  journal::UniqueFd writer(::open(dayFile.c_str(), O_RDWR | O_CLOEXEC));
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(writer.get(), F_OFD_SETLK, &lock), 0);

  const ForgetSummary s = Run(ForgetSpan::LastHour, S_FALSE, 50ms);
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_EQ(s.journalEntries, 0u);
  EXPECT_TRUE(InJournal(recent));  // listed still, so running again finishes the work

  writer.Reset();
  EXPECT_EQ(Run(ForgetSpan::LastHour).journalEntries, 1u);
  EXPECT_FALSE(InJournal(recent));
}

TEST_F(Forget, CommandLineExplainsItselfAndSummarises) {
  std::ostringstream out, err;
  const std::vector<std::string_view> help{"--help"};
  EXPECT_EQ(RunQvforget(help, ctx(), out, err), kForgetExitOk);
  EXPECT_NE(out.str().find("last-hour|last-day|everything"), std::string::npos);

  for (const std::vector<std::string_view>& bad :
       {std::vector<std::string_view>{}, {"yesterday"}, {"last-hour", "everything"}}) {
    std::ostringstream o, e;
    EXPECT_EQ(RunQvforget(bad, ctx(), o, e), kForgetExitUsage);
    EXPECT_NE(e.str().find("qvforget --help"), std::string::npos);
  }

  VisitPage("http://example.com/a", kNow - kMinute);
  std::ostringstream o, e;
  const std::vector<std::string_view> hour{"last-hour"};
  EXPECT_EQ(RunQvforget(hour, ctx(), o, e), kForgetExitOk);
  EXPECT_NE(o.str().find("journal entries removed: 1 (from 1 days)"), std::string::npos)
      << o.str();
  EXPECT_NE(o.str().find("web history shortcuts removed: 1"), std::string::npos);
}

TEST_F(Forget, CommandLineClearsJournalDaysByDate) {
  const Recorded page = VisitPage("http://example.com/b", kNow - 10 * kMinute);
  const CivilDay day = LocalDayOf(kNow - 12 * kMinute);
  const std::string text =
      std::to_string(day.year) + "/" + std::to_string(day.month) + "/" + std::to_string(day.day);
  for (const std::vector<std::string_view>& bad :
       {std::vector<std::string_view>{"journal", text}, {"journal", text, "2005-02-30"},
        {"journal", "2010-01-02", "2010-01-01"}}) {
    std::ostringstream o, e;
    EXPECT_EQ(RunQvforget(bad, ctx(), o, e), kForgetExitUsage) << e.str();
  }
  EXPECT_TRUE(InJournal(page));
  std::ostringstream o, e;
  const std::vector<std::string_view> args{"journal", text, text};
  EXPECT_EQ(RunQvforget(args, ctx(), o, e), kForgetExitOk) << e.str();
  EXPECT_FALSE(InJournal(page));
  EXPECT_TRUE(fs::exists(page.path));  // only the journal is cleared this way
}

}  // namespace
}  // namespace qv::uiutils
