#include "provider/urlmon/history_protocol.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/urlcache/mime_sniff.h"
#include "platform/urlcache/url.h"
#include "platform/urlcache/url_cache.h"
#include "provider/urlmon/private_urls.h"

namespace qv::urlmon {
namespace fs = std::filesystem;
using namespace qv::platform;

namespace {

// Header names of the queries that go to the cached response.
std::string_view HeaderName(std::uint32_t option) {
  switch (option) {
    case HTTP_QUERY_CONTENT_TYPE: return "Content-Type";
    case HTTP_QUERY_CONTENT_LENGTH: return "Content-Length";
    case HTTP_QUERY_DATE: return "Date";
    case HTTP_QUERY_EXPIRES: return "Expires";
    case HTTP_QUERY_LAST_MODIFIED: return "Last-Modified";
    case HTTP_QUERY_PRAGMA: return "Pragma";
    case HTTP_QUERY_CONTENT_ENCODING: return "Content-Encoding";
    case HTTP_QUERY_LOCATION: return "Location";
    case HTTP_QUERY_ETAG: return "ETag";
    case HTTP_QUERY_VARY: return "Vary";
    default: return {};
  }
}

}  // namespace

std::string ResolvedHistoryUrl::RealUrl() const { return std::string(UnwrapPrivateUrl(Part().url)); }

HRESULT ResolveHistoryUrl(const fs::path& qvRoot, std::string_view url, ResolvedHistoryUrl& out) {
  ResolvedHistoryUrl r;
  if (const HRESULT hr = ParseHistoryUrl(url, r.url); Failed(hr)) return hr;
  r.file = ShortcutPath(WebHistoryRoot(qvRoot), r.url.name);
  if (Failed(ReadShortcutFile(r.file, r.shortcut)) || r.shortcut.parts.empty()) {
    return INET_E_DATA_NOT_AVAILABLE;
  }
  HistoryUrl canonical = r.url;
  if (r.url.partUrl) {
    const auto& parts = r.shortcut.parts;
    std::size_t i = 0;
    while (i < parts.size() &&
           !UrlEquals(UnwrapPrivateUrl(parts[i].url), *r.url.partUrl, /*ignoreTrailingSlash=*/true)) {
      ++i;
    }
    if (i == parts.size()) return INET_E_INVALID_REQUEST;
    r.part = i;
    canonical.partUrl = std::string(UnwrapPrivateUrl(parts[i].url));
  }
  r.canonical = FormatHistoryUrl(canonical);
  out = std::move(r);
  return S_OK;
}

HRESULT KivHistoryApp::Start(std::string_view url, IInternetProtocolSink* sink,
                             std::uint32_t flags) {
  if (flags & PI_PARSE_URL) {
    HistoryUrl h;
    return Succeeded(ParseHistoryUrl(url, h)) ? S_OK : S_FALSE;
  }
  if (!sink) return E_INVALIDARG;
  url_ = std::string(url);
  sink_ = sink;
  resolved_.reset();
  copy_ = Fd();
  if (flags & PI_FORCE_ASYNC) {
    sink_->Switch(0);
    return E_PENDING;
  }
  return Run();
}

HRESULT KivHistoryApp::Continue(std::uint32_t) {
  if (!sink_) return E_UNEXPECTED;
  return Run();
}

HRESULT KivHistoryApp::Run() {
  HistoryUrl parsed;
  if (const HRESULT hr = ParseHistoryUrl(url_, parsed); Failed(hr)) {
    sink_->ReportResult(hr, kStatusBadUrl, url_);
    return hr;
  }
  sink_->ReportProgress(BINDSTATUS_FINDINGRESOURCE, url_);
  ResolvedHistoryUrl r;
  if (const HRESULT hr = ResolveHistoryUrl(ctx_.root, url_, r); Failed(hr)) {
    sink_->ReportResult(hr, kStatusNotFound, url_);
    return hr;
  }
  sink_->ReportProgress(BINDSTATUS_REDIRECTING, r.canonical);
  sink_->ReportProgress(BINDSTATUS_CONNECTING, r.RealUrl());

  // Offline, from the cache only: the session is the cache folder, the request its entry.
  UrlCache cache(ctx_.root, ctx_.clock);
  std::error_code ec;
  if (!fs::is_directory(cache.folder(), ec)) {
    sink_->ReportResult(INET_E_CANNOT_LOAD_DATA, kStatusNotFound, url_);
    return INET_E_CANNOT_LOAD_DATA;
  }
  CacheEntry entry;
  Fd fd;
  if (cache.RetrieveEntryFile(r.Part().url, entry) == 0 && cache.Contains(entry.localFile)) {
    fd = Fd(::open(entry.localFile.c_str(), O_RDONLY | O_CLOEXEC));
  }
  if (!fd) {
    sink_->ReportResult(INET_E_DATA_NOT_AVAILABLE, kStatusNotFound, url_);
    return INET_E_DATA_NOT_AVAILABLE;
  }
  copy_ = std::move(fd);
  headers_ = entry.headers;
  resolved_ = std::move(r);
  sink_->ReportData(BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION |
                        BSCF_DATAFULLYAVAILABLE | BSCF_AVAILABLEDATASIZEUNKNOWN,
                    0, 0);
  sink_->ReportResult(S_OK, 0, {});
  return S_OK;
}

HRESULT KivHistoryApp::Abort(HRESULT reason, std::uint32_t) {
  if (sink_) sink_->ReportResult(Succeeded(reason) ? E_ABORT : reason, 0, {});
  return S_OK;
}

HRESULT KivHistoryApp::Terminate(std::uint32_t) { return S_OK; }
HRESULT KivHistoryApp::Suspend() { return E_NOTIMPL; }
HRESULT KivHistoryApp::Resume() { return E_NOTIMPL; }
HRESULT KivHistoryApp::LockRequest(std::uint32_t) { return S_OK; }
HRESULT KivHistoryApp::UnlockRequest() { return S_OK; }
HRESULT KivHistoryApp::Seek(std::int64_t, std::uint32_t, std::uint64_t&) { return E_NOTIMPL; }
HRESULT KivHistoryApp::CompareUrl(std::string_view, std::string_view) { return E_NOTIMPL; }

HRESULT KivHistoryApp::Read(std::span<std::uint8_t> buffer, std::uint32_t& read) {
  read = 0;
  if (!copy_) return INET_E_DOWNLOAD_FAILURE;
  while (true) {
    const ssize_t n = ::read(copy_.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return INET_E_DOWNLOAD_FAILURE;
    }
    read = static_cast<std::uint32_t>(n);
    return n > 0 ? S_OK : S_FALSE;
  }
}

HRESULT KivHistoryApp::ParseUrl(std::string_view url, ParseAction action, std::string& out) {
  switch (action) {
    case PARSE_CANONICALIZE: {
      HistoryUrl h;
      if (const HRESULT hr = ParseHistoryUrl(url, h); Failed(hr)) return hr;
      out = std::string(url);
      return S_OK;
    }
    case PARSE_SECURITY_URL: {
      // The page runs in the zone of its own site.
      ResolvedHistoryUrl r;
      if (const HRESULT hr = ResolveHistoryUrl(ctx_.root, url, r); Failed(hr)) return hr;
      out = r.RealUrl();
      return S_OK;
    }
    default: return INET_E_DEFAULT_ACTION;
  }
}

HRESULT KivHistoryApp::CombineUrl(std::string_view base, std::string_view relative,
                                  std::string& out) {
  ResolvedHistoryUrl r;
  if (Failed(ResolveHistoryUrl(ctx_.root, base, r))) return INET_E_DEFAULT_ACTION;
  std::string combined;
  if (const HRESULT hr = platform::CombineUrl(r.RealUrl(), relative, combined); Failed(hr)) {
    return hr;
  }
  if (r.Part().flags & kFlagFrames) {
    // A frame of the same stored page is served from the history too.
    const std::string_view target = WithoutFragment(combined);
    for (const auto& p : r.shortcut.parts) {
      const std::string_view page = UnwrapPrivateUrl(p.url);
      if (!UrlEquals(page, target, /*ignoreTrailingSlash=*/true)) continue;
      HistoryUrl h{r.url.name, std::string(page), std::string(FragmentOf(combined))};
      out = FormatHistoryUrl(h);
      return S_OK;
    }
  }
  out = std::move(combined);
  return S_OK;
}

HRESULT KivHistoryApp::QueryInfo(std::uint32_t option, std::string& out) {
  if (!resolved_) return INET_E_DOWNLOAD_FAILURE;
  const HRESULT notFound = HresultFromWin32(ERROR_HTTP_HEADER_NOT_FOUND);
  switch (option) {
    case HTTP_QUERY_CACHE_CONTROL:
      out = "no-store";  // the served copy must not be cached again
      return S_OK;
    case HTTP_QUERY_CONTENT_BASE:
      out = resolved_->RealUrl();  // relative links resolve against the real site
      return S_OK;
    case HTTP_QUERY_RAW_HEADERS_CRLF:
      out = headers_;
      return out.empty() ? notFound : S_OK;
    case HTTP_QUERY_STATUS_CODE:
    case HTTP_QUERY_STATUS_TEXT: {
      const std::string_view line = std::string_view(headers_).substr(0, headers_.find('\r'));
      if (!line.starts_with("HTTP/")) return notFound;
      const auto sp = line.find(' ');
      if (sp == std::string_view::npos) return notFound;
      const std::string_view rest = line.substr(sp + 1);
      const auto sp2 = rest.find(' ');
      out = std::string(option == HTTP_QUERY_STATUS_CODE
                            ? rest.substr(0, sp2)
                            : (sp2 == std::string_view::npos ? std::string_view{} : rest.substr(sp2 + 1)));
      return S_OK;
    }
    default: {
      const std::string_view name = HeaderName(option);
      if (name.empty()) return notFound;
      out = HeaderValue(headers_, name);
      return out.empty() ? notFound : S_OK;
    }
  }
}

}  // namespace qv::urlmon
