#include "provider/urlmon/kiv_urlmon.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <limits>
#include <optional>
#include <system_error>

#include "context/event_report.h"
#include "context/registry_values.h"
#include "common/utf.h"
#include "platform/fs/private_files.h"
#include "platform/urlcache/mime_sniff.h"
#include "platform/urlcache/url.h"
#include "platform/urlcache/url_zone.h"
#include "provider/urlmon/cache_lookup.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/private_urls.h"

namespace qv::urlmon {
namespace fs = std::filesystem;
using platform::CacheEntry;
using platform::Hive;

namespace {

constexpr int kMaxCreateAttempts = 3;

HRESULT Win32Hr(std::int32_t code) { return HresultFromWin32(code); }

// Reads at most `limit` leading bytes of a file.
HRESULT ReadHead(const fs::path& file, std::size_t limit, std::vector<std::uint8_t>& out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Win32Hr(win32::ERROR_FILE_NOT_FOUND);
  out.resize(limit);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(limit));
  out.resize(static_cast<std::size_t>(in.gcount()));
  return in.bad() ? Win32Hr(win32::ERROR_READ_FAULT) : S_OK;
}

}  // namespace

std::vector<FrameRecord> ParseFrameData(std::string_view data) {
  std::vector<std::string_view> fields;
  while (true) {
    const auto nl = data.find('\n');
    if (nl == std::string_view::npos) break;
    fields.push_back(data.substr(0, nl));
    data.remove_prefix(nl + 1);
  }
  std::vector<FrameRecord> records;
  for (std::size_t i = 0; i + 5 <= fields.size(); i += 5) {
    records.push_back({std::string(fields[i]), std::string(fields[i + 1]),
                       std::string(fields[i + 2]), !fields[i + 3].empty(),
                       !fields[i + 4].empty()});
  }
  return records;
}

KivUrlmon::KivUrlmon(const Context& ctx,
                     std::shared_ptr<const platform::ProtocolHandlers> handlers)
    : ctx_(ctx), handlers_(std::move(handlers)) {}

std::chrono::milliseconds KivUrlmon::DownloadLimit() const {
  const std::uint32_t s =
      ReadDword(ctx_.registry, Hive::LocalMachine, kSafeLocalProtocolsKey, kDownloadTimeoutValue,
                kDefaultDownloadTimeoutSeconds, kMinDownloadTimeoutSeconds,
                kMaxDownloadTimeoutSeconds);
  return std::chrono::seconds(s);
}

bool KivUrlmon::IsSafeLocalScheme(std::string_view scheme) const {
  if (scheme.empty() ||
      std::find(kNeverDownloaded.begin(), kNeverDownloaded.end(), scheme) !=
          kNeverDownloaded.end()) {
    return false;
  }
  return ctx_.registry.KeyExists(Hive::LocalMachine,
                                 std::string(kSafeLocalProtocolsKey) + "\\" + std::string(scheme));
}

HRESULT KivUrlmon::Download(platform::UrlCache& cache, std::string_view url,
                            const std::stop_token& shutdown) {
  const auto limit = DownloadLimit();
  const auto start = ctx_.clock.Monotonic();
  // Checked at every progress report: a stop request or a report after the limit aborts.
  auto progress = [&]() -> HRESULT {
    if (shutdown.stop_requested()) return E_ABORT;
    if (ctx_.clock.Monotonic() - start > limit) return E_ABORT;
    return S_OK;
  };
  fs::path file;
  const HRESULT hr = platform::DownloadToCacheFile(cache, *handlers_, url, progress, file);
  if (Failed(hr)) return hr;
  return file.empty() ? Win32Hr(win32::ERROR_NOT_FOUND) : S_OK;
}

