#include "shell/uiutils/forget_cli.h"

#include "common/tool_args.h"
#include "provider/journal/day_file_writer.h"
#include "shell/uiutils/forget.h"

namespace qv::uiutils {
namespace {

constexpr std::string_view kUsage =
    "Usage: qvforget last-hour|last-day|everything\n"
    "\n"
    "Forgets recent activity, as browsers and activity trackers do:\n"
    "  last-hour    visits that started or ended in the last 60 minutes\n"
    "  last-day     visits that started or ended in the last 24 hours\n"
    "  everything   every visit ever recorded\n"
    "\n"
    "For those visits it removes the journal entries, the ranking records of the files\n"
    "visited (their whole record: the file is then no longer ranked), and the web history\n"
    "shortcuts of the pages visited with their cached copies. Files and pages themselves\n"
    "are never touched. Running it again finishes work that was interrupted.\n"
    "\n"
    "The store is QV_ROOT (default $XDG_DATA_HOME/quillon-vesper).\n"
    "Exit status: 0 all forgotten, 1 something could not be forgotten (listed),\n"
    "2 wrong arguments.\n";

}  // namespace

int RunQvforget(std::span<const std::string_view> args, const Context& ctx, std::ostream& out,
                std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    out << kUsage;
    return kForgetExitOk;
  }
  ForgetSpan span{};
  if (args.size() != 1 || !ParseForgetSpan(args[0], span)) {
    err << "qvforget: "
        << (args.empty() ? std::string("say what to forget")
                         : "unknown argument '" + EscapeControls(args[0]) + "'")
        << "; try last-hour, last-day or everything (qvforget --help)\n";
    return kForgetExitUsage;
  }
  Forgetter forgetter(ctx, journal::kWriterLockWait);
  ForgetSummary summary;
  const HRESULT hr = forgetter.Forget(
      span,
      [&](const ForgetProgress& p) {
        err << "qvforget: " << p.step << ": " << p.done;
        if (p.total != 0) err << " of " << p.total;
        err << "\n";
      },
      summary);
  out << "journal entries removed: " << summary.journalEntries << " (from "
      << summary.journalDays << " days)\n"
      << "ranking records removed: " << summary.rankingRecords << "\n"
      << "web history shortcuts removed: " << summary.shortcuts << "\n"
      << "cached copies removed: " << summary.cachedCopies << "\n";
  if (hr == S_OK) return kForgetExitOk;
  err << "qvforget: " << summary.errors.size()
      << " items could not be forgotten; run qvforget again once they are free:\n";
  for (const std::string& e : summary.errors) err << "  " << EscapeControls(e) << "\n";
  return kForgetExitPartly;
}

}  // namespace qv::uiutils
