#include "client/qvseek_cli.h"

#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "client/command_line.h"
#include "client/print_client.h"
#include "client/print_server.h"
#include "client/print_view.h"
#include "client/result_columns.h"
#include "client/search_run.h"
#include "context/language_module.h"
#include "platform/indexing/catalog_admin.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvRankingSvc/catalog_config.h"

namespace qv::client {
namespace {

namespace ix = platform::indexing;

constexpr const char* kUsage =
    "usage: QvSeek [/q \"&q=QUERY&ct=Files,WebHistory,Email,Journal...\"]\n"
    "       QvSeek --screenshot FILE.png [QUERY]\n"
    "       QvSeek --print [QUERY] [options]\n"
    "       QvSeek --print /q \"&q=QUERY&ct=Files,WebHistory,Email[&exn=1][&sys=1][&dd=1]\"\n"
    "       QvSeek --serve [--idle-minutes N]\n"
    "\n"
    "Without --print QvSeek opens the search window (with the search history, the preview\n"
    "and the journal); --screenshot runs the search in it and saves a picture of the window\n"
    "(QT_QPA_PLATFORM=offscreen needs no display). --print runs one search and prints the\n"
    "ranked rows: score, activation bar, path or URL, last visit and working time.\n"
    "Without a query it lists the items you used, most active first.\n"
    "--serve keeps the catalogs ready in a process of its own, which then answers --print\n"
    "searches of this user and root at once; it ends on SIGTERM, after N minutes without a\n"
    "search (default 15) or when the root is deleted.\n"
    "\n"
    "Query language: words, \"exact phrases\", -excluded, a |either, sdate:1/2/2004,\n"
    "edate:1/2/2004, dir:FOLDER (that folder only), sdir:FOLDER (and below).\n"
    "\n"
    "Options:\n"
    "  --catalogs LIST      files, web, email (comma-separated; default: the saved options)\n"
    "  --sort ORDER         activation, date, working, visits (default: the saved sort)\n"
    "  --ascending, --descending\n"
    "                       direction for date, working and visits\n"
    "  --visited-only       only items you used\n"
    "  --system-folders     include the system's folders\n"
    "  --keys FILE          search for the items of a search-key list\n"
    "  --max N              print at most N rows\n"
    "  --bar-width N        width of the bar in characters (default 10)\n"
    "  --sql                print the query text that ran (to standard error)\n"
    "  --in-process         search in this process even where a print server runs\n"
    "\n"
    "State is read from QV_ROOT. Exit codes: 0 the search ran, 1 usage, 2 the search failed.\n";

int Usage(std::ostream& err, std::string_view problem) {
  err << "QvSeek: " << problem << "\nRun 'QvSeek --help' for the options.\n";
  return kSeekUsage;
}

std::string Hint(HRESULT hr) {
  if (hr == HresultFromWin32(win32::ERROR_NOT_FOUND)) {
    return "A catalog of the search is missing: set up the standard ones with 'qvindex verify'.";
  }
  return {};
}

// A new user's first search: without any catalog, the standard ones are set up as the
// ranking service's configuration check does, and the user is told how to fill them.
void SetUpFirstCatalogs(Context& ctx, std::ostream& err) {
  service::RegisterCatalogClasses(ctx);
  service::ConfigReport report;
  if (service::VerifyIfNoCatalog(ctx, report) != S_OK) return;
  std::string made;
  for (const auto& c : report.catalogs) {
    if (c.result == service::CatalogOutcome::Result::Failed) {
      err << "QvSeek: the catalog " << c.name << " could not be set up: " << FormatHresult(c.hr)
          << " " << SystemMessage(c.hr) << "\n";
    } else {
      made += (made.empty() ? "" : ", ") + c.name;
    }
  }
  if (!made.empty()) {
    err << "QvSeek: set up the catalogs " << made
        << "; index your files with 'qvindex rescan System' or keep them current with "
           "'qvindex start'.\n";
  }
}

}  // namespace

void PrepareSeekSession(Context& ctx, SeekSession& out) {
  out.haveTexts = Succeeded(LanguageModule::Load(ctx, CurrentLangId(), out.module));
  RegisterRankingClasses(ctx);
  ix::RegisterAdminClass(ctx.classes, ctx.registry, ctx.root);
  ctx.classes.CreateInstance(ix::kAdminClsid, out.admin);
  ctx.classes.CreateInstance(CLSID_BaseActivation, out.activation);
}

HRESULT RefreshSeekSession(Context& ctx, const DateLocale& dates, std::ostream& err,
                           SeekSession& session) {
  SetUpFirstCatalogs(ctx, err);
  const HRESULT hr = MakeComposeEnvironment(ctx, dates, session.admin.get(), session.env);
  if (Failed(hr)) {
    err << "QvSeek: the user's scope cannot be read: " << FormatHresult(hr) << " "
        << SystemMessage(hr) << "\n";
  }
  return hr;
}

HRESULT OpenSeekSession(Context& ctx, const DateLocale& dates, std::ostream& err,
                        SeekSession& out) {
  PrepareSeekSession(ctx, out);
  return RefreshSeekSession(ctx, dates, err, out);
}

namespace {

// "--serve [--idle-minutes N]".
int RunServeCommand(std::span<const std::string_view> args, Context& ctx,
                    const DateLocale& dates, std::ostream& out, std::ostream& err) {
  PrintServerOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--idle-minutes" && i + 1 < args.size()) {
      const std::string_view v = args[++i];
      unsigned minutes = 0;
      const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), minutes);
      if (ec != std::errc() || end != v.data() + v.size() || minutes == 0 || minutes > 10080) {
        return Usage(err, "--idle-minutes takes a number of minutes from 1 to 10080");
      }
      options.idle = std::chrono::minutes(minutes);
    } else {
      return Usage(err, "unknown option '" + std::string(args[i]) + "' for --serve");
    }
  }
  return RunPrintServer(ctx, dates, options, out, err);
}

}  // namespace

