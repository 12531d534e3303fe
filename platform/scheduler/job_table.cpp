#include "platform/scheduler/job_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <limits>
#include <memory>

#include "platform/fs/private_files.h"

namespace qv::platform {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result, which matters after writing.
  int Close() {
    const int r = ::close(fd_);
    fd_ = -1;
    return r;
  }

 private:
  int fd_;
};

std::uint32_t Fnv1a(std::string_view s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

bool NeedsEscape(unsigned char c) { return c <= 0x20 || c == 0x7F || c == '%'; }

void AppendEscaped(std::string& out, std::string_view arg) {
  for (unsigned char c : arg) {
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower case is never written, so it is not accepted either
}

// The exact inverse of AppendEscaped: every escape must be needed and written as we write it.
std::optional<std::string> Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    if (c != '%') {
      if (NeedsEscape(c)) return std::nullopt;
      out += static_cast<char>(c);
      continue;
    }
    if (i + 2 >= field.size()) return std::nullopt;
    const int hi = HexValue(field[i + 1]), lo = HexValue(field[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const unsigned char v = static_cast<unsigned char>(hi * 16 + lo);
    if (v == 0 || !NeedsEscape(v)) return std::nullopt;
    out += static_cast<char>(v);
    i += 2;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

template <class T>
std::optional<T> ParseDecimal(std::string_view s) {
  if (s.empty() || (s.size() > 1 && s[0] == '0')) return std::nullopt;
  T v{};
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

std::int64_t ToMillis(SystemTime t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

std::string FormatLine(const ScheduledJob& job) {
  std::string line = std::to_string(ToMillis(job.due)) + ' ' + std::to_string(job.uid);
  for (const auto& a : job.argv) {
    line += ' ';
    AppendEscaped(line, a);
  }
  char sum[9];
  const std::uint32_t h = Fnv1a(line);
  for (int i = 0; i < 8; ++i) sum[i] = "0123456789abcdef"[(h >> (28 - 4 * i)) & 0xF];
  sum[8] = '\0';
  line += ' ';
  line += sum;
  return line;
}

std::optional<ScheduledJob> ParseLine(std::string_view line) {
  if (line.size() > kMaxJobLineBytes) return std::nullopt;
  const std::size_t lastBlank = line.rfind(' ');
  if (lastBlank == std::string_view::npos) return std::nullopt;
  const std::string_view body = line.substr(0, lastBlank);
  const std::string_view sum = line.substr(lastBlank + 1);
  if (sum.size() != 8) return std::nullopt;
  std::uint32_t stored = 0;
  for (char c : sum) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) return std::nullopt;
    stored = stored << 4 | static_cast<std::uint32_t>(v);
  }
  if (stored != Fnv1a(body)) return std::nullopt;

  std::vector<std::string_view> fields;
  for (std::size_t pos = 0;;) {
    const std::size_t blank = body.find(' ', pos);
    fields.push_back(body.substr(pos, blank - pos));
    if (blank == std::string_view::npos) break;
    pos = blank + 1;
  }
  if (fields.size() < 3 || fields.size() - 2 > kMaxJobArgs) return std::nullopt;
  const auto millis = ParseDecimal<std::int64_t>(fields[0]);
  const auto uid = ParseDecimal<std::uint32_t>(fields[1]);
  if (!millis || !uid || *uid == static_cast<std::uint32_t>(-1)) return std::nullopt;
  ScheduledJob job;
  job.due = SystemTime(std::chrono::milliseconds(*millis));
  job.uid = static_cast<uid_t>(*uid);
  for (std::size_t i = 2; i < fields.size(); ++i) {
    auto arg = Unescape(fields[i]);
    if (!arg) return std::nullopt;
    job.argv.push_back(std::move(*arg));
  }
  if (job.argv[0].front() != '/') return std::nullopt;
  return job;
}

HRESULT ErrnoHr() { return HresultFromErrno(errno); }

HRESULT WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoHr();
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return S_OK;
}

// Writes `text` to `file` crash-safely: a temporary file beside it, fsync, rename, and an
// fsync of the folder so that the rename itself survives a power loss.
HRESULT ReplaceFile(const std::filesystem::path& folder, const std::filesystem::path& file,
                    std::string_view text) {
  const std::filesystem::path temp = file.string() + ".tmp";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
               kPrivateFileMode));
  if (fd.get() < 0) return ErrnoHr();
  HRESULT hr = WriteAll(fd.get(), text);
  if (Succeeded(hr) && ::fchmod(fd.get(), kPrivateFileMode) != 0) hr = ErrnoHr();
  if (Succeeded(hr) && ::fsync(fd.get()) != 0) hr = ErrnoHr();
  if (fd.Close() != 0 && Succeeded(hr)) hr = ErrnoHr();
  if (Succeeded(hr) && ::rename(temp.c_str(), file.c_str()) != 0) hr = ErrnoHr();
  if (Failed(hr)) {
    ::unlink(temp.c_str());
    return hr;
  }
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
  return S_OK;
}

// Holds the table's lock file under an exclusive flock for one read-modify-write.
class TableLock {
 public:
  HRESULT Acquire(const std::filesystem::path& folder) {
    if (const auto ec = CreatePrivateFolders(folder)) return HresultFromErrno(ec.value());
    fd_ = std::make_unique<Fd>(::open((folder / kJobTableLockFile).c_str(),
                                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                                      kPrivateFileMode));
    if (fd_->get() < 0) return ErrnoHr();
    while (::flock(fd_->get(), LOCK_EX) != 0) {
      if (errno != EINTR) return ErrnoHr();
    }
    return S_OK;
  }

 private:
  std::unique_ptr<Fd> fd_;  // closing the descriptor releases the lock
};

}  // namespace

