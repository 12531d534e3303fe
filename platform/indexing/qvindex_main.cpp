// qvindex: look after the catalogs from the command line.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/tool_args.h"
#include "context/context.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/readers/document_filter.h"
#include "provider/filters/filter_registration.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/indexer.h"
#include "platform/indexing/query_executor.h"
#include "service/QvRankingSvc/catalog_config.h"
#include "service/QvRankingSvc/catalog_requests.h"

namespace {

namespace ix = qv::platform::indexing;

constexpr const char* kUsage =
    "usage: qvindex [--root DIR] COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  verify [FOLDER]                 create or repair the standard catalogs System (the\n"
    "                                  home folder), QuillonWebHistory and QuillonJournal\n"
    "                                  with their ranking properties, for the data folder\n"
    "                                  FOLDER (default: <root>/LocalAppData)\n"
    "  status                          every catalog: documents, to filter, state\n"
    "  add-catalog NAME [LOCATION]     register a catalog (default location:\n"
    "                                  <root>/CommonAppData/Quillon/Catalogs/NAME)\n"
    "  add-scope CATALOG FOLDER [--exclude]\n"
    "                                  index FOLDER in CATALOG (or keep it out)\n"
    "  remove-scope CATALOG FOLDER     stop indexing FOLDER\n"
    "  rescan CATALOG [FOLDER] [--full]\n"
    "                                  crawl again (only FOLDER when given), showing\n"
    "                                  progress (through the service when it runs, in this\n"
    "                                  process otherwise); --full filters every document\n"
    "                                  again, not only the changed ones\n"
    "  query [--max N] TEXT            run a query text and print the rows\n"
    "  start | stop                    start or stop the indexing service\n"
    "\n"
    "The root defaults to QV_ROOT. Exit codes: 0 success, 1 usage, 2 failure.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "qvindex: %s\n\n%s", problem.c_str(), kUsage);
  return 1;
}

int Fail(const char* what, qv::HRESULT hr, const std::string& detail = {}) {
  std::fprintf(stderr, "qvindex: %s failed: %s %s%s%s\n", what, qv::FormatHresult(hr).c_str(),
               qv::SystemMessage(hr).c_str(), detail.empty() ? "" : "\n  ", detail.c_str());
  return 2;
}

const char* StateText(const ix::CatalogState& s) {
  if (s.eState & ix::CI_STATE_SCANNING) return "scanning";
  if (s.eState & ix::CI_STATE_RECOVERING) return "recovering";
  if (s.eState & ix::CI_STATE_CONTENT_SCAN_REQUIRED) return "content scan required";
  if (s.cDocuments) return "filtering";
  return "up to date";
}

// What keeps the catalog from being complete, with what to do about it.
void PrintProblems(const std::string& name, const ix::CatalogProblems& p) {
  if (p.unreadableTotal > 0) {
    std::printf("%s: %lld folder(s) cannot be read; their files are not indexed. Give read "
                "access, then run 'qvindex rescan %s FOLDER':\n",
                name.c_str(), static_cast<long long>(p.unreadableTotal), name.c_str());
    for (const auto& line : p.unreadable) {
      const auto tab = line.find('\t');
      std::printf("  %s (%s)\n", line.substr(0, tab).c_str(),
                  tab == std::string::npos ? "unreadable" : line.substr(tab + 1).c_str());
    }
    if (p.unreadableTotal > static_cast<std::int64_t>(p.unreadable.size())) {
      std::printf("  ... and %lld more\n",
                  static_cast<long long>(p.unreadableTotal - p.unreadable.size()));
    }
  }
  if (!p.unwatched.empty()) {
    std::printf("%s: changes from %s on are not followed: the inotify watch limit is reached. "
                "Raise fs.inotify.max_user_watches (sysctl), then 'qvindex stop' and "
                "'qvindex start'.\n",
                name.c_str(), p.unwatched.c_str());
  }
}

