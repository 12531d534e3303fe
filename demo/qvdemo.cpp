// The demo session: the whole road of a visit on a built-in default. A few sample documents
// and an intranet page of its own are worked on in a scripted desktop session that the real
// tracer replays in another process; the tracer journals and ranks every visit. Then the demo
// shows what was recorded (each item with its visits, working time, activation and bar, and
// the day's journal), how activation fades as time passes, and a ranked search over it all.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/scope_hash.h"
#include "context/context.h"
#include "common/temp_dir.h"
#include "mail/QvOutlookAddIn/mail_addin_runtime.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "mail/QvOutlookProxy/outlook_proxy.h"
#include "platform/mail/maildir_store.h"
#include "platform/mail/sim_mail_client.h"
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

constexpr Document kDocuments[] = {  // plain text, so that each is searched by its words
    {"report.txt", "Quarterly report: revenue, budget and the plans for next quarter.\n"},
    {"notes.md", "Meeting notes: budget review, report deadline, who does what.\n"},
    {"budget.csv", "Budget 2027: travel, hardware, training; see the quarterly report.\n"},
    {"todo.txt", "todo: send the report, book the meeting room, water the plants\n"},
};
struct Mail {
  const char* subject;
  const char* body;
};
// Two mails in the Inbox, both read during the session; the search looks for a word only the
// first one's body holds.
constexpr Mail kMails[] = {
    {"Budget meeting moved", "The budget meeting moves to the lighthouse room on Thursday.\n"},
    {"Training dates", "The hardware training runs in March; sign up by Friday.\n"},
};
constexpr const char* kMailWord = "lighthouse";

std::string MailText(const Mail& m) {
  return std::string("From: Ann Example <ann@example.org>\r\nTo: me@example.org\r\nSubject: ") +
         m.subject + "\r\nDate: Mon, 07 Dec 2026 08:00:00 +0000\r\n\r\n" + m.body;
}

constexpr const char* kPageUrl = "http://intranet.example/plans";
constexpr const char* kPageTitle = "Plans for the next quarter";

// Starts a program of the build without a shell; its output goes to ours. -1 when it
// cannot start.
pid_t Start(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::cerr << "qvdemo: cannot start " << args[0] << "; build it first (scripts/demo.sh)\n";
    return -1;
  }
  return pid;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Runs a program of the build to its end.