bool IsStorableJob(const ScheduledJob& job) {
  if (job.argv.empty() || job.argv.size() > kMaxJobArgs || job.argv[0].front() != '/') {
    return false;
  }
  for (const auto& a : job.argv) {
    if (a.empty() || a.find('\0') != std::string::npos) return false;
  }
  return FormatLine(job).size() <= kMaxJobLineBytes;
}

std::string FormatJobTable(std::span<const ScheduledJob> jobs) {
  std::string text(kJobTableHeader);
  text += '\n';
  for (const auto& job : jobs) {
    text += FormatLine(job);
    text += '\n';
  }
  return text;
}

JobTableText ParseJobTable(std::string_view text) {
  JobTableText out;
  bool first = true;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    // A last line without its line feed was cut short: it counts as damaged.
    const bool complete = nl != std::string_view::npos;
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(complete ? nl + 1 : text.size());
    if (first) {
      first = false;
      if (line == kJobTableHeader && complete) continue;
      ++out.badLines;
      if (line.substr(0, 6) == "QvJobs") continue;  // another version's header, not a job
    }
    auto job = complete ? ParseLine(line) : std::nullopt;
    if (job) {
      out.jobs.push_back(std::move(*job));
    } else {
      ++out.badLines;
    }
  }
  return out;
}

HRESULT JobTable::Load(std::vector<ScheduledJob>& jobs, JobTableDamage* damage,
                       bool saveDamage) const {
  jobs.clear();
  if (damage) *damage = {};
  Fd fd(::open(path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return errno == ENOENT ? S_OK : ErrnoHr();
  std::string text;
  char buf[65536];
  bool truncated = false;
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoHr();
    }
    if (n == 0) break;
    const std::size_t room = kMaxJobTableBytes - text.size();
    text.append(buf, std::min(room, static_cast<std::size_t>(n)));
    if (static_cast<std::size_t>(n) > room) {
      truncated = true;
      break;
    }
  }
  JobTableText parsed = ParseJobTable(text);
  if (truncated) ++parsed.badLines;
  jobs = std::move(parsed.jobs);
  if (parsed.badLines > 0 && damage) {
    damage->badLines = parsed.badLines;
    const std::filesystem::path copy = folder_ / kJobTableDamagedFile;
    if (saveDamage && Succeeded(ReplaceFile(folder_, copy, text))) damage->savedCopy = copy;
  }
  return S_OK;
}

HRESULT JobTable::Store(std::span<const ScheduledJob> jobs) const {
  return ReplaceFile(folder_, path(), FormatJobTable(jobs));
}

HRESULT JobTable::Add(const ScheduledJob& job, JobTableDamage* damage) {
  if (!IsStorableJob(job)) return E_INVALIDARG;
  TableLock lock;
  if (const HRESULT hr = lock.Acquire(folder_); Failed(hr)) return hr;
  std::vector<ScheduledJob> jobs;
  if (const HRESULT hr = Load(jobs, damage, true); Failed(hr)) return hr;
  if (jobs.size() >= kMaxJobs) return HresultFromWin32(kErrorJobTableFull);
  jobs.push_back(job);
  return Store(jobs);
}

HRESULT JobTable::TakeDue(SystemTime now, std::vector<ScheduledJob>& due,
                          std::optional<SystemTime>& next, JobTableDamage* damage) {
  due.clear();
  next.reset();
  TableLock lock;
  if (const HRESULT hr = lock.Acquire(folder_); Failed(hr)) return hr;
  std::vector<ScheduledJob> jobs;
  JobTableDamage found;
  if (const HRESULT hr = Load(jobs, &found, true); Failed(hr)) return hr;
  if (damage) *damage = found;
  std::vector<ScheduledJob> keep;
  for (auto& job : jobs) {
    if (job.due <= now) {
      due.push_back(std::move(job));
    } else {
      if (!next || job.due < *next) next = job.due;
      keep.push_back(std::move(job));
    }
  }
  std::stable_sort(due.begin(), due.end(),
                   [](const ScheduledJob& a, const ScheduledJob& b) { return a.due < b.due; });
  // Rewritten when something was taken, and when damage was found, so it is reported once.
  if (!due.empty() || found.badLines > 0) {
    if (const HRESULT hr = Store(keep); Failed(hr)) {
      due.clear();
      return hr;
    }
  }
  return S_OK;
}

HRESULT JobTable::List(std::vector<ScheduledJob>& out, JobTableDamage* damage) const {
  return Load(out, damage, false);
}

}  // namespace qv::platform
