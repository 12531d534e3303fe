#include "provider/filters/web_page_filter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "context/event_report.h"
#include "interfaces/ikiv_listener.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/document_reader.h"
#include "platform/urlcache/url_cache.h"
#include "provider/filters/charset.h"
#include "provider/filters/filter_constants.h"
#include "provider/urlmon/shortcut_format.h"

namespace qv::filters {

namespace fs = std::filesystem;
using namespace platform;

namespace {

const HRESULT kFileNotFound = HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);

std::string_view ExtensionOfKind(std::uint16_t kind) {
  switch (kind) {
    case urlmon::kKindHtml: return ".htm";
    case urlmon::kKindXml: return ".xml";
    case urlmon::kKindText: return ".txt";
    default: return {};
  }
}

bool IsRegularFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// Reads at most `limit` bytes of a file.
bool ReadBytes(const fs::path& file, std::string& out, std::size_t limit) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  out.clear();
  char buf[kCopyBlock];
  while (out.size() < limit && in.read(buf, sizeof buf).gcount() > 0) {
    out.append(buf, static_cast<std::size_t>(in.gcount()));
  }
  if (out.size() > limit) out.resize(limit);
  return !in.bad();
}

}  // namespace

KivFilter::~KivFilter() { ReleaseParts(); }

HRESULT KivFilter::Load(const fs::path& file) {
  std::lock_guard lock(mutex_);
  path_ = file;
  loaded_ = true;
  return S_OK;
}

void KivFilter::ReleaseParts() {
  for (auto& part : parts_) {
    part.filter.reset();
    if (part.tempCopy.empty()) continue;
    std::error_code ec;
    if (!fs::remove(part.tempCopy, ec) && ec) {
      ReportItemWarning(ctx_, kCategoryProvider, kEventTempCopyNotDeleted,
                        part.tempCopy.string(), HresultFromErrno(ec.value()));
    }
  }
  parts_.clear();
}

HRESULT KivFilter::MakeTempCopy(const urlmon::PagePart& part, const fs::path& copy,
                                fs::path& out) const {
  const fs::path folder = KnownFolderPath(ctx_.root, KnownFolder::LocalAppData) / "Quillon" / "Temp";
  if (auto ec = CreatePrivateFolders(folder)) return HresultFromErrno(ec.value());
  std::string bytes;
  if (!ReadBytes(copy, bytes, indexing::kMaxFilteredBytes)) return FILTER_E_ACCESS;
  std::string content;
  if (part.kind == urlmon::kKindHtml) {
    // The HTML reader takes the charset from the head of the document.
    content = "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=" + part.charset +
              "\">\r\n";
    content += bytes;
  } else {
    std::string text;
    if (!ConvertToUtf8(bytes, part.charset, text)) {
      content = std::move(bytes);  // an unknown charset: the reader guesses as for any file
    } else {
      content = "\xEF\xBB\xBF" + text;  // the mark tells the reader it is UTF-8
    }
  }
  std::string pattern = (folder / "q6wXXXXXX").string();
  pattern += ExtensionOfKind(part.kind);
  const int suffix = static_cast<int>(ExtensionOfKind(part.kind).size());
  const int fd = mkstemps(pattern.data(), suffix);
  if (fd < 0) return HresultFromErrno(errno);
  out = pattern;
  std::size_t done = 0;
  while (done < content.size()) {
    const std::size_t n = std::min(kCopyBlock, content.size() - done);
    const ssize_t w = write(fd, content.data() + done, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      const HRESULT hr = HresultFromErrno(w < 0 ? errno : EIO);
      close(fd);
      std::error_code ec;
      fs::remove(out, ec);
      out.clear();
      return hr;
    }
    done += static_cast<std::size_t>(w);
  }
  close(fd);
  return S_OK;
}

HRESULT KivFilter::OpenPart(const urlmon::PagePart& part, const fs::path& cacheFolder,
                            std::uint32_t initFlags, Part& out) {
  if (part.flags & urlmon::kFlagRobots) return E_INVALIDARG;  // the page asked not to be indexed
  // A stored path is taken only below the cache folder: the shortcut is outside input, and
  // the indexer must not be led to read (and index) any other file of the user.
  fs::path copy;
  const bool resolved = Succeeded(urlmon::ResolveCopyPath(cacheFolder, part.copy, copy));
  if (!resolved || !IsRegularFile(copy)) {
    UrlCache cache(ctx_.root, ctx_.clock);
    CacheEntry entry;
    if (part.url.empty() || cache.RetrieveEntryFile(part.url, entry) != 0 ||
        !cache.Contains(entry.localFile) || !IsRegularFile(entry.localFile)) {
      return kFileNotFound;
    }
    copy = entry.localFile;
  }
  fs::path source = copy;
  const std::string_view ext = ExtensionOfKind(part.kind);
  if (!part.charset.empty() && part.charset.size() <= kMaxCharsetLength && !ext.empty()) {
    HRESULT hr = MakeTempCopy(part, copy, out.tempCopy);
    if (Failed(hr)) return hr;
    source = out.tempCopy;
  }
  std::shared_ptr<Filter> filter;
  HRESULT hr = S_OK;
  if (!ext.empty()) {
    hr = indexing::FilterForExtension(ctx_.registry, ctx_.classes, ext, filter);
  } else {
    indexing::DocumentReader reader(ctx_.registry, ctx_.classes, {});
    hr = reader.FindFilter(source, filter);
    if (hr == S_FALSE) hr = FILTER_E_UNKNOWNFORMAT;
  }
  if (Failed(hr)) return hr;
  hr = filter->Load(source);
  if (Failed(hr)) return hr;
  std::uint32_t flags = 0;
  hr = filter->Init(initFlags, flags);
  if (Failed(hr)) return hr;
  out.filter = std::move(filter);
  return S_OK;
}

