#include "shell/uiutils/forget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <system_error>

#include "platform/propset/property_set.h"
#include "platform/urlcache/url_cache.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal_entry.h"
#include "provider/journal/journal_paths.h"
#include "provider/journal/unique_fd.h"
#include "provider/ranking/file_ranking.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/shortcut_file.h"
#include "shell/uiutils/journal_clearing.h"

namespace qv::uiutils {
namespace {

namespace fs = std::filesystem;
using journal::UniqueFd;

constexpr DATE kHour = 1.0 / 24.0;
// Entries are filed under the day their visit started, so a visit that ended inside the span
// may sit in an earlier day: days this much before the span's start are searched too.
constexpr DATE kLongestVisit = 1.0;
constexpr std::uint64_t kProgressStep = 30;

struct Visit {
  Guid entry;
  std::uint32_t type = journal::kTypeDocument;
  std::string url;
  std::string cachedUrl;
};

std::string Describe(const fs::path& p, HRESULT hr) {
  return p.string() + ": " + FormatHresult(hr);
}

std::optional<DATE> DateOf(const platform::PropertySet& set, std::uint32_t pid) {
  auto it = set.values.find(pid);
  if (it == set.values.end() || it->second.vt != platform::VT_DATE) return std::nullopt;
  return it->second.date;
}

std::string TextOf(const platform::PropertySet& set, std::uint32_t pid) {
  auto it = set.values.find(pid);
  if (it == set.values.end() || it->second.vt != platform::VT_LPWSTR) return {};
  return it->second.str;
}

// Whether the stored entry's visit touched the span starting at `cutoff` (no cutoff: all).
bool InSpan(const platform::PropertySet& set, std::optional<DATE> cutoff) {
  if (!cutoff) return true;
  const auto start = DateOf(set, journal::kPidStart);
  const auto end = DateOf(set, journal::kPidEnd);
  return (start && *start >= *cutoff) || (end && *end >= *cutoff);
}

Visit VisitOf(const platform::PropertySet& set) {
  Visit v;
  v.entry = set.fmtid;
  auto type = set.values.find(journal::kPidType);
  if (type != set.values.end() && type->second.vt == platform::VT_UI4) v.type = type->second.ui4;
  v.url = TextOf(set, journal::kPidUrl);
  v.cachedUrl = TextOf(set, journal::kPidCachedUrl);
  return v;
}

bool ParseNumber(const std::string& s, int& out) {
  if (s.empty() || s.size() > 4 || s[0] == '0') return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// The day folders of the journal (real folders only, links are not followed), oldest first.
std::vector<std::pair<CivilDay, fs::path>> JournalDays(const fs::path& root) {
  std::vector<std::pair<CivilDay, fs::path>> days;
  auto subfolders = [](const fs::path& folder) {
    std::vector<std::pair<int, fs::path>> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      int n = 0;
      if (it->symlink_status(ec).type() != fs::file_type::directory) continue;
      if (ParseNumber(it->path().filename().string(), n)) out.emplace_back(n, it->path());
    }
    return out;
  };
  for (const auto& [y, yp] : subfolders(root)) {
    for (const auto& [m, mp] : subfolders(yp)) {
      for (const auto& [d, dp] : subfolders(mp)) days.push_back({CivilDay{y, m, d}, dp});
    }
  }
  std::sort(days.begin(), days.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first.year, a.first.month, a.first.day) <
           std::tie(b.first.year, b.first.month, b.first.day);
  });
  return days;
}

bool CheckDayFileHeaderOk(std::span<const std::uint8_t> image) {
  return journal::CheckDayFileHeader(image) == S_OK;
}

// Calls `each` for every entry of a day-file image.
template <typename F>
void ForEachEntry(std::span<const std::uint8_t> image, F&& each) {
  if (CheckDayFileHeaderOk(image)) {
    journal::DayFileReader reader(image, journal::dayfile::kFileHeaderSize);
    journal::DayFileRecord record;
    while (reader.Next(record)) {
      platform::PropertySet set;
      if (Succeeded(platform::ParsePropertySet(record.payload, set))) each(record, set);
    }
  }
}

HRESULT ReadAllFd(int fd, std::vector<std::uint8_t>& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return HresultFromErrno(errno);
  if (static_cast<std::uint64_t>(st.st_size) > journal::dayfile::kMaxFileSize) {
    return STG_E_DOCFILECORRUPT;
  }
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HresultFromErrno(errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return S_OK;
}

HRESULT WriteAllFd(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + put, bytes.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HresultFromErrno(errno);
    put += static_cast<std::size_t>(n);
  }
  return S_OK;
}

}  // namespace

bool ParseForgetSpan(std::string_view text, ForgetSpan& out) {
  if (text == "last-hour") {
    out = ForgetSpan::LastHour;
  } else if (text == "last-day") {
    out = ForgetSpan::LastDay;
  } else if (text == "everything") {
    out = ForgetSpan::Everything;
  } else {
    return false;
  }
  return true;
}

Forgetter::Forgetter(const Context& ctx, std::chrono::milliseconds lockWait)
    : ctx_(ctx), lockWait_(lockWait) {}

