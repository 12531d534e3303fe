// The demo session: the whole road of a visit on a built-in default. A few sample documents
// and an intranet page of its own are worked on in a scripted desktop session that the real
// tracer replays in another process; the tracer journals and ranks every visit. Then the demo
// shows what was recorded (each item with its visits, working time, activation and bar, and
// the day's journal), how activation fades as time passes, and a ranked search over it all.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "context/context.h"
#include "common/temp_dir.h"
#include "platform/browser/browser_feed.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/file_ranking.h"
#include "tracer/tracer_constants.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace qv;

struct Document {
  const char* name;
  const char* text;
};

constexpr Document kDocuments[] = {
    {"report.odt", "Quarterly report: revenue, budget and the plans for next quarter.\n"},
    {"notes.md", "Meeting notes: budget review, report deadline, who does what.\n"},
    {"budget.ods", "Budget 2027: travel, hardware, training; see the quarterly report.\n"},
    {"todo.txt", "todo: send the report, book the meeting room, water the plants\n"},
};
constexpr const char* kPageUrl = "http://intranet.example/plans";
constexpr const char* kPageTitle = "Plans for the next quarter";

// Runs a program of the build without a shell; its output goes to ours.
int RunArgs(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::cerr << "qvdemo: cannot start " << args[0] << "; build it first (scripts/demo.sh)\n";
    return -1;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class... A>
int Run(const A&... a) {
  return RunArgs(std::vector<std::string>{std::string(a)...});
}

std::string Bar(ULONG value) {
  std::string bar;
  for (ULONG i = 0; i < 25; ++i) bar += i < value / 4 ? "\u2588" : "\u00B7";
  return bar;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

// A morning's work, 70 minutes long: the report gets most of it, the notes and the intranet
// page some, the budget a short look, the todo list a few glances.
std::string SessionScript(const fs::path& docs, const std::string& pageItem, DATE start) {
  std::vector<std::pair<int, std::string>> lines;  // (second, step)
  auto at = [&](int second, const std::string& step) { lines.emplace_back(second, step); };
  at(0, "window 9 title=\"Intranet - Browser\" rect=0,0,1600,1000");
  // (minute, window, key presses)
  struct Step {
    int minute, window, keys;
  };
  // Each document is opened in a window of its own for a stretch of work, then closed; the
  // browser window stays, and its page is reported by the browser add-on.
  constexpr Step kSteps[] = {{1, 1, 400}, {14, 4, 8},  {15, 2, 150}, {25, 1, 600},
                             {40, 9, 30}, {48, 3, 40}, {52, 4, 5},   {53, 1, 300},
                             {66, 2, 80}, {69, 4, 4},  {70, 0, 0}};
  int next = 10;
  for (std::size_t i = 0; i + 1 < std::size(kSteps); ++i) {
    const Step& st = kSteps[i];
    const int second = st.minute * 60, until = kSteps[i + 1].minute * 60 - 1;
    int window = 9;
    if (st.window == 9) {
      at(second, "visit-start 9 " + Quoted(pageItem) + " track");
      at(until, "visit-end 9 " + Quoted(kPageUrl));
    } else {
      window = next++;
      const fs::path file = docs / kDocuments[st.window - 1].name;
      at(second, "window " + std::to_string(window) +
                     " title=" + Quoted(file.string() + " - Editor") + " rect=0,0,1600,1000");
      at(until, "close " + std::to_string(window));
    }
    at(second, "focus " + std::to_string(window));
    at(second + 1, "key " + std::to_string(window) + " " + std::to_string(st.keys) + " 1.5");
  }
  at(71 * 60, "shutdown");
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::ostringstream s;
  s << "start " << FormatIsoDate(start) << "\n";
  for (const auto& [second, step] : lines) s << "at " << second << " " << step << "\n";
  return s.str();
}

// A catalog over the documents with the ranking properties cached, for the indexer to crawl.
// The documents' catalog, and the web history's, whose visited pages are read through their
// cached copies; both cache the ranking properties.
HRESULT SetUpCatalog(Context& ctx, const fs::path& root, const fs::path& docs) {
  namespace ix = platform::indexing;
  ix::CatalogAdmin admin(ctx.registry, root);
  const fs::path webHistory =
      platform::KnownFolderPath(root, platform::KnownFolder::LocalAppData) / "Quillon" /
      "WebHistory";
  const std::pair<const char*, fs::path> catalogs[] = {{"System", docs},
                                                       {"QuillonWebHistory", webHistory}};
  for (const auto& [name, scope] : catalogs) {
    if (const HRESULT hr = admin.AddCatalog(name, root / "catalogs" / name); Failed(hr)) return hr;
    if (const HRESULT hr = admin.AddScope(name, scope.string(), false); Failed(hr)) return hr;
    for (const auto& row : cihelper::kDocumentCatalogProperties) {
      const std::int32_t rc = ctx.registry.SetValue(platform::Hive::LocalMachine,
                                                    ix::PropertiesKey(name), row.first,
                                                    platform::RegValue::Sz(row.second));
      if (rc != 0) return HresultFromWin32(rc);
    }
  }
  return S_OK;
}

struct Row {
  std::string name;
  ULONG visits = 0, working = 0;
  ranking::RankingSet set;
};

std::vector<Row> RankedItems(const Context& ctx, const fs::path& root, const fs::path& docs) {
  std::vector<Row> rows;
  FileRanking ranking(ctx);
  auto collect = [&](const fs::path& file, std::string name) {
    const std::string path = file.string();
    Row r;
    r.name = std::move(name);
    VARIANT_BOOL valid = VARIANT_FALSE;
    if (Succeeded(ranking.GetRankingSet(&path, &valid, nullptr, &r.set.scope, &r.set.workingTime,
                                        &r.set.activeTime, &r.set.visits, &r.set.firstVisitStart,
                                        &r.set.last.end, &r.set.last.t, &r.set.last.n,
                                        &r.set.blended.end, &r.set.blended.t, &r.set.blended.n)) &&
        valid == VARIANT_TRUE) {
      rows.push_back(r);
    }
  };
  for (const auto& d : kDocuments) collect(docs / d.name, d.name);
  for (const auto& f : fs::recursive_directory_iterator(root)) {
    if (f.path().extension() == ".q6w") collect(f.path(), kPageUrl);
  }
  return rows;
}

// The items by activation now and as time passes.
void ShowRanking(const Context& ctx, std::vector<Row> rows, DATE now) {
  BaseActivation activation(ctx);
  struct Moment {
    const char* label;
    double days;
  };
  constexpr Moment kMoments[] = {{"now", 0}, {"a day later", 1}, {"a month later", 30}};
  std::cout << "\n2. What was recorded, ranked by activation:\n";
  for (const auto& m : kMoments) {
    const DATE at = now + m.days;
    auto act = [&](const Row& r) {
      float a = 0;
      activation.GetActivation(at, r.set.last.end, r.set.last.n, r.set.last.t, r.set.blended.end,
                               r.set.blended.n, r.set.blended.t, &a);
      return a;
    };
    std::sort(rows.begin(), rows.end(), [&](const Row& x, const Row& y) { return act(x) > act(y); });
    std::cout << "\n   " << m.label << " (" << FormatIsoDate(at) << "):\n";
    std::printf("   %-30s %6s %8s %10s  %-25s\n", "item", "visits", "working", "activation",
                "bar");
    for (const auto& r : rows) {
      const float a = act(r);
      ULONG bar = 0;  // left alone for activations too small to show
      activation.GetActivationScale(a, &bar);
      std::printf("   %-30s %6u %7us %10.4f  %s %3u\n", r.name.c_str(), r.set.visits,
                  r.set.workingTime, a, Bar(bar).c_str(), bar);
    }
  }

}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << "Usage: qvdemo\nRuns the built-in demo session of Quillon Vesper in a "
                   "temporary folder: a scripted desktop\nsession replayed through the real "
                   "tracer, then what was recorded and a ranked search.\n";
      return 0;
    }
    std::cerr << "qvdemo: unknown argument '" << a << "'; try --help\n";
    return 1;
  }
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();

  TempDir dir;
  const fs::path root = dir.path() / "root";
  const fs::path docs = dir.path() / "Documents";
  fs::create_directories(docs);
  for (const auto& d : kDocuments) std::ofstream(docs / d.name) << d.text;
  ::setenv("QV_ROOT", root.c_str(), 1);  // for the programs the demo starts

  Installation installation(root);
  Context& ctx = installation.context();
  RegisterRankingClasses(ctx);
  const DATE now = ctx.clock.NowDate();
  const DATE sessionStart = now - 76.0 / 1440;  // the session ended five minutes ago

  std::cout << "Quillon Vesper demo session\n  documents: " << docs.string()
            << "\n  state:     " << root.string() << "\n\n";

  // The browser shows the intranet page: its copy goes to the cache, its title to the history.
  std::string pageItem;
  {
    platform::UrlCache cache(root, ctx.clock);
    std::unique_ptr<platform::UrlHistory> history;
    std::vector<platform::PagePart> parts(1);
    parts[0].url = kPageUrl;
    parts[0].html = std::string("<html><head><title>") + kPageTitle +
                    "</title></head><body>Budget and report plans for the next quarter.</body>"
                    "</html>";
    if (platform::UrlHistory::Open(root, history) != 0 ||
        platform::BrowserFeed(cache, *history, ctx.clock).ShowPage(kPageTitle, parts, pageItem) !=
            0) {
      std::cerr << "qvdemo: the browser feed could not store the page under " << root << "\n";
      return 2;
    }
  }

  const fs::path script = dir.path() / "session.txt";
  std::ofstream(script) << SessionScript(docs, pageItem, sessionStart);
  std::cout << "1. The tracer replays a 71-minute desktop session (" << script.filename().string()
            << "):\n   windows appear, get the focus and receive keys; an intranet page is read.\n"
            << std::flush;
  if (Run((bin / "QvTracer").string(), "--script", script.string(), tracer::kStartMarker) != 0) {
    std::cerr << "qvdemo: the tracer failed; see " << (root / "eventlog").string() << "\n";
    return 2;
  }

  // What the tracer recorded: ranking records on the files and on the page's shortcut.
  const std::vector<Row> rows = RankedItems(ctx, root, docs);
  if (rows.size() != std::size(kDocuments) + 1) {
    std::cerr << "qvdemo: expected " << std::size(kDocuments) + 1 << " ranked items, found "
              << rows.size() << "; see " << (root / "eventlog" / "Application.log").string()
              << "\n";
    return 2;
  }
  ShowRanking(ctx, rows, now);

  std::cout << "\n3. The day's journal (qvjournal list):\n" << std::flush;
  const CivilDay day = LocalDayOf(sessionStart);
  char dayText[16];
  std::snprintf(dayText, sizeof dayText, "%04d-%02d-%02d", day.year, day.month, day.day);
  Run((bin / "qvjournal").string(), "list", dayText);

  if (Failed(SetUpCatalog(ctx, root, docs))) {
    std::cerr << "qvdemo: the catalog could not be set up under " << root << "\n";
    return 2;
  }
  std::cout << "\n4. The indexer crawls the documents and the visited pages (qvindex rescan "
               "System, QuillonWebHistory):\n"
            << std::flush;
  if (Run((bin / "qvindex").string(), "rescan", "System") != 0) return 2;
  if (Run((bin / "qvindex").string(), "rescan", "QuillonWebHistory") != 0) return 2;
  std::cout << "\n5. A search, ranked by activation (QvSeek --print budget); the intranet page "
               "is found by the text of its copy:\n"
            << std::flush;
  if (Run((bin / "QvSeek").string(), "--print", "budget", "--catalogs", "files,web") != 0) {
    return 2;
  }
  std::cout << "\nDone. Every number above came from the real tracer, journal, ranking records "
               "and catalog.\n";
  return 0;
}
