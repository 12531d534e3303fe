// qvstatus: the status sheet on the command line: every catalog the system uses with its
// documents and state, and the space the web history and the journal take.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "context/context.h"
#include "context/language_module.h"
#include "manager/status/catalog_table.h"
#include "manager/status/status_texts.h"
#include "manager/status/store_pages.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "service/QvRankingSvc/caller_folders.h"

namespace {

namespace ix = qv::platform::indexing;
namespace mgr = qv::manager;

constexpr const char* kUsage =
    "usage: qvstatus [--root DIR] [clear-web-history]\n"
    "\n"
    "Shows whether ranking and tracing are on, every catalog the system uses (files, web\n"
    "history, journal and one per mail store) with its documents, documents still to\n"
    "filter and state, and the folders and space of the web history and the journal.\n"
    "\n"
    "  clear-web-history   delete the stored web history and its cached copies\n"
    "\n"
    "The root defaults to QV_ROOT. Exit codes: 0 success, 1 usage, 2 failure.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "qvstatus: %s\n\n%s", problem.c_str(), kUsage);
  return 1;
}

bool TracingDisabled(const qv::platform::Registry& reg) {
  qv::platform::RegValue v;
  return reg.GetValue(qv::platform::Hive::CurrentUser, "Software\\Quillon\\Vesper", "Disabled",
                      v) == 0 &&
         v.type == qv::platform::RegType::Dword && v.dword != 0;
}

int Show(qv::Context& ctx, const qv::LanguageModule* texts) {
  std::printf("Ranking and tracing: %s\n\n",
              TracingDisabled(ctx.registry) ? "off (switched off by the user)" : "on");
  ix::CatalogAdmin admin(ctx.registry, ctx.root);
  mgr::CatalogTable table(ctx.registry, admin, qv::service::OwnerIdentity(::geteuid()), texts);
  table.Refresh();
  std::printf("%-24s %10s %10s %8s  %-20s %s\n", "Catalog", "Documents", "To filter", "Size",
              "State", "Name");
  for (const auto& row : table.rows()) {
    const bool read = qv::Succeeded(row.query);
    const std::uint32_t text = mgr::StateTextId(row);
    const std::string state = text ? mgr::StatusText(texts, text) : "";
    std::printf("%-24s %10s %10s %8s  %-20s %s\n", row.displayName.c_str(),
                read ? std::to_string(row.totalDocuments).c_str() : "",
                read ? std::to_string(row.toFilter).c_str() : "",
                read ? (std::to_string(row.sizeMb) + " MB").c_str() : "", state.c_str(),
                row.name.c_str());
  }
  std::printf("\n");
  mgr::WebHistoryStore web(ctx.root, ctx.clock);
  std::uint64_t cached = 0;
  const qv::HRESULT hr = web.GroupUsage(false, cached);
  const auto webFolder = mgr::WebHistoryFolder(ctx.root);
  std::printf("Web history: %s\n  stored pages: %s\n  cached copies: %s\n", webFolder.c_str(),
              mgr::FormatKilobytes(mgr::FolderSize(webFolder)).c_str(),
              qv::Failed(hr) ? "(cannot be read)" : mgr::FormatKilobytes(cached).c_str());
  const auto journal = mgr::JournalFolder(ctx.root);
  std::printf("Journal: %s\n  entries: %s\n", journal.c_str(),
              mgr::FormatKilobytes(mgr::FolderSize(journal)).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::filesystem::path root = qv::platform::DefaultRoot();
  if (!args.empty() && args[0] == "--root") {
    if (args.size() < 2 || args[1].empty()) return Usage("--root needs a folder");
    root = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() > 1 || (args.size() == 1 && args[0] != "clear-web-history")) {
    return Usage("unknown command '" + args[0] + "'");
  }
  qv::Installation install(root);
  auto& ctx = install.context();
  if (args.size() == 1) {
    const qv::HRESULT hr = mgr::WebHistoryStore(root, ctx.clock).Clear();
    if (qv::Failed(hr)) {
      std::fprintf(stderr,
                   "qvstatus: some of the web history could not be deleted: %s %s\n"
                   "  Check the permissions below %s and run the command again.\n",
                   qv::FormatHresult(hr).c_str(), qv::SystemMessage(hr).c_str(),
                   mgr::WebHistoryFolder(root).c_str());
      return 2;
    }
    std::printf("The web history is cleared.\n");
    return 0;
  }
  qv::LanguageModule module;
  const bool haveTexts =
      qv::Succeeded(qv::LanguageModule::Load(ctx, qv::CurrentLangId(), module));
  return Show(ctx, haveTexts ? &module : nullptr);
}