int Status(ix::CatalogAdmin& admin) {
  std::vector<std::string> names;
  const qv::HRESULT hr = admin.ListCatalogs(names);
  if (qv::Failed(hr)) return Fail("listing catalogs", hr);
  std::printf("service: %s\n", admin.IsRunning() ? "running" : "stopped");
  std::printf("%-28s %10s %10s  %-22s %s\n", "catalog", "documents", "to filter", "state",
              "location");
  std::vector<std::pair<std::string, ix::CatalogProblems>> found;
  for (const auto& n : names) {
    ix::CatalogState s;
    std::filesystem::path location;
    admin.GetLocation(n, location);
    bool stopped = false;
    admin.IsCatalogStopped(n, stopped);
    if (qv::Failed(admin.GetState(n, s))) {
      std::printf("%-28s %10s %10s  %-22s %s\n", n.c_str(), "", "", "unavailable",
                  location.c_str());
      continue;
    }
    ix::CatalogProblems problems;
    admin.GetProblems(n, problems);
    std::string state = stopped ? "stopped" : StateText(s);
    if (problems.any() && state == "up to date") state = "incomplete (see below)";
    std::printf("%-28s %10u %10u  %-22s %s\n", n.c_str(), s.cTotalDocuments, s.cDocuments,
                state.c_str(), location.c_str());
    if (problems.any()) found.emplace_back(n, std::move(problems));
  }
  for (const auto& [n, p] : found) PrintProblems(n, p);
  return 0;
}

int Rescan(qv::Context& ctx, ix::CatalogAdmin& admin, const std::string& catalog,
           const std::string& folder, bool full) {
  if (!folder.empty()) {
    std::vector<ix::ScopeEntry> scopes;
    const qv::HRESULT hr = admin.GetScopes(catalog, scopes);
    if (qv::Failed(hr)) return Fail("reading the catalog's scopes (is it registered?)", hr);
    const auto rules = std::make_shared<const ix::ExclusionRules>(
        ix::ExclusionRules::Load(ctx.registry, admin.root()));
    if (!ix::ScopeSet(scopes, rules).Covers(ix::NormalizeScopePath(folder))) {
      std::fprintf(stderr,
                   "qvindex: %s is not indexed by %s (outside its scopes, excluded or "
                   "hidden); add it with 'qvindex add-scope %s FOLDER'\n",
                   folder.c_str(), catalog.c_str(), catalog.c_str());
      return 2;
    }
  }
  if (admin.IsRunning()) {
    qv::HRESULT hr = admin.Rescan(catalog, folder, full);
    if (qv::Failed(hr)) return Fail("queueing the rescan", hr);
    std::printf("rescan queued with the running service\n");
    for (int idle = 0; idle < 3;) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      ix::CatalogState s;
      if (qv::Failed(admin.GetState(catalog, s))) break;
      std::printf("%s: %u documents, %u to filter, %s\n", catalog.c_str(), s.cTotalDocuments,
                  s.cDocuments, StateText(s));
      std::fflush(stdout);
      idle = (s.cDocuments == 0 && !(s.eState & ix::CI_STATE_SCANNING)) ? idle + 1 : 0;
    }
    return 0;
  }
  ix::RegisterBuiltinFilterClasses(ctx.classes);
  ix::RegisterBuiltinFilterExtensions(ctx.registry);
  // PDF, office documents, EPUB and RTF, read in this process for now.
  qv::platform::readers::RegisterDocumentFilterClass(ctx.classes);
  qv::platform::readers::RegisterDocumentFilterExtensions(ctx.registry);
  qv::filters::RegisterIndexingFilters(ctx);
  auto last = std::chrono::steady_clock::now();
  ix::IndexerOptions options;
  options.progress = [&](const ix::IndexProgress& p) {
    const auto now = std::chrono::steady_clock::now();
    if (p.phase != "idle" && now - last < std::chrono::milliseconds(500)) return;
    last = now;
    std::printf("%s: %s, %lld files seen, %lld filtered, %lld to filter\n", p.catalog.c_str(),
                p.phase.c_str(), static_cast<long long>(p.scanned),
                static_cast<long long>(p.filtered), static_cast<long long>(p.pending));
    std::fflush(stdout);
  };
  ix::CatalogIndexer indexer(ctx, admin, catalog, options);
  qv::HRESULT hr = indexer.Open();
  if (qv::Failed(hr)) return Fail("opening the catalog", hr);
  hr = indexer.Rescan(folder, full);
  if (qv::Failed(hr)) return Fail("the rescan", hr);
  return 0;
}