int RunQvSeek(std::span<const std::string_view> args, Context& ctx, const DateLocale& dates,
              std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "QvSeek: the search window is not part of this build; use 'QvSeek --print QUERY'.\n"
        << kUsage;
    return kSeekUsage;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    out << kUsage;
    return kSeekOk;
  }
  if (args[0] == "--serve") return RunServeCommand(args.subspan(1), ctx, dates, out, err);
  if (args[0] != "--print") return Usage(err, "unknown command '" + std::string(args[0]) + "'");
  PrintOptions opt;
  std::string problem;
  if (!ParsePrintOptions(args.subspan(1), opt, problem)) return Usage(err, problem);
  // A list of search keys is a file named relative to this process's folder: read here.
  if (!opt.inProcess && opt.keysFile.empty()) {
    PrintReply reply;
    if (AskPrintServer(ctx.root, args, reply)) {
      // A search writes its messages before its rows, and a terminal shows them so.
      err << reply.err << std::flush;
      out << reply.out;
      return reply.exitCode;
    }
  }

  SeekSession session;
  if (Failed(OpenSeekSession(ctx, dates, err, session))) return kSeekFailed;
  ix::QueryExecutor exec(*session.admin);
  return RunPrint(opt, ctx, dates, session, exec, out, err);
}

int RunPrint(const PrintOptions& opt, Context& ctx, const DateLocale& dates,
             SeekSession& session, platform::indexing::QueryExecutor& exec, std::ostream& out,
             std::ostream& err) {
  const LanguageModule* texts = session.texts();
  const ComposeEnvironment& env = session.env;
  const auto& activation = session.activation;

  // The options of the last search, then the result list's sort, then what was asked for.
  SearchRequest request;
  request.unreadFields = kFieldsPrintDoesNotRead;
  request.params = LoadSearchParams(ctx.registry, !env.mailStores.empty());
  const ColumnLayout layout = LoadColumnLayout(ctx.registry);
  request.params.sortOrder = static_cast<std::uint32_t>(layout.sort.column);
  request.params.sortAscending = layout.sort.ascending;
  if (opt.seek) {
    if (opt.seek->usable) {
      if (opt.seek->journal) return Usage(err, "the journal view is not part of this build");
      request.queryText = opt.seek->query;
      request.searchKeyMode = opt.seek->searchKeyMode;
      request.params.searchFiles = opt.seek->searchFiles;
      request.params.searchWebHistory = opt.seek->searchWebHistory;
      request.params.searchEmail = opt.seek->searchEmail;
      request.params.visitedOnly = opt.seek->visitedOnly;
      request.params.includeSystemFolders = opt.seek->includeSystemFolders;
    }
  } else {
    request.queryText = opt.query;
  }
  if (!opt.keysFile.empty()) {
    std::ifstream in(opt.keysFile, std::ios::binary);
    if (!in) return Usage(err, "cannot read the search-key list " + opt.keysFile);
    std::ostringstream text;
    text << in.rdbuf();
    request.queryText = text.str();
    request.searchKeyMode = true;
  }
  if (opt.files) {
    request.params.searchFiles = *opt.files;
    request.params.searchWebHistory = *opt.web;
    request.params.searchEmail = *opt.email;
  }
  if (opt.visitedOnly) request.params.visitedOnly = true;
  if (opt.includeSystemFolders) request.params.includeSystemFolders = true;
  if (opt.sortOrder) {
    request.params.sortOrder = *opt.sortOrder;
    request.params.sortAscending = 0;
  }
  if (opt.ascending) {
    if (*opt.ascending && !AllowsDirection(static_cast<int>(request.params.sortOrder), true)) {
      return Usage(err, "the activation order is descending only");
    }
    request.params.sortAscending = *opt.ascending;
  }

  ScoringContext scoring;
  scoring.activation = activation.get();
  scoring.partialMatch = ReadPartialMatch(ctx.registry);
  SearchResult result;
  const HRESULT hr = RunSearch(request, env, exec, scoring, result);
  if (opt.showSql && !result.sql.empty()) err << result.sql << "\n";
  if (!result.messages.empty()) {
    err << "QvSeek: " << JoinMessages(texts, result.messages) << "\n";
  }
  // A query of wildcards and punctuation only: the message above says what to do.
  if (hr == ix::QUERY_E_ALLNOISE) return kSeekFailed;
  if (Failed(hr)) {
    err << "QvSeek: the search failed: " << FormatHresult(hr) << " " << SystemMessage(hr) << "\n";
    if (!result.detail.empty()) err << "  " << result.detail << "\n";
    if (auto hint = Hint(hr); !hint.empty()) err << "  " << hint << "\n";
    return kSeekFailed;
  }
  if (!result.information.empty()) {
    out << JoinMessages(texts, result.information) << "\n";
    return kSeekOk;
  }
  PrintView view;
  view.userScope = env.userScope;
  view.activation = activation.get();
  view.texts.dates = &dates;
  view.barWidth = opt.barWidth;
  view.maxRows = opt.maxRows;
  PrintResults(result, view, out);
  return kSeekOk;
}

bool WantsWindow(std::span<const std::string_view> args) {
  return args.empty() || (args[0] != "--print" && args[0] != "--serve" && args[0] != "--help" &&
                          args[0] != "-h");
}

}  // namespace qv::client
