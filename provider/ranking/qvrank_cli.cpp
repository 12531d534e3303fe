#include "provider/ranking/qvrank_cli.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "common/tool_args.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/file_ranking.h"

namespace qv {
namespace {

constexpr std::string_view kUsage =
    R"(Usage: qvrank COMMAND ...
Shows and changes the ranking records that Quillon Vesper keeps on files.

  show FILE...                 print each file's ranking record (name=value lines),
                               then its activation now and its bar (0-100)
  visit FILE --start ISO --end ISO [--working SECONDS] [--active SECONDS] [--units N]
                               record one visit the way the tracer does (PreRank, then
                               UpdateRank); working and active time default to the visit's
                               length, units to working seconds x 5
  delete FILE                  remove the file's ranking record
  activation --at ISO LV LN LT BE BN BT
                               activation at a moment of a last-visit triple (end, units,
                               seconds) and a blended triple; dates as ISO or 0
  scale A                      the bar value (0-100) of activation A

Dates are ISO 8601 (2026-12-07T13:08:00Z; no offset means UTC). State lives under QV_ROOT.
File names are printed with control characters as \xNN and a backslash as \\.
A visit to a file that another program holds locked is handed to the ranking service,
which records it once the file is free ("deferred:", exit status 0).
Exit status: 0 done, 1 usage error, 2 the operation failed (its HRESULT is printed) or
the visit was not recorded (the file may not be ranked; the message says why).
)";

std::string Hex(HRESULT hr) { return FormatHresult(hr); }

int Fail(std::ostream& err, std::string_view what, HRESULT hr) {
  err << "qvrank: " << what << " failed: " << Hex(hr);
  if (const std::string msg = SystemMessage(hr); !msg.empty()) err << " (" << msg << ")";
  err << "\n";
  return kExitFailed;
}

int Usage(std::ostream& err, std::string_view problem) {
  err << "qvrank: " << problem << "\nRun 'qvrank --help' for the commands.\n";
  return kExitUsage;
}

std::string Date(DATE d) { return d == 0.0 ? "0" : FormatIsoDate(d); }

std::optional<DATE> ParseDateArg(std::string_view s) {
  if (s == "0") return 0.0;
  return ParseIsoDate(s);
}

std::optional<std::uint32_t> ParseUnsigned(std::string_view s) {
  std::uint32_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

// Seconds with up to one decimal, as tenths of a second.
std::optional<std::uint32_t> ParseTenths(std::string_view s) {
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || !(v >= 0) || v * 10 > 4294967295.0) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(std::llround(v * 10));
}

std::optional<std::string> Absolute(std::string_view file) {
  const auto p = AbsolutePathArg(file);
  if (!p) return std::nullopt;
  return p->string();
}

// File names as they appear in output and messages: a name holding a line break or another
// control character must not pass for a field of its own.
std::string Shown(std::string_view file) { return EscapeControls(file); }

// Why UpdateRank left a file alone, as far as a look at it tells.
std::string WhyNotRanked(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return "it does not exist or cannot be reached";
  if (S_ISDIR(st.st_mode)) return "it is a folder; give a file";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file (a device, FIFO or socket)";
  return "it is read-only, not on a local disk, a program, or excluded from indexing";
}

int Show(std::span<const std::string_view> files, Context& ctx, std::ostream& out,
         std::ostream& err) {
  if (files.empty()) return Usage(err, "show needs at least one FILE");
  FileRanking fr(ctx);
  BaseActivation ba(ctx);
  int rc = kExitOk;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto absolute = Absolute(files[i]);
    if (!absolute) return Usage(err, "a FILE must not be empty");
    const std::string& file = *absolute;
    VARIANT_BOOL valid = VARIANT_FALSE;
    Guid key;
    ranking::RankingSet s;
    const HRESULT hr = fr.GetRankingSet(&file, &valid, &key, &s.scope, &s.workingTime,
                                        &s.activeTime, &s.visits, &s.firstVisitStart, &s.last.end,
                                        &s.last.t, &s.last.n, &s.blended.end, &s.blended.t,
                                        &s.blended.n);
    if (files.size() > 1) out << (i ? "\n" : "") << "file=" << Shown(file) << "\n";
    if (hr == STG_E_FILENOTFOUND && std::filesystem::exists(file)) {
      out << "valid=0\n";  // no record yet
      continue;
    }
    if (Failed(hr)) {
      rc = Fail(err, "reading the ranking record of " + Shown(file), hr);
      continue;
    }
    out << "valid=" << (valid == VARIANT_TRUE ? 1 : 0) << "\n";
    if (valid != VARIANT_TRUE) continue;
    out << "searchkey=" << FormatGuid(key) << "\n"
        << "scope=" << s.scope << "\n"
        << "working=" << s.workingTime << "\n"
        << "active=" << s.activeTime << "\n"
        << "visits=" << s.visits << "\n"
        << "first=" << Date(s.firstVisitStart) << "\n"
        << "lastend=" << Date(s.last.end) << "\n"
        << "lastT=" << s.last.t << "\n"
        << "lastN=" << s.last.n << "\n"
        << "blendedend=" << Date(s.blended.end) << "\n"
        << "blendedT=" << s.blended.t << "\n"
        << "blendedN=" << s.blended.n << "\n";
    float a = 0;
    if (const HRESULT ah = ba.GetCurrentActivation(s.last.end, s.last.n, s.last.t, s.blended.end,
                                                   s.blended.n, s.blended.t, &a);
        Failed(ah)) {
      rc = Fail(err, "computing the activation of " + Shown(file), ah);
      continue;
    }
    ULONG bar = 0;  // left alone for activations too small to show
    ba.GetActivationScale(a, &bar);
    out << "activation=" << a << "\n" << "bar=" << bar << "\n";
  }
  return rc;
}

