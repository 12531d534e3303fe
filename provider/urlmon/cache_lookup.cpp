#include "provider/urlmon/cache_lookup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "context/event_report.h"
#include "platform/urlcache/file_io.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/private_urls.h"

namespace qv::urlmon {
namespace fs = std::filesystem;
using platform::CacheEntry;
using platform::Fd;

namespace {

HRESULT NotFound() { return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND); }

HRESULT ReadBlock(int fd, std::vector<std::uint8_t>& buf, std::size_t& got) {
  while (true) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return S_OK;
    }
    if (errno != EINTR) return HresultFromErrno(errno);
  }
}

HRESULT WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return HresultFromErrno(errno);
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return S_OK;
}

// Byte count and content hash of a copy, as the browser add-on computes them.
HRESULT MeasureCopy(const fs::path& file, std::uint32_t& count, std::uint32_t& hash) {
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return HresultFromErrno(errno);
  std::vector<std::uint8_t> buf(kArchiveBlock);
  std::uint64_t total = 0;
  hash = 0;
  for (std::size_t got = 0;;) {
    if (const HRESULT hr = ReadBlock(fd.get(), buf, got); Failed(hr)) return hr;
    if (got == 0) break;
    hash = ContinueScopeHash(hash, std::span(buf.data(), got));
    total += got;
  }
  if (total > 0xFFFFFFFFu) return HresultFromWin32(win32::ERROR_ARITHMETIC_OVERFLOW);
  count = static_cast<std::uint32_t>(total);
  return S_OK;
}

HRESULT CopyFile(const fs::path& from, const fs::path& to) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return HresultFromErrno(errno);
  Fd out(::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!out) return HresultFromErrno(errno);
  std::vector<std::uint8_t> buf(kArchiveBlock);
  for (std::size_t got = 0;;) {
    if (const HRESULT hr = ReadBlock(in.get(), buf, got); Failed(hr)) return hr;
    if (got == 0) break;
    if (const HRESULT hr = WriteAll(out.get(), buf.data(), got); Failed(hr)) return hr;
  }
  return ::fsync(out.get()) == 0 ? S_OK : HresultFromErrno(errno);
}

}  // namespace

HRESULT LookupPartEntry(const platform::UrlCache& cache, std::string_view u, DATE verTime,
                        CacheEntry& out) {
  std::string indexUrl;
  if (const HRESULT hr = VersionIndexUrl(u, indexUrl); Failed(hr)) return hr;
  const auto when = DateToFileTime(verTime);
  if (!when) return E_INVALIDARG;

  std::vector<VersionRecord> records;
  CacheEntry index;
  if (cache.RetrieveEntryFile(indexUrl, index) == 0) {
    std::vector<std::uint8_t> bytes;
    if (platform::ReadWholeFile(index.localFile, kMaxVersionIndex, bytes) == 0) {
      records = ParseVersionIndex(bytes);
    }
  }
  const VersionRecord* rec = LastRecordAtOrBefore(records, *when);
  CacheEntry live;
  const bool haveLive = cache.RetrieveEntryFile(u, live) == 0;
  if (!rec) {
    if (!haveLive) return NotFound();
    out = std::move(live);
    return S_OK;
  }
  std::string contentUrl;
  if (const HRESULT hr = ContentUrl(u, rec->byteCount, rec->contentHash, contentUrl); Failed(hr)) {
    return hr;
  }
  CacheEntry archived;
  const bool haveArchived = cache.RetrieveEntryFile(contentUrl, archived) == 0;
  // The live copy is the newer one when it was fetched after the capture and before the visit.
  const bool liveIsNewer = haveLive && live.lastSync > rec->captured && live.lastSync < *when;
  if (haveLive && (liveIsNewer || !haveArchived)) {
    out = std::move(live);
  } else if (haveArchived) {
    out = std::move(archived);
  } else {
    return NotFound();
  }
  return S_OK;
}

HRESULT ArchiveLiveEntry(const Context& ctx, platform::UrlCache& cache, std::string_view u,
                         const CacheEntry& live, CacheEntry& out) {
  auto fail = [&](HRESULT hr) {
    ReportItemWarning(ctx, kCategoryProvider, kEventArchiveFailed, u, hr);
    return hr;
  };
  std::uint32_t count = 0, hash = 0;
  if (const HRESULT hr = MeasureCopy(live.localFile, count, hash); Failed(hr)) return fail(hr);
  if (count == 0) return S_FALSE;
  std::string contentUrl;
  if (const HRESULT hr = ContentUrl(u, count, hash, contentUrl); Failed(hr)) return fail(hr);

  CacheEntry existing;
  if (cache.GetEntry(contentUrl, existing) != 0) {
    fs::path file;
    if (const auto err = cache.CreateEntryFile(contentUrl, "htm", file); err != 0) {
      return fail(HresultFromWin32(err));
    }
    auto discard = [&](HRESULT hr) {
      std::error_code ec;
      if (!fs::remove(file, ec) && ec) {
        ReportItemWarning(ctx, kCategoryProvider, kEventArchiveDeleteFailed, file.string(),
                          HresultFromErrno(ec.value()));
      }
      return hr;
    };
    if (const HRESULT hr = CopyFile(live.localFile, file); Failed(hr)) return discard(fail(hr));
    platform::CommitOptions options;
    options.headers = live.headers;
    options.originalUrl = std::string(u);
    options.keepExisting = true;  // another process may have archived the same content
    if (const auto err = cache.CommitEntry(contentUrl, file, options); err != 0) {
      discard(S_OK);
      if (err != win32::ERROR_ALREADY_EXISTS) return fail(HresultFromWin32(err));
    }
    platform::CacheGroupId group = 0;
    std::int32_t err = cache.FindOrCreateGroup(kArchiveGroupName, group);
    if (err == 0) err = cache.AddEntryToGroup(contentUrl, group);
    if (err != 0) fail(HresultFromWin32(err));  // the copy stays usable outside the group
  }
  if (const auto err = cache.RetrieveEntryFile(contentUrl, out); err != 0) {
    return fail(HresultFromWin32(err));
  }
  return S_OK;
}

}  // namespace qv::urlmon