namespace {

// Removes the entries in the span from one day's data file, under the journal writer's
// lock: the kept records go to a new file that replaces the old one in one rename, then the
// removed entries' markers go. A writer waiting for the lock finds the new file.
HRESULT RewriteDay(const fs::path& folder, std::optional<DATE> cutoff, const Clock& clock,
                   std::chrono::milliseconds wait, std::uint64_t& removed) {
  removed = 0;
  const fs::path dataPath = folder / std::string(journal::kDayFileName);
  UniqueFd data(::open(dataPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!data) return errno == ENOENT ? S_OK : HresultFromErrno(errno);
  struct stat st {};
  if (::fstat(data.get(), &st) != 0 || !S_ISREG(st.st_mode)) return STG_E_ACCESSDENIED;
  if (const HRESULT hr = LockDayFile(data.get(), clock, wait); Failed(hr)) return hr;
  // Another remover may have replaced the file while this one waited.
  struct stat named {};
  if (::lstat(dataPath.c_str(), &named) != 0 || named.st_ino != st.st_ino ||
      named.st_dev != st.st_dev) {
    return STG_E_LOCKVIOLATION;
  }
  std::vector<std::uint8_t> image;
  if (const HRESULT hr = ReadAllFd(data.get(), image); Failed(hr)) return hr;
  if (!CheckDayFileHeaderOk(image)) return S_OK;  // not a day file of ours: left alone

  std::vector<std::uint8_t> kept = journal::DayFileHeader();
  const std::size_t headerOnly = kept.size();
  std::vector<Guid> gone;
  ForEachEntry(image, [&](const journal::DayFileRecord& record, const platform::PropertySet& set) {
    if (InSpan(set, cutoff)) {
      gone.push_back(set.fmtid);
    } else {
      const auto bytes = journal::EncodeDayFileRecord(record.payload);
      kept.insert(kept.end(), bytes.begin(), bytes.end());
    }
  });
  if (gone.empty()) return S_OK;

  const fs::path temp = folder / (".forget-" + std::to_string(::getpid()));
  if (kept.size() == headerOnly) {
    // Nothing is left of the day: its file goes, and its folder once it is empty.
    if (::unlink(dataPath.c_str()) != 0) return HresultFromErrno(errno);
  } else {
    // A run cut short may have left its file; under the lock no one else writes it.
    ::unlink(temp.c_str());
    UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) return HresultFromErrno(errno);
    HRESULT hr = WriteAllFd(out.get(), kept);
    if (Succeeded(hr) && ::fsync(out.get()) != 0) hr = HresultFromErrno(errno);
    if (Succeeded(hr) && ::rename(temp.c_str(), dataPath.c_str()) != 0) {
      hr = HresultFromErrno(errno);
    }
    if (Failed(hr)) {
      ::unlink(temp.c_str());
      return hr;
    }
  }
  for (const Guid& g : gone) {
    const fs::path marker = folder / journal::MarkerName(g);
    if (::unlink(marker.c_str()) != 0 && errno != ENOENT) return HresultFromErrno(errno);
    ++removed;
  }
  if (kept.size() == headerOnly) ::rmdir(folder.c_str());  // kept when a writer began anew
  // The lock goes with the old file's descriptor, closed here.
  return S_OK;
}

}  // namespace

