#include "shell/uiutils/forget_cli.h"

#include <vector>

#include "common/tool_args.h"
#include "provider/journal/day_file_writer.h"
#include "provider/journal/journal_paths.h"
#include "shell/uiutils/forget.h"
#include "shell/uiutils/journal_clearing.h"

namespace qv::uiutils {
namespace {

constexpr std::string_view kUsage =
    "Usage: qvforget last-hour|last-day|everything\n"
    "       qvforget journal FIRST LAST [--go-on]\n"
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
    "journal FIRST LAST removes only the journal's days from FIRST to LAST (YYYY-MM-DD,\n"
    "both included), with their entries; it stops at the first error unless --go-on.\n"
    "\n"
    "The store is QV_ROOT (default $XDG_DATA_HOME/quillon-vesper).\n"
    "Exit status: 0 all forgotten, 1 something could not be forgotten (listed),\n"
    "2 wrong arguments.\n";

int ClearJournalDays(std::span<const std::string_view> args, const Context& ctx,
                     std::ostream& out, std::ostream& err) {
  bool goOn = false;
  std::vector<std::string_view> days;
  for (std::string_view a : args) {
    if (a == "--go-on") {
      goOn = true;
    } else {
      days.push_back(a);
    }
  }
  CivilDay first, last;
  if (days.size() != 2 || !journal::ParseDay(days[0], first) ||
      !journal::ParseDay(days[1], last)) {
    err << "qvforget: journal needs two dates, the first and the last day to remove, like "
           "2005-12-30 2006-01-02 (qvforget --help)\n";
    return kForgetExitUsage;
  }
  JournalClearer clearer(journal::JournalRoot(ctx.root), ctx.clock, journal::kWriterLockWait);
  ClearCallbacks cb;
  cb.progress = [&](const ClearProgress& p) {
    err << "qvforget: " << p.items << " items, " << p.bytes << " bytes removed\n";
    return true;
  };
  cb.error = [&](const std::filesystem::path& p, HRESULT hr) {
    err << "qvforget: " << EscapeControls(p.string()) << ": " << FormatHresult(hr) << "\n";
  };
  ClearProgress done;
  const HRESULT hr = clearer.ClearRange(first, last, goOn, cb, done);
  if (hr == E_INVALIDARG) {
    err << "qvforget: the first day comes after the last; give them in order\n";
    return kForgetExitUsage;
  }
  out << "journal items removed: " << done.items << " (" << done.bytes << " bytes)\n";
  if (Succeeded(hr)) return kForgetExitOk;
  err << "qvforget: stopped; what is listed above was not removed (a journal day held by "
         "a writer is kept; try again, or add --go-on to skip what fails)\n";
  return kForgetExitPartly;
}

}  // namespace

int RunQvforget(std::span<const std::string_view> args, const Context& ctx, std::ostream& out,
                std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    out << kUsage;
    return kForgetExitOk;
  }
  if (!args.empty() && args[0] == "journal") {
    return ClearJournalDays(args.subspan(1), ctx, out, err);
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
