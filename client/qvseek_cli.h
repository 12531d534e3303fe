#pragma once
// QvSeek from the command line. The window comes with the graphical client; the headless
// mode "--print" runs one search and prints the ranked rows for the terminal and scripts.
#include <ostream>
#include <span>
#include <string_view>

#include "client/command_line.h"
#include "client/query_composer.h"
#include "client/query_date.h"
#include "context/context.h"
#include "context/language_module.h"
#include "interfaces/ibase_activation.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/query_executor.h"

namespace qv::client {

// Exit codes: 0 the search ran (with or without rows), 1 usage error, 2 the search failed.
inline constexpr int kSeekOk = 0;
inline constexpr int kSeekUsage = 1;
inline constexpr int kSeekFailed = 2;

// What a search needs, prepared once per process: the texts, the catalogs (the standard ones
// set up for a new user), the activation that scores rows and the user's environment.
struct SeekSession {
  LanguageModule module;
  bool haveTexts = false;
  std::shared_ptr<platform::indexing::CatalogAdmin> admin;
  std::shared_ptr<IBaseActivation> activation;  // null: rows in the catalog's order
  ComposeEnvironment env;
  const LanguageModule* texts() const { return haveTexts ? &module : nullptr; }
};
// Fails, having told `err` why, when the user's scope cannot be read.
HRESULT OpenSeekSession(Context& ctx, const DateLocale& dates, std::ostream& err,
                        SeekSession& out);
// OpenSeekSession in two steps, for a process that searches many times: what stays (the
// texts, the classes, the catalogs' administration) and what is read again before each
// search (a new user's catalogs, the user's scope and mail stores).
void PrepareSeekSession(Context& ctx, SeekSession& out);
HRESULT RefreshSeekSession(Context& ctx, const DateLocale& dates, std::ostream& err,
                           SeekSession& session);

// One --print search with a session and an executor that may have served others before.
int RunPrint(const PrintOptions& opt, Context& ctx, const DateLocale& dates,
             SeekSession& session, platform::indexing::QueryExecutor& exec, std::ostream& out,
             std::ostream& err);

// Whether the arguments ask for the window (anything but --print, --serve and --help).
bool WantsWindow(std::span<const std::string_view> args);

// `args` excludes the program name. Registers the classes it needs in ctx.classes.
int RunQvSeek(std::span<const std::string_view> args, Context& ctx, const DateLocale& dates,
              std::ostream& out, std::ostream& err);

}  // namespace qv::client