// Stands in front of the ranking service's listener for one visit, to learn whether
// UpdateRank handed the visit over because another program held the file locked.
class HandOffWatch final : public IKivListener {
 public:
  explicit HandOffWatch(std::shared_ptr<IKivListener> service) : service_(std::move(service)) {}
  HRESULT UpdatePending(const std::string* file, ULONG units, ULONG visits, DATE start,
                        DATE finish, ULONG working, ULONG active, ULONG scope, ULONG retry,
                        const std::string* key) override {
    handedOff = true;
    return service_->UpdatePending(file, units, visits, start, finish, working, active, scope,
                                   retry, key);
  }
  HRESULT CfgVerify(const std::string* dir, VARIANT_BOOL rescan) override {
    return service_->CfgVerify(dir, rescan);
  }
  HRESULT DeleteStale(const std::string* file) override { return service_->DeleteStale(file); }
  HRESULT OtlProfile(const std::string* profile, const std::string* root,
                     const std::string* stores) override {
    return service_->OtlProfile(profile, root, stores);
  }
  HRESULT OtlStopScope(const std::string* dir) override { return service_->OtlStopScope(dir); }

  bool handedOff = false;

 private:
  std::shared_ptr<IKivListener> service_;
};

int Visit(std::span<const std::string_view> args, Context& ctx, std::ostream& out,
          std::ostream& err) {
  if (args.empty()) return Usage(err, "visit needs a FILE");
  const auto absolute = Absolute(args[0]);
  if (!absolute) return Usage(err, "the FILE must not be empty");
  const std::string& file = *absolute;
  std::map<std::string_view, std::string_view> opts;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string_view k = args[i];
    if (k != "--start" && k != "--end" && k != "--working" && k != "--active" && k != "--units") {
      return Usage(err, "unknown option '" + std::string(k) + "'");
    }
    if (i + 1 >= args.size()) return Usage(err, std::string(k) + " needs a value");
    opts[k] = args[i + 1];
  }
  if (!opts.count("--start") || !opts.count("--end")) {
    return Usage(err, "visit needs --start ISO and --end ISO");
  }
  const auto start = ParseIsoDate(opts["--start"]);
  const auto end = ParseIsoDate(opts["--end"]);
  if (!start || !end) return Usage(err, "dates must be ISO 8601, like 2026-12-07T13:08:00Z");
  if (*end <= *start) return Usage(err, "--end must be later than --start");
  const double lengthSeconds = std::round((*end - *start) * kSecondsPerDay * 10) / 10;
  if (lengthSeconds * 10 > 4294967295.0) return Usage(err, "the visit is too long");
  std::uint32_t working = static_cast<std::uint32_t>(lengthSeconds * 10);
  std::uint32_t active = working;
  if (opts.count("--working")) {
    auto v = ParseTenths(opts["--working"]);
    if (!v) return Usage(err, "--working takes seconds, like 42 or 4.5");
    working = *v;
  }
  if (opts.count("--active")) {
    auto v = ParseTenths(opts["--active"]);
    if (!v) return Usage(err, "--active takes seconds, like 42 or 4.5");
    active = *v;
  }
  std::uint32_t units = working / 2;  // one unit per 0.2 s of working time
  if (opts.count("--units")) {
    auto v = ParseUnsigned(opts["--units"]);
    if (!v) return Usage(err, "--units takes a whole number");
    units = *v;
  }

  FileRanking fr(ctx);
  ULONG scope = 0;
  std::string key;
  if (const HRESULT hr = fr.PreRank(&file, &scope, &key, nullptr); Failed(hr)) {
    return Fail(err, "PreRank of " + Shown(file), hr);
  }
  // The watch replaces the listener's class for the rest of this process (one command).
  std::shared_ptr<IKivListener> service;
  std::shared_ptr<HandOffWatch> watch;
  if (Succeeded(ctx.classes.CreateInstance(CLSID_KivListener, service))) {
    watch = std::make_shared<HandOffWatch>(service);
    ctx.classes.Register(CLSID_KivListener, "", "",
                         [watch](std::shared_ptr<platform::ComObject>& obj) {
                           obj = watch;
                           return S_OK;
                         });
  }
  const HRESULT hr = fr.UpdateRank(&file, units, 1, *start, *end, working, active, scope, 0,
                                   key.empty() ? nullptr : &key);
  const bool deferred = watch && watch->handedOff;
  if (Failed(hr)) {
    return Fail(err, deferred ? "handing the visit of the locked file " + Shown(file) +
                                    " to the ranking service"
                              : "UpdateRank of " + Shown(file),
                hr);
  }
  if (deferred) {
    if (hr == S_FALSE) {
      err << "qvrank: not recorded: " << Shown(file)
          << ": the file stayed locked by another program and the ranking service gave up\n";
      return kExitFailed;
    }
    out << "deferred: " << Shown(file)
        << ": another program holds the file locked; the ranking service records the visit "
           "once it is free\n";
    return kExitOk;
  }
  if (hr == S_FALSE) {
    // Nothing was recorded: a script must not take this for success.
    err << "qvrank: not ranked: " << Shown(file) << ": " << WhyNotRanked(file) << "\n";
    return kExitFailed;
  }
  out << "ranked: " << Shown(file) << "\n";
  return kExitOk;
}