HRESULT KivFilter::Init(std::uint32_t initFlags, std::uint32_t& outFlags) {
  std::lock_guard lock(mutex_);
  outFlags = 0;
  ReleaseParts();
  shortcut_ = {};
  current_ = 0;
  idBase_ = lastId_ = 0;
  stale_ = staleReported_ = readable_ = false;
  if (!loaded_) return E_FAIL;
  const fs::path cacheFolder = KnownFolderPath(ctx_.root, KnownFolder::InternetCache);
  if (Failed(urlmon::ReadShortcutFile(path_, shortcut_))) return FILTER_E_ACCESS;
  readable_ = true;
  bool usable = false;
  parts_.resize(shortcut_.parts.size());
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    parts_[i].status = OpenPart(shortcut_.parts[i], cacheFolder, initFlags, parts_[i]);
    if (parts_[i].filter) usable = true;
  }
  if (usable) {
    outFlags = IFILTER_FLAGS_OLE_PROPERTIES;
    return S_OK;
  }
  std::error_code ec;
  stale_ = fs::exists(path_, ec);
  return S_OK;
}

void KivFilter::ReportStale() const {
  std::shared_ptr<IKivListener> listener;
  HRESULT hr = ctx_.classes.CreateInstance(CLSID_KivListener, listener);
  if (Succeeded(hr)) {
    const std::string file = path_.string();
    hr = listener->DeleteStale(&file);
  }
  if (Failed(hr)) {
    ReportItemWarning(ctx_, kCategoryProvider, kEventStaleNotReported, path_.string(), hr);
  }
}

HRESULT KivFilter::GetChunk(StatChunk& chunk) {
  if (stale_) {
    if (!staleReported_) {
      staleReported_ = true;
      ReportStale();
    }
    return FILTER_E_END_OF_CHUNKS;
  }
  while (current_ < parts_.size()) {
    Part& part = parts_[current_];
    if (!part.filter) {
      ++current_;
      if (part.status == E_INVALIDARG) continue;  // skipped on purpose
      return FILTER_E_EMBEDDING_UNAVAILABLE;
    }
    const HRESULT hr = part.filter->GetChunk(chunk);
    if (hr == FILTER_E_END_OF_CHUNKS) {
      ++current_;
      idBase_ = lastId_;
      continue;
    }
    if (Failed(hr)) return hr;
    // Ids keep increasing across parts.
    chunk.idChunk += idBase_;
    if (chunk.idChunkSource != 0) chunk.idChunkSource += idBase_;
    lastId_ = std::max(lastId_, chunk.idChunk);
    return hr;
  }
  return FILTER_E_END_OF_CHUNKS;
}

HRESULT KivFilter::GetText(std::string& out, std::size_t maxBytes) {
  if (current_ >= parts_.size() || !parts_[current_].filter) return FILTER_E_NO_MORE_TEXT;
  return parts_[current_].filter->GetText(out, maxBytes);
}

HRESULT KivFilter::GetValue(PropVariant& out) {
  if (current_ >= parts_.size() || !parts_[current_].filter) return FILTER_E_NO_VALUES;
  return parts_[current_].filter->GetValue(out);
}

Guid KivFilter::GetClassID() const { return CLSID_KivFilter; }

HRESULT KivFilter::ReadPropertySets(std::vector<PropertySet>& out) {
  std::lock_guard lock(mutex_);
  out.clear();
  if (!readable_) return E_FAIL;
  PropertySet summary;
  summary.fmtid = urlmon::q6w::kSummaryFmtid;
  if (!shortcut_.title.empty()) {
    summary.values[urlmon::q6w::kPidTitle] = PropVariant::Lpwstr(shortcut_.title);
  }
  out.push_back(std::move(summary));
  PropertySet user;
  user.fmtid = urlmon::q6w::kUserDefinedFmtid;
  if (!shortcut_.url.empty()) {
    user.values[urlmon::q6w::kPidUrl] = PropVariant::Lpwstr(shortcut_.url);
    user.names[urlmon::q6w::kPidUrl] = std::string(urlmon::q6w::kUrlPropertyName);
  }
  out.push_back(std::move(user));
  return S_OK;
}

}  // namespace qv::filters