// The configuration check the ranking service runs, here in process, with what it did.
int Verify(qv::Context& ctx, const std::string& folder) {
  namespace svc = qv::service;
  svc::RegisterCatalogClasses(ctx);
  const svc::Caller self{::geteuid(), ::getegid(), ::getpid()};
  svc::CatalogRequest request;
  qv::HRESULT hr = svc::MakeConfigRequest(ctx, folder, false, self, request);
  if (qv::Failed(hr)) {
    return Fail("checking the folder", hr,
                "give a folder by its real path (no links, '.' or '..') inside your home or " +
                    ctx.root.string());
  }
  svc::ConfigReport report;
  hr = svc::VerifyConfiguration(ctx, request.folder, false, report);
  if (qv::Failed(hr)) return Fail("opening the catalog administration", hr);
  bool failed = false, changed = false;
  for (const auto& c : report.catalogs) {
    std::printf("%-20s %-26s %s\n", c.name.c_str(), std::string(svc::OutcomeText(c.result)).c_str(),
                c.scope.empty() ? "(home folder)" : c.scope.c_str());
    if (c.result == svc::CatalogOutcome::Result::Failed) {
      failed = true;
      std::printf("  %s %s\n", qv::FormatHresult(c.hr).c_str(), qv::SystemMessage(c.hr).c_str());
    }
    if (c.result == svc::CatalogOutcome::Result::Created ||
        c.result == svc::CatalogOutcome::Result::Repaired) {
      changed = true;
    }
  }
  if (report.restarted) {
    std::printf("the indexing service was restarted and indexes the changed catalogs\n");
  } else if (qv::Failed(report.restartResult)) {
    std::printf("the indexing service could not be restarted (%s); run 'qvindex start'\n",
                qv::FormatHresult(report.restartResult).c_str());
  } else if (changed) {
    std::printf("index them with 'qvindex rescan CATALOG' or keep them current with "
                "'qvindex start'\n");
  }
  if (failed) {
    std::fprintf(stderr, "qvindex: some catalogs could not be set up; the reasons are above "
                         "and in the event log\n");
    return 2;
  }
  return 0;
}