HRESULT KivUrlmon::CollectPart(platform::UrlCache& cache, const FrameRecord& rec, DATE verTime,
                               const std::stop_token& shutdown, std::vector<PagePart>& parts) {
  std::string scheme;
  if (const HRESULT hr = platform::GetUrlScheme(rec.url, scheme); Failed(hr)) return hr;
  if (scheme == "file") return S_FALSE;  // files are ranked as themselves
  std::optional<platform::UrlZone> zone;
  if (platform::UrlZone z{}; Succeeded(platform::MapUrlToZone(rec.url, z))) zone = z;
  const std::string u(platform::WithoutFragment(rec.url));
  if (u.empty()) return E_INVALIDARG;

  PagePart part;
  if (rec.frames) part.flags |= kFlagFrames;
  if (rec.robots) part.flags |= kFlagRobots;
  part.zone = zone ? static_cast<std::uint32_t>(*zone) + 1 : 0;

  CacheEntry entry;
  HRESULT hr = LookupPartEntry(cache, u, verTime, entry);
  if (hr == Win32Hr(win32::ERROR_FILE_NOT_FOUND) && zone == platform::UrlZone::LocalMachine) {
    if (!IsSafeLocalScheme(scheme)) return E_ACCESSDENIED;
    if (hr = Download(cache, u, shutdown); Failed(hr)) return hr;
    if (const auto err = cache.RetrieveEntryFile(u, entry); err != 0) return Win32Hr(err);
    part.flags |= kFlagDownloaded;
  } else if (Failed(hr)) {
    return hr;
  }

  platform::ContentType ct = platform::ParseContentType(platform::HeaderValue(entry.headers,
                                                                              "Content-Type"));
  if (!IsPrivateUrl(entry.url) && zone && *zone != platform::UrlZone::LocalMachine &&
      ct.type == "text/html") {
    CacheEntry archived;
    if (hr = ArchiveLiveEntry(ctx_, cache, u, entry, archived); hr != S_OK) return hr;
    entry = std::move(archived);
  }

  part.url = std::string(platform::WithoutFragment(entry.url));
  for (const auto& p : parts) {
    if (p.url == part.url) return S_FALSE;
  }

  struct stat st {};
  if (::stat(entry.localFile.c_str(), &st) != 0) return HresultFromErrno(errno);
  part.size = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size),
                              std::numeric_limits<std::uint32_t>::max()));
  part.copy = StoredCopyPath(cache.folder(), entry.localFile);
  std::string type = !ct.type.empty() ? ct.type : AsciiLower(rec.contentType);
  part.charset = !ct.charset.empty() ? ct.charset : rec.charset;

  if (rec.contentType.empty() || rec.charset.empty()) {
    // Neither the cache nor the frame record said it all: look at the copy itself.
    std::vector<std::uint8_t> head;
    if (hr = ReadHead(entry.localFile, platform::kSniffBytes, head); Failed(hr)) return hr;
    if (head.empty()) return S_FALSE;
    if (type.empty()) type = platform::FindMimeFromData(head);
    if (part.charset.empty() && KindOfType(type) == kKindHtml) {
      part.charset = platform::FindHtmlCharset(head);
    }
  }
  part.kind = KindOfType(type.empty() ? "text/html" : type);
  parts.push_back(std::move(part));
  return S_OK;
}

