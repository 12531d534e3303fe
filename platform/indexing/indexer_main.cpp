// qvindexer: the indexing service. Keeps the catalogs registered under the root up to date;
// stops when QV_ROOT/indexing/stop.request appears or on SIGTERM/SIGINT.
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "context/context.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/readers/document_filter.h"
#include "provider/filters/filter_registration.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/indexer_service.h"
#include "service/QvRankingSvc/catalog_config.h"

namespace {

namespace ix = qv::platform::indexing;

constexpr const char* kUsage =
    "usage: qvindexer [--root DIR] [--once] [--catalog NAME] [--detach] [--quiet]\n"
    "\n"
    "Keeps the catalogs registered under the root (default: QV_ROOT) up to date: finishes\n"
    "or starts a crawl of each, then follows changes until stopped.\n"
    "  --root DIR      the installation root\n"
    "  --once          crawl every catalog once and exit\n"
    "  --catalog NAME  only this catalog\n"
    "  --detach        run in the background; return once the service runs\n"
    "  --quiet         no progress lines\n"
    "Stop it with 'qvindex stop', SIGTERM or Ctrl-C; a stopped crawl resumes on the next run.\n"
    "Exit codes: 0 done, 1 usage, 2 failure, 3 already running, 4 stopped mid-crawl.\n";

struct Args {
  std::filesystem::path root;
  bool once = false, detach = false, quiet = false;
  std::string catalog;
};

bool ParseArgs(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // An option's value may not be missing or empty: an empty root or catalog would quietly
    // mean the default one.
    auto value = [&](std::string& out) {
      if (i + 1 >= argc || *argv[i + 1] == '\0') {
        std::fprintf(stderr, "qvindexer: %s needs a value; see --help\n", arg.c_str());
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--root") {
      if (!value(v)) return false;
      a.root = v;
    } else if (arg == "--catalog") {
      if (!value(v)) return false;
      a.catalog = v;
    } else if (arg == "--once") {
      a.once = true;
    } else if (arg == "--detach") {
      a.detach = true;
    } else if (arg == "--quiet") {
      a.quiet = true;
    } else {
      std::fprintf(stderr, "qvindexer: unknown argument '%s'; see --help\n", arg.c_str());
      return false;
    }
  }
  if (a.root.empty()) a.root = qv::platform::DefaultRoot();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  Args args;
  if (!ParseArgs(argc, argv, args)) return 1;
  std::error_code ec;
  ec = qv::platform::CreatePrivateFolders(ix::ServiceFolder(args.root));
  if (ec) {
    std::fprintf(stderr, "qvindexer: cannot create %s: %s\n",
                 ix::ServiceFolder(args.root).c_str(), ec.message().c_str());
    return 2;
  }
  if (args.detach) {
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child > 0) {
      // Return once the service holds its lock (or failed to start).
      qv::Installation probe(args.root);
      ix::CatalogAdmin admin(probe.context().registry, args.root);
      for (int i = 0; i < 200 && !admin.IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
      return admin.IsRunning() ? 0 : 2;
    }
    setsid();
    args.quiet = true;
  }

  // A new user's first start: the standard catalogs, before the lock is taken, since the
  // check stops the running service when it changes a catalog.
  {
    qv::Installation setup(args.root);
    auto& ctx = setup.context();
    qv::service::RegisterCatalogClasses(ctx);
    qv::service::ConfigReport report;
    if (qv::service::VerifyIfNoCatalog(ctx, report) == qv::S_OK && !args.quiet) {
      for (const auto& c : report.catalogs) {
        std::printf("catalog %s: %s\n", c.name.c_str(),
                    std::string(qv::service::OutcomeText(c.result)).c_str());
      }
    }
  }

  const int lock = open(ix::ServiceLockPath(args.root).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) {
    std::fprintf(stderr, "qvindexer: the service already runs for %s\n", args.root.c_str());
    return 3;
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(lock, 0) == 0) (void)!write(lock, pid.data(), pid.size());

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  const int sigfd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);

  qv::Installation install(args.root);
  auto& ctx = install.context();
  ix::RegisterBuiltinFilterClasses(ctx.classes);
  ix::RegisterBuiltinFilterExtensions(ctx.registry);
  // PDF, office documents, EPUB and RTF, read in this process for now.
  qv::platform::readers::RegisterDocumentFilterClass(ctx.classes);
  qv::platform::readers::RegisterDocumentFilterExtensions(ctx.registry);
  qv::filters::RegisterIndexingFilters(ctx);
  ix::CatalogAdmin admin(ctx.registry, args.root);

  const auto stopFile = ix::StopRequestPath(args.root);
  bool stopSeen = false;
  auto lastProgress = std::chrono::steady_clock::now();
  ix::ServiceOptions options;
  options.follow = !args.once;
  options.onlyCatalog = args.catalog;
  options.shouldStop = [&] {
    if (stopSeen) return true;
    signalfd_siginfo si;
    if (sigfd >= 0 && read(sigfd, &si, sizeof si) == sizeof si) stopSeen = true;
    std::error_code e;
    if (std::filesystem::exists(stopFile, e)) stopSeen = true;
    return stopSeen;
  };
  options.progress = [&](const ix::IndexProgress& p) {
    if (args.quiet) return;
    const auto now = std::chrono::steady_clock::now();
    if (p.phase != "idle" && now - lastProgress < std::chrono::seconds(1)) return;
    lastProgress = now;
    std::printf("%s: %s, %lld files seen, %lld filtered, %lld to filter\n", p.catalog.c_str(),
                p.phase.c_str(), static_cast<long long>(p.scanned),
                static_cast<long long>(p.filtered), static_cast<long long>(p.pending));
    std::fflush(stdout);
  };
  ix::IndexerService service(ctx, admin, options);
  const qv::HRESULT hr = service.Run();
  if (sigfd >= 0) close(sigfd);
  close(lock);
  if (hr == qv::E_ABORT) return 4;
  if (qv::Failed(hr)) {
    std::fprintf(stderr, "qvindexer: %s (%s)\n", qv::FormatHresult(hr).c_str(),
                 qv::SystemMessage(hr).c_str());
    return 2;
  }
  return 0;
}
