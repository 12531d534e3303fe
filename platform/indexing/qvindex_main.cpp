// qvindex: look after the catalogs from the command line.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/context.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/indexer.h"
#include "platform/indexing/query_executor.h"

namespace {

namespace ix = qv::platform::indexing;

constexpr const char* kUsage =
    "usage: qvindex [--root DIR] COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  status                          every catalog: documents, to filter, state\n"
    "  add-catalog NAME [LOCATION]     register a catalog (default location:\n"
    "                                  <root>/CommonAppData/Quillon/Catalogs/NAME)\n"
    "  add-scope CATALOG FOLDER [--exclude]\n"
    "                                  index FOLDER in CATALOG (or keep it out)\n"
    "  remove-scope CATALOG FOLDER     stop indexing FOLDER\n"
    "  rescan CATALOG [FOLDER]         crawl again, showing progress (through the service\n"
    "                                  when it runs, in this process otherwise)\n"
    "  query [--max N] TEXT            run a query text and print the rows\n"
    "  start | stop                    start or stop the indexing service\n"
    "\n"
    "The root defaults to QV_ROOT. Exit codes: 0 success, 1 usage, 2 failure.\n";

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

int Status(ix::CatalogAdmin& admin) {
  std::vector<std::string> names;
  const qv::HRESULT hr = admin.ListCatalogs(names);
  if (qv::Failed(hr)) return Fail("listing catalogs", hr);
  std::printf("service: %s\n", admin.IsRunning() ? "running" : "stopped");
  std::printf("%-28s %10s %10s  %-22s %s\n", "catalog", "documents", "to filter", "state",
              "location");
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
    std::printf("%-28s %10u %10u  %-22s %s\n", n.c_str(), s.cTotalDocuments, s.cDocuments,
                stopped ? "stopped" : StateText(s), location.c_str());
  }
  return 0;
}

int Rescan(qv::Context& ctx, ix::CatalogAdmin& admin, const std::string& catalog,
           const std::string& folder) {
  if (admin.IsRunning()) {
    qv::HRESULT hr = admin.Rescan(catalog, folder, true);
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
  hr = folder.empty() ? indexer.Crawl() : indexer.Refresh(folder);
  if (qv::Failed(hr)) return Fail("the rescan", hr);
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
  if (args.size() >= 2 && args[0] == "--root") {
    root = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  qv::Installation install(root);
  auto& ctx = install.context();
  ix::CatalogAdmin admin(ctx.registry, root);
  const std::string& cmd = args[0];
  qv::HRESULT hr = qv::S_OK;
  if (cmd == "status" && args.size() == 1) return Status(admin);
  if (cmd == "add-catalog" && (args.size() == 2 || args.size() == 3)) {
    const std::filesystem::path location =
        args.size() == 3 ? std::filesystem::absolute(args[2])
                         : root / "CommonAppData" / "Quillon" / "Catalogs" / args[1];
    hr = admin.AddCatalog(args[1], location);
    return qv::Failed(hr) ? Fail("adding the catalog (names are plain: no '/' or '..')", hr) : 0;
  }
  if (cmd == "add-scope" && (args.size() == 3 || (args.size() == 4 && args[3] == "--exclude"))) {
    hr = admin.AddScope(args[1], std::filesystem::absolute(args[2]).lexically_normal().string(),
                        args.size() == 4);
    return qv::Failed(hr) ? Fail("adding the scope (is the catalog registered?)", hr) : 0;
  }
  if (cmd == "remove-scope" && args.size() == 3) {
    hr = admin.RemoveScope(args[1], std::filesystem::absolute(args[2]).lexically_normal().string());
    return qv::Failed(hr) ? Fail("removing the scope", hr) : 0;
  }
  if (cmd == "rescan" && (args.size() == 2 || args.size() == 3)) {
    return Rescan(ctx, admin, args[1],
                  args.size() == 3 ? std::filesystem::absolute(args[2]).string() : "");
  }
  if (cmd == "query" && args.size() >= 2) {
    std::size_t max = 0;
    std::size_t at = 1;
    if (args[1] == "--max" && args.size() >= 4) {
      max = std::stoul(args[2]);
      at = 3;
    }
    if (at + 1 != args.size()) {
      std::fputs(kUsage, stderr);
      return 1;
    }
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
  std::fputs(kUsage, stderr);
  return 1;
}