HRESULT KivUrlmon::WriteShortcut(const Shortcut& s, fs::path& file, std::string& historyUrl) {
  std::vector<std::string> urls;
  for (const auto& p : s.parts) urls.push_back(p.url);
  const ShortcutName base = NameOfUrls(urls);
  const fs::path webRoot = WebHistoryRoot(ctx_.root);
  const fs::path bucket = BucketFolder(webRoot, base.bucket);

  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    // Pages whose URLs hash alike take the following names of the same bucket; the stored
    // URLs tell them apart, so a page never takes over another page's file and record.
    std::optional<ShortcutName> free;
    for (std::uint32_t i = 0; i < kMaxNameProbes; ++i) {
      const ShortcutName name{base.bucket, base.hash + i};
      const fs::path path = ShortcutPath(webRoot, name);
      Shortcut stored;
      const HRESULT hr = ReadShortcutFile(path, stored);
      if (hr == STG_E_FILENOTFOUND || hr == STG_E_PATHNOTFOUND) {
        if (!free) free = name;
        continue;
      }
      if (Failed(hr)) continue;  // a damaged file keeps its name; it is not ours to replace
      const bool same = std::equal(stored.parts.begin(), stored.parts.end(), urls.begin(),
                                   urls.end(),
                                   [](const PagePart& p, const std::string& u) { return p.url == u; });
      if (same) {
        file = path;
        historyUrl = FormatHistoryUrl(name);
        return S_OK;
      }
    }
    if (!free) return STG_E_FILEALREADYEXISTS;

    std::error_code ec;
    ec = platform::CreatePrivateFolders(bucket);
    if (ec) {
      const HRESULT hr = HresultFromErrno(ec.value());
      ReportItemWarning(ctx_, kCategoryProvider, kEventBucketFolderFailed, bucket.string(), hr);
      return hr;
    }
    const fs::path path = ShortcutPath(webRoot, *free);
    const HRESULT hr = CreateShortcutFile(path, s);
    if (hr == S_OK) {
      file = path;
      historyUrl = FormatHistoryUrl(*free);
      return S_OK;
    }
    if (hr != STG_E_FILEALREADYEXISTS) return hr;
    // Another process created that name first: look again, it may be this very page.
  }
  return STG_E_FILEALREADYEXISTS;
}

HRESULT KivUrlmon::CreateShortcut(const std::string* bstrUrl, DATE VerTime,
                                  const std::string* bstrTitle, const std::string* bstrFrameData,
                                  std::stop_token hShutdown, std::string* bstrFile,
                                  std::string* bstrCachedUrl) {
  if (!bstrFile || !bstrUrl || bstrUrl->empty()) return E_INVALIDARG;
  const std::string& url = *bstrUrl;
  std::string scheme;
  if (const HRESULT hr = platform::GetUrlScheme(url, scheme); Failed(hr)) return hr;
  if (scheme.empty()) return E_FAIL;
  if (scheme == "file") {
    fs::path path;
    if (const HRESULT hr = platform::FileUrlToPath(url, path); Failed(hr)) return hr;
    *bstrFile = path.string();
    if (bstrCachedUrl) bstrCachedUrl->clear();
    return S_OK;
  }
  if (scheme == kHistoryScheme) {
    HistoryUrl h;
    if (const HRESULT hr = ParseHistoryUrl(url, h); Failed(hr)) return hr;
    const fs::path path = ShortcutPath(WebHistoryRoot(ctx_.root), h.name);
    Shortcut s;
    if (const HRESULT hr = ReadShortcutFile(path, s); Failed(hr)) return hr;
    *bstrFile = path.string();
    if (bstrCachedUrl) *bstrCachedUrl = FormatHistoryUrl(h.name);
    return S_OK;
  }
  if (scheme == "https") return S_FALSE;  // secure pages are not kept

  std::vector<FrameRecord> records;
  if (bstrFrameData && !bstrFrameData->empty()) records = ParseFrameData(*bstrFrameData);
  if (records.empty()) records.push_back({url, "", "", false, false});

  platform::UrlCache cache(ctx_.root, ctx_.clock);
  Shortcut s;
  HRESULT last = S_OK;
  for (const auto& rec : records) last = CollectPart(cache, rec, VerTime, hShutdown, s.parts);
  if (s.parts.empty()) return last;

  s.title = bstrTitle ? *bstrTitle : std::string();
  s.zone = static_cast<std::int32_t>(s.parts.front().zone);
  for (const auto& p : s.parts) {
    if (p.zone != s.parts.front().zone) s.zone = 0;
  }
  s.url = std::string(UnwrapPrivateUrl(s.parts.front().url));

  fs::path file;
  std::string historyUrl;
  if (const HRESULT hr = WriteShortcut(s, file, historyUrl); Failed(hr)) return hr;
  *bstrFile = file.string();
  if (bstrCachedUrl) *bstrCachedUrl = historyUrl;
  return S_OK;
}

}  // namespace qv::urlmon