int Activation(std::span<const std::string_view> args, Context& ctx, std::ostream& out,
               std::ostream& err) {
  if (args.size() != 8 || args[0] != "--at") {
    return Usage(err, "activation needs --at ISO LV LN LT BE BN BT");
  }
  const auto at = ParseIsoDate(args[1]);
  const auto lv = ParseDateArg(args[2]);
  const auto be = ParseDateArg(args[5]);
  const auto ln = ParseUnsigned(args[3]), lt = ParseUnsigned(args[4]);
  const auto bn = ParseUnsigned(args[6]), bt = ParseUnsigned(args[7]);
  if (!at || !lv || !be) return Usage(err, "dates must be ISO 8601 or 0");
  if (!ln || !lt || !bn || !bt) return Usage(err, "units and seconds must be whole numbers");
  float a = 0;
  BaseActivation ba(ctx);
  if (const HRESULT hr = ba.GetActivation(*at, *lv, *ln, *lt, *be, *bn, *bt, &a); Failed(hr)) {
    return Fail(err, "GetActivation", hr);
  }
  out << a << "\n";
  return kExitOk;
}

int Scale(std::span<const std::string_view> args, Context& ctx, std::ostream& out,
          std::ostream& err) {
  if (args.size() != 1) return Usage(err, "scale needs one activation value");
  float a = 0;
  auto [p, ec] = std::from_chars(args[0].data(), args[0].data() + args[0].size(), a);
  if (ec != std::errc() || p != args[0].data() + args[0].size() || !std::isfinite(a)) {
    return Usage(err, "the activation must be a number, like 1.5");
  }
  ULONG bar = 0;  // left alone for activations too small to show
  BaseActivation ba(ctx);
  if (const HRESULT hr = ba.GetActivationScale(a, &bar); Failed(hr)) {
    return Fail(err, "GetActivationScale", hr);
  }
  out << bar << "\n";
  return kExitOk;
}

}  // namespace

int RunQvrank(std::span<const std::string_view> args, Context& ctx, std::ostream& out,
              std::ostream& err) {
  if (args.empty()) return Usage(err, "no command given");
  const std::string_view cmd = args[0];
  const auto rest = args.subspan(1);
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    out << kUsage;
    return kExitOk;
  }
  if (cmd == "show") return Show(rest, ctx, out, err);
  if (cmd == "visit") return Visit(rest, ctx, out, err);
  if (cmd == "delete") {
    if (rest.size() != 1) return Usage(err, "delete needs one FILE");
    const auto file = Absolute(rest[0]);
    if (!file) return Usage(err, "the FILE must not be empty");
    FileRanking fr(ctx);
    if (const HRESULT hr = fr.DeleteRank(&*file); Failed(hr)) {
      return Fail(err, "DeleteRank of " + Shown(*file), hr);
    }
    out << "deleted: " << Shown(*file) << "\n";
    return kExitOk;
  }
  if (cmd == "activation") return Activation(rest, ctx, out, err);
  if (cmd == "scale") return Scale(rest, ctx, out, err);
  return Usage(err, "unknown command '" + std::string(cmd) + "'");
}

}  // namespace qv