int Query(ix::CatalogAdmin& admin, const std::string& text, std::size_t maxRows) {
  ix::QueryExecutor exec(admin);
  ix::QueryOptions opt;
  opt.maxRows = maxRows;
  ix::ResultSet rs;
  std::string error;
  const auto t0 = std::chrono::steady_clock::now();
  const qv::HRESULT hr = exec.Execute(text, opt, rs, error);
  const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0);
  if (qv::Failed(hr)) return Fail("the query", hr, error);
  for (std::size_t i = 0; i < rs.columns.size(); ++i) {
    std::printf("%s%s", i ? "\t" : "", rs.columns[i].c_str());
  }
  std::printf("\n");
  for (const auto& row : rs.Rows()) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      std::printf("%s%s", i ? "\t" : "", row[i].ToString().c_str());
    }
    std::printf("\n");
  }
  std::fprintf(stderr, "%zu rows in %.2f ms\n", rs.RowCount(), ms.count());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string> args(argv + 1, argv + argc);
  std::filesystem::path root = qv::platform::DefaultRoot();
  if (!args.empty() && args[0] == "--root") {
    if (args.size() < 2 || args[1].empty()) return Usage("--root needs a folder");
    root = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  const std::string& cmd = args[0];
  // The FOLDER (or LOCATION) argument, checked before anything is touched: an empty one
  // names no folder at all.
  std::string folder;
  const bool takesFolder =
      cmd == "add-catalog" || cmd == "add-scope" || cmd == "remove-scope";
  if (takesFolder && args.size() >= 3) {
    const auto path = qv::AbsolutePathArg(args[2]);
    if (!path) return Usage("'" + args[2] + "' is not a folder; give a folder's path");
    folder = path->string();
  }
  qv::Installation install(root);
  auto& ctx = install.context();
  ix::CatalogAdmin admin(ctx.registry, root);
  qv::HRESULT hr = qv::S_OK;
  if (cmd == "status" && args.size() == 1) return Status(admin);
  if (cmd == "verify" && args.size() <= 2) {
    std::string where =
        qv::platform::KnownFolderPath(root, qv::platform::KnownFolder::LocalAppData)
            .lexically_normal()
            .string();
    if (args.size() == 2) {
      const auto path = qv::AbsolutePathArg(args[1]);
      if (!path) return Usage("'" + args[1] + "' is not a folder; give a folder's path");
      where = path->string();
    }
    return Verify(ctx, where);
  }
  if (cmd == "add-catalog" && (args.size() == 2 || args.size() == 3)) {
    const std::filesystem::path location =
        args.size() == 3 ? std::filesystem::path(folder)
                         : root / "CommonAppData" / "Quillon" / "Catalogs" / args[1];
    hr = admin.AddCatalog(args[1], location);
    return qv::Failed(hr) ? Fail("adding the catalog (names are plain: no '/' or '..')", hr) : 0;
  }
  if (cmd == "add-scope" && (args.size() == 3 || (args.size() == 4 && args[3] == "--exclude"))) {
    hr = admin.AddScope(args[1], folder, args.size() == 4);
    return qv::Failed(hr) ? Fail("adding the scope (is the catalog registered?)", hr) : 0;
  }
  if (cmd == "remove-scope" && args.size() == 3) {
    hr = admin.RemoveScope(args[1], folder);
    return qv::Failed(hr) ? Fail("removing the scope", hr) : 0;
  }
  if (cmd == "rescan" && args.size() >= 2) {
    bool full = false;
    std::vector<std::string> rest;
    for (std::size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "--full") {
        full = true;
      } else {
        rest.push_back(args[i]);
      }
    }
    if (rest.size() <= 1) {
      std::string where;
      if (!rest.empty()) {
        const auto path = qv::AbsolutePathArg(rest[0]);
        if (!path) return Usage("'" + rest[0] + "' is not a folder; give a folder's path");
        where = path->string();
      }
      return Rescan(ctx, admin, args[1], where, full);
    }
  }
  if (cmd == "query" && args.size() >= 2) {
    std::size_t max = 0;
    std::size_t at = 1;
    if (args[1] == "--max") {
      const auto n = args.size() >= 3 ? qv::ParseWholeNumber(args[2], SIZE_MAX) : std::nullopt;
      if (!n) return Usage("--max takes a whole number of rows, like --max 20");
      max = static_cast<std::size_t>(*n);
      at = 3;
    }
    if (at + 1 != args.size()) return Usage("query takes one TEXT (quote it)");
    return Query(admin, args[at], max);
  }
  if (cmd == "start" && args.size() == 1) {
    hr = admin.Start();
    return qv::Failed(hr) ? Fail("starting the service (is qvindexer beside qvindex?)", hr) : 0;
  }
  if (cmd == "stop" && args.size() == 1) {
    hr = admin.Stop();
    return qv::Failed(hr) ? Fail("stopping the service", hr) : 0;
  }
  return Usage("unknown command or wrong arguments for '" + cmd + "'");
}