HRESULT Forgetter::Forget(ForgetSpan span,
                          const std::function<void(const ForgetProgress&)>& progress,
                          ForgetSummary& summary) {
  summary = {};
  auto report = [&](std::string_view step, std::uint64_t done, std::uint64_t total) {
    if (progress) progress({step, done, total});
  };
  std::optional<DATE> cutoff;
  const DATE now = ctx_.clock.NowDate();
  if (span == ForgetSpan::LastHour) cutoff = now - kHour;
  if (span == ForgetSpan::LastDay) cutoff = now - 24 * kHour;

  // 1. What the journal says was visited in the span.
  const fs::path journalRoot = journal::JournalRoot(ctx_.root);
  std::vector<fs::path> touchedDays;
  std::vector<Visit> visits;
  {
    const auto days = JournalDays(journalRoot);
    const std::optional<CivilDay> firstDay =
        cutoff ? std::optional<CivilDay>(LocalDayOf(*cutoff - kLongestVisit)) : std::nullopt;
    std::uint64_t n = 0;
    for (const auto& [day, folder] : days) {
      if (++n % kProgressStep == 0) report("reading the journal", n, days.size());
      if (firstDay && std::tie(day.year, day.month, day.day) <
                          std::tie(firstDay->year, firstDay->month, firstDay->day)) {
        continue;
      }
      std::vector<std::uint8_t> image;
      const HRESULT hr =
          journal::ReadDayFileImage(folder / std::string(journal::kDayFileName), image);
      if (Failed(hr)) {
        if (hr != STG_E_FILENOTFOUND && hr != STG_E_PATHNOTFOUND) {
          summary.errors.push_back(Describe(folder, hr));
        }
        continue;
      }
      bool any = false;
      ForEachEntry(image, [&](const journal::DayFileRecord&, const platform::PropertySet& set) {
        if (!InSpan(set, cutoff)) return;
        visits.push_back(VisitOf(set));
        any = true;
      });
      if (any) touchedDays.push_back(folder);
    }
  }

  // 2. Ranking records of the files visited.
  {
    std::set<std::string> files;
    for (const Visit& v : visits) {
      if (v.type == journal::kTypeDocument && !v.url.empty()) files.insert(v.url);
    }
    FileRanking ranking(ctx_);
    std::uint64_t n = 0;
    for (const std::string& file : files) {
      if (++n % kProgressStep == 0) report("removing ranking records", n, files.size());
      VARIANT_BOOL valid = VARIANT_FALSE;
      std::string key;
      ULONG working = 0, active = 0, count = 0, scale = 0;
      DATE first = 0, last = 0;
      float activation = 0;
      if (Failed(ranking.GetStatistics(&file, &valid, &key, &working, &active, &count, &first,
                                       &last, &activation, &scale)) ||
          valid == VARIANT_FALSE) {
        continue;  // no record, or the file is gone
      }
      if (const HRESULT hr = ranking.DeleteRank(&file); Failed(hr)) {
        summary.errors.push_back(Describe(file, hr));
      } else {
        ++summary.rankingRecords;
      }
    }
  }

  // 3. Web pages: their shortcuts and the cached copies these name.
  {
    const fs::path webRoot = urlmon::WebHistoryRoot(ctx_.root);
    std::set<fs::path> shortcuts;
    for (const Visit& v : visits) {
      urlmon::HistoryUrl h;
      if (v.cachedUrl.empty() || Failed(urlmon::ParseHistoryUrl(v.cachedUrl, h))) continue;
      shortcuts.insert(urlmon::ShortcutPath(webRoot, h.name));
    }
    if (span == ForgetSpan::Everything) {
      for (std::uint32_t b = 0; b < urlmon::kBucketCount; ++b) {
        std::error_code ec;
        for (fs::directory_iterator it(urlmon::BucketFolder(webRoot, b), ec), end;
             !ec && it != end; it.increment(ec)) {
          if (it->path().extension() == urlmon::kShortcutExtension) shortcuts.insert(it->path());
        }
      }
    }
    platform::UrlCache cache(ctx_.root, ctx_.clock);
    // Which cache entry holds which copy file.
    std::map<fs::path, std::string> entryOfFile;
    if (!shortcuts.empty()) {
      std::vector<std::string> urls;
      cache.EnumEntries(urls);
      for (const std::string& u : urls) {
        platform::CacheEntry e;
        if (cache.GetEntry(u, e) == 0) entryOfFile[e.localFile] = u;
      }
    }
    std::uint64_t n = 0;
    for (const fs::path& shortcut : shortcuts) {
      if (++n % kProgressStep == 0) report("removing web history", n, shortcuts.size());
      urlmon::Shortcut s;
      const HRESULT read = urlmon::ReadShortcutFile(shortcut, s);
      if (Succeeded(read)) {
        for (const urlmon::PagePart& part : s.parts) {
          fs::path copy;
          if (Failed(urlmon::ResolveCopyPath(cache.folder(), part.copy, copy))) continue;
          auto it = entryOfFile.find(copy);
          if (it == entryOfFile.end()) continue;
          if (const std::int32_t err = cache.DeleteEntry(it->second);
              err != 0 && err != win32::ERROR_FILE_NOT_FOUND) {
            summary.errors.push_back(Describe(copy, HresultFromWin32(err)));
          } else if (err == 0) {
            ++summary.cachedCopies;
          }
          entryOfFile.erase(it);
        }
      }
      if (::unlink(shortcut.c_str()) == 0) {
        ++summary.shortcuts;
      } else if (errno != ENOENT) {
        summary.errors.push_back(Describe(shortcut, HresultFromErrno(errno)));
      }
    }
  }

  // 4. The journal entries themselves, last.
  if (span == ForgetSpan::Everything) {
    JournalClearer clearer(journalRoot, ctx_.clock, lockWait_);
    ClearCallbacks cb;
    cb.error = [&](const fs::path& p, HRESULT hr) { summary.errors.push_back(Describe(p, hr)); };
    cb.progress = [&](const ClearProgress& p) {
      report("clearing the journal", p.items, 0);
      return true;
    };
    ClearProgress done;
    clearer.ClearAll(true, cb, done);
    summary.journalEntries = visits.size();
    summary.journalDays = touchedDays.size();
  } else {
    std::uint64_t n = 0;
    for (const fs::path& folder : touchedDays) {
      report("removing journal entries", ++n, touchedDays.size());
      std::uint64_t removed = 0;
      if (const HRESULT hr = RewriteDay(folder, cutoff, ctx_.clock, lockWait_, removed);
          Failed(hr)) {
        summary.errors.push_back(Describe(folder, hr));
      }
      summary.journalEntries += removed;
      if (removed > 0) ++summary.journalDays;
    }
  }
  return summary.errors.empty() ? S_OK : S_FALSE;
}

}  // namespace qv::uiutils
