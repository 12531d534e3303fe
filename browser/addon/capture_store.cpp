#include "browser/addon/capture_store.h"

#include "browser/addon/addon_constants.h"
#include "context/event_report.h"
#include "platform/urlcache/file_io.h"
#include "provider/urlmon/cache_lookup.h"
#include "provider/urlmon/private_urls.h"

namespace qv::browser {
namespace {

std::int32_t AddToGroup(platform::UrlCache& cache, std::string_view url) {
  platform::CacheGroupId group = 0;
  std::int32_t err = cache.FindOrCreateGroup(urlmon::kArchiveGroupName, group);
  if (err == 0) err = cache.AddEntryToGroup(url, group);
  return err;
}

HRESULT StoreCopy(const Context& ctx, platform::UrlCache& cache, PageCapture& capture,
                  const std::string& contentUrl) {
  auto fail = [&](HRESULT hr) {
    ReportItemWarning(ctx, kCategoryTracer, kEventContentWriteFailed, capture.url(), hr);
    return hr;
  };
  platform::CacheEntry existing;
  if (cache.GetEntry(contentUrl, existing) == 0) return S_OK;  // this content is kept already
  platform::CommitOptions options;
  options.headers = capture.headers();
  options.originalUrl = capture.url();
  options.lastSync = capture.captured();
  options.keepExisting = true;  // another writer may have kept the same content meanwhile
  const auto err = cache.CommitEntry(contentUrl, capture.file(), options);
  if (err == win32::ERROR_ALREADY_EXISTS) return S_OK;
  if (err != 0) return fail(HresultFromWin32(err));
  capture.Release();
  if (const auto g = AddToGroup(cache, contentUrl); g != 0) return fail(HresultFromWin32(g));
  return S_OK;
}

HRESULT StoreIndex(const Context& ctx, platform::UrlCache& cache, const PageCapture& capture,
                   const std::string& indexUrl) {
  auto fail = [&](HRESULT hr) {
    ReportItemWarning(ctx, kCategoryTracer, kEventIndexWriteFailed, capture.url(), hr);
    return hr;
  };
  std::vector<urlmon::VersionRecord> records;
  platform::CacheEntry entry;
  if (cache.RetrieveEntryFile(indexUrl, entry) == 0) {
    std::vector<std::uint8_t> bytes;
    if (const auto err = platform::ReadWholeFile(entry.localFile, urlmon::kMaxVersionIndex, bytes);
        err != 0) {
      return fail(HresultFromWin32(err));
    }
    records = urlmon::ParseVersionIndex(bytes);
  }
  // After the last record captured at or before this capture, unless that one is this content.
  std::size_t at = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].captured <= capture.captured()) at = i + 1;
  }
  if (at > 0 && records[at - 1].byteCount == capture.byteCount() &&
      records[at - 1].contentHash == capture.contentHash()) {
    return S_FALSE;
  }
  records.insert(records.begin() + static_cast<std::ptrdiff_t>(at),
                 {capture.captured(), capture.byteCount(), capture.contentHash()});
  if ((records.size() * urlmon::kVersionRecordSize) > urlmon::kMaxVersionIndex) {
    records.erase(records.begin());  // the oldest version goes first
  }
  const auto bytes = urlmon::SerializeVersionIndex(records);
  std::filesystem::path file;
  if (const auto err = cache.CreateEntryFile(indexUrl, kIndexExtension, file); err != 0) {
    return fail(HresultFromWin32(err));
  }
  auto discard = [&](HRESULT hr) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return fail(hr);
  };
  if (const auto err = platform::OverwriteFile(file, bytes); err != 0) {
    return discard(HresultFromWin32(err));
  }
  platform::CommitOptions options;
  options.originalUrl = capture.url();
  options.lastSync = capture.captured();
  if (const auto err = cache.CommitEntry(indexUrl, file, options); err != 0) {
    return discard(HresultFromWin32(err));
  }
  if (const auto g = AddToGroup(cache, indexUrl); g != 0) return fail(HresultFromWin32(g));
  return S_OK;
}

}  // namespace

HRESULT StoreCapture(const Context& ctx, platform::UrlCache& cache, PageCapture& capture) {
  std::string contentUrl, indexUrl;
  HRESULT hr = urlmon::ContentUrl(capture.url(), capture.byteCount(), capture.contentHash(),
                                  contentUrl);
  if (Succeeded(hr)) hr = urlmon::VersionIndexUrl(capture.url(), indexUrl);
  if (Failed(hr)) {
    ReportItemWarning(ctx, kCategoryTracer, kEventContentWriteFailed, capture.url(), hr);
  } else {
    hr = StoreCopy(ctx, cache, capture, contentUrl);
    if (Succeeded(hr)) hr = StoreIndex(ctx, cache, capture, indexUrl);
  }
  const std::string temp = capture.file().string();
  if (!capture.Discard()) {
    ReportItemWarning(ctx, kCategoryTracer, kEventTempDeleteFailed, temp,
                      HresultFromWin32(win32::ERROR_ACCESS_DENIED));
  }
  return hr;
}

}  // namespace qv::browser
