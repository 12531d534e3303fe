#include "provider/journal/journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <system_error>

#include "platform/fs/private_files.h"
#include "platform/propset/property_set_format.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal_paths.h"
#include "provider/journal/not_indexed.h"
#include "provider/journal/unique_fd.h"

namespace qv::journal {
namespace {

// An empty marker whose last-write time is the visit's start. Linux keeps no settable
// creation time, so the last-write time is the one that carries it.
HRESULT CreateMarker(const std::filesystem::path& marker, FileTime start) {
  UniqueFd fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return HresultFromErrno(errno);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = FileTimeToTimespec(start);
  if (::futimens(fd.get(), times) != 0) return HresultFromErrno(errno);
  return S_OK;
}

// Finds the entry whose FMTID is `entry` among the day file's records; the FMTID sits at a
// fixed place in each stream, so only the matching record is parsed.
HRESULT FindEntry(std::span<const std::uint8_t> image, const Guid& entry,
                  platform::PropertySet& out) {
  const HRESULT header = CheckDayFileHeader(image);
  if (Failed(header)) return header;
  if (header == S_FALSE) return STG_E_FILENOTFOUND;
  const auto wanted = GuidToBytes(entry);
  constexpr std::size_t at = platform::propset_format::kStreamHeaderSize;
  DayFileReader reader(image, dayfile::kFileHeaderSize);
  DayFileRecord record;
  while (reader.Next(record)) {
    if (record.payload.size() < at + wanted.size() ||
        !std::equal(wanted.begin(), wanted.end(), record.payload.begin() + at)) {
      continue;
    }
    return platform::ParsePropertySet(record.payload, out);
  }
  return STG_E_FILENOTFOUND;
}

}  // namespace

Journal::Journal(const Context& ctx, std::shared_ptr<JournalNotifier> notifier,
                 std::chrono::milliseconds lockWait, DayFileAppender::SyncData sync)
    : journalRoot_(JournalRoot(ctx.root)),
      notifier_(std::move(notifier)),
      appender_(ctx.clock, lockWait, std::move(sync)) {}

HRESULT Journal::LogEntry(BstrIn bstrUrl, DATE dateStart, DATE dateEnd, std::uint32_t WorkingTime,
                          std::uint32_t ActiveTime, std::uint32_t lType, std::uint32_t lPST,
                          BstrIn bstrCachedUrl, BstrIn bstrSearchKey, BstrIn bstrParentFolder,
                          BstrIn bstrPrefix, BstrIn bstrTitle, BstrIn bstrTo, BstrIn bstrFrom,
                          std::uint32_t lMessageFlags, BstrIn bstrOtherInfo,
                          std::string* pbstrJournalEntry) {
  EntryFields f;
  f.url = bstrUrl;
  f.start = dateStart;
  f.end = dateEnd;
  f.workingTime = WorkingTime;
  f.activeTime = ActiveTime;
  f.type = lType;
  f.pst = lPST;
  f.cachedUrl = bstrCachedUrl;
  f.searchKey = bstrSearchKey;
  f.parentFolder = bstrParentFolder;
  f.prefix = bstrPrefix;
  f.title = bstrTitle;
  f.to = bstrTo;
  f.from = bstrFrom;
  f.messageFlags = lMessageFlags;
  f.otherInfo = bstrOtherInfo;
  return LogEntry(f, pbstrJournalEntry);
}

HRESULT Journal::LogEntry(const EntryFields& f, std::string* markerPath) {
  if (!f.url || f.url->empty()) return E_INVALIDARG;
  // 0.0 means "not set" and would file the entry under 30 December 1899.
  if (f.start == kDateNotSet || !std::isfinite(f.end)) return E_INVALIDARG;
  const auto startTime = DateToFileTime(f.start);
  const auto localStart = LocalSystemTimeOf(f.start);
  if (!startTime || !localStart) return E_INVALIDARG;

  const CivilDay day = DayOf(*localStart);
  const std::string dayKey = DayKey(day);
  const std::filesystem::path folder = DayFolder(journalRoot_, day);

  Guid entry;
  if (const HRESULT hr = NewGuid(entry); Failed(hr)) return hr;
  const std::filesystem::path marker = folder / MarkerName(entry);
  // A path the system would have to cut names some other file.
  if (marker.native().size() > kMaxPathBytes) return E_INVALIDARG;

  const std::vector<std::uint8_t> payload =
      platform::SerializePropertySet(MakeEntrySet(entry, f));
  // Readers refuse records above this size, so such an entry could never be read back.
  if (payload.size() > dayfile::kMaxPayload) return E_INVALIDARG;

  const std::filesystem::path dayFile = folder / kDayFileName;
  bool created = false;
  {
    std::lock_guard lock(mutex_);
    HRESULT hr = appender_.Append(dayFile, payload, created);
    if (hr == STG_E_PATHNOTFOUND) {
      // The day's first entry: make its folders (with any missing parents), then write.
      std::error_code ec;
      ec = platform::CreatePrivateFolders(folder);
      if (ec) return HresultFromErrno(ec.value());
      hr = appender_.Append(dayFile, payload, created);
    }
    if (Failed(hr)) return hr;
  }
  if (created) {
    // Only the markers are indexed. Best effort: the entry is written either way, and some
    // file systems (tmpfs) keep no inode flags. Linux has no hidden attribute to set.
    [[maybe_unused]] const HRESULT ignored = MarkNotContentIndexed(dayFile);
  }

  // The record is on disk by now (the appender synced it), so the marker never names a
  // record that a power loss took. Without its marker the entry stays in the data file but
  // is never indexed or shown.
  if (const HRESULT hr = CreateMarker(marker, *startTime); Failed(hr)) return hr;
  if (markerPath) *markerPath = marker.string();

  if (notifier_) notifier_->Notify(dayKey, EncodeNotification(entry, *localStart));
  return S_OK;
}

HRESULT Journal::UpdateSearchKey(BstrIn, const Guid*) { return E_NOTIMPL; }

HRESULT Journal::GetSearchContents(std::string_view markerPath, SearchContents& out) {
  out = SearchContents{};
  Guid entry;
  std::filesystem::path dayFile;
  const HRESULT parsed = ParseMarkerPath(markerPath, entry, dayFile);
  if (parsed != S_OK) return parsed;

  std::vector<std::uint8_t> image;
  if (const HRESULT hr = ReadDayFileImage(dayFile, image); Failed(hr)) return hr;
  platform::PropertySet set;
  if (const HRESULT hr = FindEntry(image, entry, set); Failed(hr)) return hr;
  out = SearchContentsOf(set);
  return S_OK;
}

HRESULT Journal::GetSearchContents(BstrIn bstrFile, std::string* pbstrContents,
                                   std::uint32_t* pPST, std::uint32_t* pAttn,
                                   std::uint32_t* pDuration, std::string* Description) {
  // Outputs are defined on every return, so no caller can read a value left from before.
  if (pbstrContents) pbstrContents->clear();
  if (Description) Description->clear();
  if (pPST) *pPST = 0;
  if (pAttn) *pAttn = 0;
  if (pDuration) *pDuration = 0;
  if (!bstrFile || !pbstrContents) return E_INVALIDARG;

  SearchContents found;
  const HRESULT hr = GetSearchContents(*bstrFile, found);
  if (hr != S_OK) return hr;
  *pbstrContents = std::move(found.text);
  if (Description) *Description = std::move(found.description);
  if (pPST) *pPST = found.pst.value_or(0);
  if (pAttn) *pAttn = found.attention.value_or(0);
  if (pDuration) *pDuration = found.duration.value_or(0);
  return S_OK;
}

void RegisterJournalClass(platform::ClassRegistry& classes, const Context& ctx,
                          std::shared_ptr<JournalNotifier> notifier) {
  classes.Register(CLSID_Journal, kJournalProgId, kJournalProgIdIndependent,
                   [&ctx, notifier](std::shared_ptr<platform::ComObject>& out) {
                     out = std::make_shared<Journal>(ctx, notifier);
                     return S_OK;
                   });
}

}  // namespace qv::journal
