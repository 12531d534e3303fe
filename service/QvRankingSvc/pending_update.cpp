#include "service/QvRankingSvc/pending_update.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <climits>

#include "common/guid.h"
#include "common/utf.h"
#include "context/event_report.h"
#include "context/registry_values.h"
#include "interfaces/ikiv_file_ranking.h"
#include "platform/scheduler/job_table.h"

namespace qv::service {
namespace {

std::string Hex(std::uint32_t v) {
  char buf[8];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  return std::string(buf, r.ptr);
}

std::uint32_t High(DATE d) { return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(d) >> 32); }
std::uint32_t Low(DATE d) { return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(d)); }

// The key goes to the utility only as a GUID in registry form: anything else would reach a
// command line unquoted, and UpdateRank would replace it with a new key anyway.
bool UsableSearchKey(const std::optional<std::string>& key) {
  return key && !key->empty() && CharacterCount(*key) < kMaxNameChars && ParseGuid(*key);
}

// The job runs with this process's rights, so the caller must be this process's user and
// allowed to write the file: the update writes it.
HRESULT CheckCallerMayWrite(const std::string& file, const Caller& caller) {
  if (caller.uid != ::geteuid()) return E_ACCESSDENIED;
  return ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0 ? S_OK : E_ACCESSDENIED;
}

}  // namespace

PendingConfig ReadPendingConfig(const platform::Registry& registry) {
  PendingConfig c;
  c.retryLimit = ReadDword(registry, platform::Hive::LocalMachine, kFilesKey,
                           kUpdatePendingRetriesValue, kDefaultUpdatePendingRetries, 0,
                           kMaxUpdatePendingRetries);
  c.delayMs = ReadDword(registry, platform::Hive::LocalMachine, kFilesKey,
                        kUpdatePendingTimeoutValue, kDefaultUpdatePendingTimeout,
                        kMinUpdatePendingTimeout, kMaxUpdatePendingTimeout) *
              1000;
  return c;
}

std::uint32_t JobTimeOfDay(std::uint32_t localMsOfDay, std::uint32_t delayMs) {
  std::uint64_t t = static_cast<std::uint64_t>(localMsOfDay) + delayMs;
  if (t >= kMillisecondsPerDay) t -= kMillisecondsPerDay;
  return static_cast<std::uint32_t>(t);
}

std::uint32_t LocalMsOfDay(FileTime utc) {
  const std::int64_t ticks = static_cast<std::int64_t>(utc);
  const time_t secs = static_cast<time_t>(ticks / static_cast<std::int64_t>(kFileTimeTicksPerSecond) -
                                          kFileTimeUnixEpochSeconds);
  const auto ms = static_cast<std::uint32_t>((ticks % kFileTimeTicksPerSecond) / 10'000);
  tm local{};
  if (!::localtime_r(&secs, &local)) return 0;
  return ((static_cast<std::uint32_t>(local.tm_hour) * 60 + local.tm_min) * 60 +
          static_cast<std::uint32_t>(std::min(local.tm_sec, 59))) *
             1000 +
         ms;
}

SystemTime ToSystemTime(FileTime ft) {
  const auto ms = static_cast<std::int64_t>(ft / 10'000) - kFileTimeUnixEpochSeconds * 1000;
  return SystemTime(std::chrono::milliseconds(ms));
}

std::size_t CharacterCount(std::string_view s) { return Utf8ToUtf16Escaped(s).size(); }

std::vector<std::string> UpdaterArguments(const std::string& program, const PendingUpdate& u) {
  std::vector<std::string> argv{program, "\"" + u.file + "\""};
  for (std::uint32_t v : {u.units, u.visits, High(u.start), Low(u.start), High(u.finish),
                          Low(u.finish), u.workingTime, u.activeTime, u.scope, u.retry + 1}) {
    argv.push_back(Hex(v));
  }
  if (UsableSearchKey(u.searchKey)) argv.push_back(*u.searchKey);
  return argv;
}

std::string UpdaterCommandLine(const std::vector<std::string>& argv) {
  if (argv.empty()) return {};
  std::string line = argv[0].find(' ') != std::string::npos ? "\"" + argv[0] + "\"" : argv[0];
  for (std::size_t i = 1; i < argv.size(); ++i) line += ' ' + argv[i];
  return line;
}

HRESULT UpdaterPath(std::filesystem::path& out) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n < 0) return HresultFromErrno(errno);
  if (static_cast<std::size_t>(n) >= sizeof buf) return E_UNEXPECTED;
  out = std::filesystem::path(std::string(buf, static_cast<std::size_t>(n))).parent_path() /
        kUpdaterProgram;
  return S_OK;
}

HRESULT SchedulePendingUpdate(const Context& ctx, const PendingUpdate& update,
                              const Caller& caller) {
  std::filesystem::path updater;
  if (const HRESULT hr = UpdaterPath(updater); Failed(hr)) return hr;
  return SchedulePendingUpdate(ctx, update, caller, updater);
}

HRESULT SchedulePendingUpdate(const Context& ctx, const PendingUpdate& update,
                              const Caller& caller, const std::filesystem::path& updater) {
  {
    std::shared_ptr<IKivFileRanking> store;
    if (const HRESULT hr = ctx.classes.CreateInstance(CLSID_FileRanking, store); Failed(hr)) {
      return hr;
    }
    if (const HRESULT hr = store->AccessCheck(&update.file, VARIANT_TRUE); Failed(hr)) return hr;
  }
  if (const HRESULT hr = CheckCallerMayWrite(update.file, caller); Failed(hr)) return hr;

  if (CharacterCount(update.file) >= kMaxNameChars) return E_INVALIDARG;
  const PendingConfig config = ReadPendingConfig(ctx.registry);
  if (update.retry >= config.retryLimit) {
    // Given up: without this event the visit would vanish without a trace.
    ReportEvent(ctx, platform::EventType::Warning, kCategoryProvider, kEventPendingUpdateDropped,
                {update.file, std::to_string(update.retry)});
    return S_FALSE;
  }

  const std::vector<std::string> argv = UpdaterArguments(updater.string(), update);
  if (updater.empty() || !updater.is_absolute() ||
      CharacterCount(UpdaterCommandLine(argv)) > kMaxCommandLineChars) {
    return E_UNEXPECTED;
  }

  // The job runs at the next occurrence of its time of day, which with a delay under a day
  // is the delay from now; kept as an absolute time, so a job whose time passed while no
  // service ran is due at once when one starts.
  const FileTime now = ctx.clock.Now();
  const std::uint32_t localMs = LocalMsOfDay(now);
  const std::uint32_t jobTime = JobTimeOfDay(localMs, config.delayMs);
  const std::uint32_t wait = (jobTime + kMillisecondsPerDay - localMs) % kMillisecondsPerDay;
  platform::ScheduledJob job{ToSystemTime(now) + std::chrono::milliseconds(wait), caller.uid,
                             argv};

  platform::JobTable table(platform::JobTable::FolderUnder(ctx.root));
  platform::JobTableDamage damage;
  const HRESULT hr = table.Add(job, &damage);
  ReportJobTableDamage(ctx, table, damage);
  return hr;
}

void ReportJobTableDamage(const Context& ctx, const platform::JobTable& table,
                          const platform::JobTableDamage& damage) {
  if (damage.badLines == 0) return;
  ReportEvent(ctx, platform::EventType::Error, kCategoryProvider, kEventJobTableDamaged,
              {table.path().string(), std::to_string(damage.badLines),
               damage.savedCopy.string()});
}

}  // namespace qv::service
