// A scripted session through the real tracer program, recording for real: the journal's day
// file, the ranking records in the files' extended attributes and the page's shortcut must
// hold exactly the times the tracer measured (the same script, replayed once more with
// --visits-out, prints them).
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <map>
#include <sstream>

#include "common/program_args.h"
#include "context/context.h"
#include "common/temp_dir.h"
#include "platform/browser/browser_feed.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal_entry.h"
#include "provider/journal/journal_paths.h"
#include "provider/ranking/file_ranking.h"
#include "tracer/tracer_constants.h"


namespace qv::tracer {
namespace {

namespace fs = std::filesystem;

int RunTracer(const fs::path& root, std::vector<std::string> args) {
  args.insert(args.begin(), QVTRACER_PATH);
  args.emplace_back(kStartMarker);
  // The case's programs get a runtime folder of their own: cases run side by side, and would
  // otherwise meet each other's tracer windows in the session's folder.
  const fs::path runtime = root.parent_path() / "run";
  fs::create_directories(runtime);
  const ProgramArgs run(std::move(args), root, {"XDG_RUNTIME_DIR=" + runtime.string()});
  pid_t pid = 0;
  if (posix_spawn(&pid, run.program(), nullptr, nullptr, run.argv(), run.envp()) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

struct Line {
  std::string recorder, identifier;
  std::uint64_t working = 0, active = 0;
  DATE start = 0, end = 0;
};

std::vector<Line> ReadLines(const fs::path& file) {
  std::vector<Line> out;
  std::ifstream in(file);
  std::string text;
  while (std::getline(in, text)) {
    std::vector<std::string> f;
    std::stringstream ss(text);
    std::string field;
    while (std::getline(ss, field, '\t')) f.push_back(field);
    if (f.size() < 6) continue;
    out.push_back({f[0], f[1], std::stoull(f[4]), std::stoull(f[5]), *ParseIsoDate(f[2]),
                   *ParseIsoDate(f[3])});
  }
  return out;
}

// Every journal entry: URL → (type, working seconds).
std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> JournalOf(const fs::path& root) {
  std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> out;
  for (const auto& f : fs::recursive_directory_iterator(journal::JournalRoot(root))) {
    if (f.path().filename() != journal::kDayFileName) continue;
    std::vector<std::uint8_t> image;
    if (Failed(journal::ReadDayFileImage(f.path(), image))) continue;
    journal::DayFileReader reader(image, journal::dayfile::kFileHeaderSize);
    journal::DayFileRecord rec;
    while (reader.Next(rec)) {
      platform::PropertySet ps;
      if (Failed(platform::ParsePropertySet(rec.payload, ps))) continue;
      out[ps.values[journal::kPidUrl].str] = {ps.values[journal::kPidType].ui4,
                                              ps.values[journal::kPidWorkingTime].ui4};
    }
  }
  return out;
}

TEST(RecordingEndToEnd, TheTracerProgramJournalsAndRanksWhatItMeasured) {
  TempDir dir;
  const fs::path docs = dir.path() / "docs", root = dir.path() / "root",
                 linesRoot = dir.path() / "lines";
  fs::create_directories(docs);
  const std::string report = (docs / "report.txt").string(), notes = (docs / "notes.md").string();
  std::ofstream(report) << "report";
  std::ofstream(notes) << "notes";
  const std::string page = "http://intranet.test/wiki";

  // The browser showed the page, as it would before its add-on reports the visit.
  std::string item;
  {
    ManualClock clock(*DateToFileTime(*ParseIsoDate("2026-03-02T08:59:00Z")));
    platform::UrlCache cache(root, clock);
    std::unique_ptr<platform::UrlHistory> history;
    ASSERT_EQ(platform::UrlHistory::Open(root, history), 0);
    std::vector<platform::PagePart> parts(1);
    parts[0].url = page;
    parts[0].html = "<html><title>Wiki</title>wiki text</html>";
    ASSERT_EQ(platform::BrowserFeed(cache, *history, clock).ShowPage("Wiki", parts, item), 0);
  }

  const fs::path script = dir.path() / "session.txt";
  std::ofstream(script) << "start 2026-03-02T09:00:00Z\n"
                        << "at 0 window 1 title=" << Quoted(report + " - Editor") << "\n"
                        << "at 0.5 focus 1\n"
                        << "at 1 key 1 100 0.25\n"
                        << "at 40 close 1\n"
                        << "at 41 window 2 title=" << Quoted(notes + " - Editor") << "\n"
                        << "at 41 focus 2\n"
                        << "at 42 key 2 40 0.5\n"
                        << "at 80 close 2\n"
                        << "at 81 window 9 title=\"Wiki - Browser\"\n"
                        << "at 81 visit-start 9 " << Quoted(item) << " track\n"
                        << "at 81 focus 9\n"
                        << "at 82 key 9 20 1\n"
                        << "at 110 visit-end 9 " << Quoted(page) << "\n"
                        << "at 111 visit-start 9 \"https://bank.test/\" track\n"
                        << "at 112 key 9 10 1\n"
                        << "at 125 visit-end 9 \"https://bank.test/\"\n"
                        << "at 130 shutdown\n";

  // What the tracer measures, as lines; then the same session recorded for real.
  const fs::path linesFile = dir.path() / "visits.txt";
  ASSERT_EQ(RunTracer(linesRoot, {"--script", script.string(), "--visits-out", linesFile.string()}),
            0);
  ASSERT_EQ(RunTracer(root, {"--script", script.string()}), 0);
  const auto lines = ReadLines(linesFile);
  ASSERT_EQ(lines.size(), 4u);

  Installation install(root);
  RegisterRankingClasses(install.context());
  FileRanking fr(install.context());
  const auto journal = JournalOf(root);
  for (const auto& l : lines) {
    SCOPED_TRACE(l.identifier);
    if (l.identifier.rfind("https:", 0) == 0) {
      EXPECT_EQ(journal.count(l.identifier), 0u);  // secure pages are neither journaled nor ranked
      continue;
    }
    const bool isPage = l.identifier == page;
    const std::string path = isPage ? "" : (l.identifier == "file://" + report ? report : notes);
    const std::string key = isPage ? page : path;
    ASSERT_EQ(journal.count(key), 1u);
    EXPECT_EQ(journal.at(key).first, isPage ? 1u : 0u);
    EXPECT_EQ(journal.at(key).second, l.working / 10'000'000);
    if (isPage) continue;
    VARIANT_BOOL valid = VARIANT_FALSE;
    ranking::RankingSet s;
    ASSERT_EQ(fr.GetRankingSet(&path, &valid, nullptr, &s.scope, &s.workingTime, &s.activeTime,
                               &s.visits, &s.firstVisitStart, &s.last.end, &s.last.t, &s.last.n,
                               &s.blended.end, &s.blended.t, &s.blended.n),
              S_OK);
    ASSERT_EQ(valid, VARIANT_TRUE);
    EXPECT_EQ(s.visits, 1u);
    EXPECT_EQ(s.workingTime, l.working / 10'000'000);
    EXPECT_EQ(s.activeTime, l.active / 10'000'000);
    EXPECT_EQ(s.last.n, l.working / 2'000'000);
    EXPECT_EQ(s.last.end, l.end);
    std::int32_t span = 0;
    ASSERT_EQ(ranking::ElapsedSeconds(l.start, l.end, span), S_OK);
    EXPECT_EQ(s.last.t, static_cast<std::uint32_t>(span));
  }
  // The report was typed into for 25 s: its active time shows it.
  const auto reportLine = std::find_if(lines.begin(), lines.end(), [&](const Line& l) {
    return l.identifier == "file://" + report;
  });
  ASSERT_NE(reportLine, lines.end());
  EXPECT_NEAR(reportLine->active / 1e7, 25.0, 2.0);

  // The page's shortcut carries its ranking record.
  int shortcuts = 0;
  for (const auto& f : fs::recursive_directory_iterator(root)) {
    if (f.path().extension() != ".q6w") continue;
    ++shortcuts;
    const std::string file = f.path().string();
    VARIANT_BOOL valid = VARIANT_FALSE;
    ULONG visits = 0;
    ASSERT_EQ(fr.GetRankingSet(&file, &valid, nullptr, nullptr, nullptr, nullptr, &visits, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(visits, 1u);
  }
  EXPECT_EQ(shortcuts, 1);
}

}  // namespace
}  // namespace qv::tracer