int RunArgs(const std::vector<std::string>& args) {
  const pid_t pid = Start(args);
  if (pid < 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return ExitCode(status);
}

// Runs a program while the mail client's main thread goes on serving the add-in's calls.
int RunPumping(platform::mail::SimMailClient& client, const std::vector<std::string>& args) {
  const pid_t pid = Start(args);
  if (pid < 0) return -1;
  int status = 0;
  bool exited = false;
  client.PumpUntil(
      [&] {
        exited = exited || ::waitpid(pid, &status, WNOHANG) == pid;
        return exited;
      },
      std::chrono::minutes(10));
  if (!exited) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  return ExitCode(status);
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

// A morning's work, 74 minutes long: the report gets most of it, the notes and the intranet
// page some, the budget a short look, the todo list a few glances, and two mails at the end.
std::string SessionScript(const fs::path& docs, const std::string& pageItem,
                          const std::vector<std::string>& mailItems, DATE start) {
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
  // Then the two mails are read in the mail client, a minute and a half each.
  int second = 70 * 60;
  for (std::size_t i = 0; i < mailItems.size(); ++i, second += 90) {
    const std::string w = std::to_string(20 + i);
    at(second, "window " + w + " title=" + Quoted(std::string(kMails[i].subject) + " - Message") +
                   " rect=0,0,1600,1000");
    at(second, "visit-start " + w + " " + Quoted(mailItems[i]) + " track");
    at(second, "focus " + w);
    at(second + 1, "key " + w + " 20 1.5");
    at(second + 89, "visit-end " + w + " " + Quoted(mailItems[i]));
    at(second + 89, "close " + w);
  }
  at(second + 60, "shutdown");
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::ostringstream s;
  s << "start " << FormatIsoDate(start) << "\n";
  for (const auto& [second, step] : lines) s << "at " << second << " " << step << "\n";
  return s.str();
}

// One catalog over one folder, caching the properties the search reads.
HRESULT AddCatalog(Context& ctx, platform::indexing::CatalogAdmin& admin, const std::string& name,
                   const fs::path& location, const fs::path& scope) {
  if (const HRESULT hr = admin.AddCatalog(name, location); Failed(hr)) return hr;
  if (const HRESULT hr = admin.AddScope(name, scope.string(), false); Failed(hr)) return hr;
  for (const auto& row : cihelper::kDocumentCatalogProperties) {
    const std::int32_t rc = ctx.registry.SetValue(platform::Hive::LocalMachine,
                                                  platform::indexing::PropertiesKey(name),
                                                  row.first, platform::RegValue::Sz(row.second));
    if (rc != 0) return HresultFromWin32(rc);
  }
  return S_OK;
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
    if (const HRESULT hr = AddCatalog(ctx, admin, name, root / "catalogs" / name, scope);
        Failed(hr)) {
      return hr;
    }
  }
  return S_OK;
}

// The mail catalog of the store, over its shortcut folder, named as the search looks for it.
HRESULT SetUpMailCatalog(Context& ctx, const fs::path& root, const std::string& name,
                         const fs::path& shortcuts) {
  namespace ix = platform::indexing;
  ix::CatalogAdmin admin(ctx.registry, root);
  return AddCatalog(ctx, admin, name, root / "catalogs" / "mail", shortcuts);
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
  std::optional<fs::path> keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << "Usage: qvdemo [--keep DIR]\nRuns the built-in demo session of Quillon Vesper in "
                   "a temporary folder: a scripted desktop\nsession replayed through the real "
                   "tracer (documents, an intranet page and two mails read\nin a scripted mail "
                   "client), then what was recorded and ranked searches.\n"
                   "  --keep DIR   work in DIR (made if missing) and keep it afterwards: DIR/root "
                   "is the\n               state (use it as QV_ROOT with the tools), "
                   "DIR/Documents and DIR/Mail the\n               user's files\n";
      return 0;
    }
    if (a == "--keep") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::cerr << "qvdemo: --keep needs a DIR; try --help\n";
        return 1;
      }
      keep = fs::absolute(argv[++i]);
      continue;
    }
    std::cerr << "qvdemo: unknown argument '" << a << "'; try --help\n";
    return 1;
  }
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();

  std::optional<TempDir> temp;
  fs::path base;
  if (keep) {
    std::error_code ec;
    fs::create_directories(*keep, ec);
    if (ec || !fs::is_directory(*keep) || !fs::is_empty(*keep)) {
      std::cerr << "qvdemo: " << keep->string()
                << " must be a new or empty folder; choose another with --keep\n";
      return 1;
    }
    fs::permissions(*keep, fs::perms::owner_all, fs::perm_options::replace, ec);
    base = *keep;
  } else {
    temp.emplace();
    base = temp->path();
  }
  const fs::path root = base / "root";
  const fs::path docs = base / "Documents";
  fs::create_directories(docs);
  for (const auto& d : kDocuments) std::ofstream(docs / d.name) << d.text;
  ::setenv("QV_ROOT", root.c_str(), 1);  // for the programs the demo starts
  // The demo's programs meet in a session folder of their own, never a running session's.
  const fs::path runtime = base / "run";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

  Installation installation(root);
  Context& ctx = installation.context();
  RegisterRankingClasses(ctx);
  const DATE now = ctx.clock.NowDate();
  const DATE sessionStart = now - 79.0 / 1440;  // the session ended five minutes ago

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

  // The mail client: a Maildir store with two mails, and the mail add-in serving its ranking
  // object and its store's scope (the mail proxy runs in this process).
  namespace pm = platform::mail;
  const fs::path mailRoot = base / "Mail";
  std::unique_ptr<pm::MaildirStore> maildir;
  pm::EntryId inbox;
  std::vector<pm::EntryId> mailIds;
  if (Failed(pm::MaildirStore::Open(mailRoot, "Personal", ctx.clock, maildir)) ||
      Failed(maildir->CreateDefaultFolders()) ||
      Failed(maildir->DefaultFolder(pm::FolderType::Inbox, inbox))) {
    std::cerr << "qvdemo: the mail store could not be made at " << mailRoot << "\n";
    return 2;
  }
  for (const auto& m : kMails) {
    pm::EntryId id;
    if (Failed(maildir->Deliver(inbox, MailText(m), id))) {
      std::cerr << "qvdemo: a mail could not be delivered to " << mailRoot << "\n";
      return 2;
    }
    mailIds.push_back(id);
  }
  std::vector<std::string> mailItems;
  for (const auto& id : mailIds) {
    mailItems.push_back(std::string(mail::kMailItemPrefix) + mail::addin::HexUpper(id));
  }
  ManualClock clientClock(ctx.clock.Now());
  platform::SimDesktop desktop;
  pm::SimMailClient client(desktop, clientClock);
  pm::MessageStore* mailStore = client.AddStore(std::move(maildir));
  fs::path rotFolder;
  if (Failed(platform::SessionRunningObjectsFolder(rotFolder))) {
    std::cerr << "qvdemo: the session folder " << runtime << " cannot be used\n";
    return 2;
  }
  auto table = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{rotFolder, ::getuid(), {}});
  mail::OutlookProxy proxy(ctx, table, mail::LogonSessionId());
  mail::addin::MailAddInRuntime addIn(
      ctx, client, table, [&client](std::function<void()> w) { client.Post(std::move(w)); },
      mail::addin::ScopeRegistrar{
          [&proxy](std::string_view d, std::uint32_t* c) { return proxy.AddScope(d, c); },
          [&proxy](std::uint32_t c) { return proxy.RemoveScope(c); }},
      mail::addin::MailAddInOptions{});
  if (Failed(addIn.Start())) {
    std::cerr << "qvdemo: the mail add-in could not serve its ranking object\n";
    return 2;
  }
  addIn.RunWalks();

  const fs::path script = base / "session.txt";
  std::ofstream(script) << SessionScript(docs, pageItem, mailItems, sessionStart);
  std::cout << "1. The tracer replays a 74-minute desktop session (" << script.filename().string()
            << "):\n   windows appear, get the focus and receive keys; an intranet page and two "
               "mails are read.\n"
            << std::flush;
  if (RunPumping(client, {(bin / "QvTracer").string(), "--script", script.string(),
                          std::string(tracer::kStartMarker)}) != 0) {
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

  // The mails' ranking sets, parked in their shortcuts by the tracer, go into the messages.
  for (const auto& store : addIn.stores()) store->ResyncDir(true, 1000);
  char mailCatalog[48];
  std::snprintf(mailCatalog, sizeof mailCatalog, "Quillon_%x_%x",
                ScopeHash("S-1-22-1-" + std::to_string(::getuid())),
                mail::addin::StoreNumber(mailStore->storeEntryId()));
  if (Failed(SetUpMailCatalog(ctx, root, mailCatalog, addIn.stores()[0]->directory()))) {
    std::cerr << "qvdemo: the mail catalog could not be set up under " << root << "\n";
    return 2;
  }
  std::cout << "\n6. The indexer crawls the mail (qvindex rescan " << mailCatalog
            << "); the bodies come from the mail client through the mail proxy:\n"
            << std::flush;
  if (RunPumping(client, {(bin / "qvindex").string(), "rescan", mailCatalog}) != 0) return 2;
  std::cout << "\n7. A mail search (QvSeek --print " << kMailWord
            << " --catalogs email); the mail is found by a word of its body:\n"
            << std::flush;
  if (Run((bin / "QvSeek").string(), "--print", kMailWord, "--catalogs", "email") != 0) return 2;
  std::cout << "\nDone. Every number above came from the real tracer, journal, ranking records "
               "and catalog.\n";
  if (keep) {
    std::cout << "Kept in " << base.string() << ": go on with QV_ROOT=" << root.string()
              << " and the tools (QvSeek, qvjournal, qvrank).\n";
  }
  return 0;
}
