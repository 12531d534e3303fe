#pragma once
// One page download as the add-on's filter sees it. The bytes flow on to the browser
// unchanged; while capture is on they are also kept in a file in the URL cache folder,
// counted and hashed. A finished capture owns that file and removes it when it is dropped,
// so a capture that never reaches the cache leaves nothing behind.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/oledate.h"
#include "context/context.h"
#include "platform/urlcache/file_io.h"
#include "platform/urlcache/url_cache.h"

namespace qv::browser {

class PageCapture {
 public:
  PageCapture(std::string url, FileTime captured) : url_(std::move(url)), captured_(captured) {}
  ~PageCapture() { Discard(); }
  PageCapture(const PageCapture&) = delete;
  PageCapture& operator=(const PageCapture&) = delete;

  const std::string& url() const { return url_; }
  FileTime captured() const { return captured_; }
  std::uint32_t byteCount() const { return byteCount_; }
  std::uint32_t contentHash() const { return hash_; }
  const std::string& headers() const { return headers_; }
  const std::filesystem::path& file() const { return file_; }

  // The file now belongs to a cache entry: it is no longer removed with the capture.
  void Release() { file_.clear(); }
  // Removes the file; false when it was there and could not be removed.
  bool Discard();

 private:
  friend class PageFilter;
  std::string url_;
  FileTime captured_;
  std::uint32_t byteCount_ = 0;
  std::uint32_t hash_ = 0;
  std::string headers_;
  std::filesystem::path file_;
};

// The data path of one download.
class PageFilter {
 public:
  // `capture` is the decision taken at the start of the download (CaptureDecision).
  PageFilter(const Context& ctx, platform::UrlCache& cache, std::string url, FileTime captured,
             bool capture);

  bool capturing() const { return capture_ != nullptr; }
  // The bytes to hand on to the browser: always exactly `data`. While capture is on they are
  // kept too; a failure to keep them turns capture off (event 0xC000020D) and nothing else.
  std::span<const std::uint8_t> Pass(std::span<const std::uint8_t> data);
  // End of the data: the finished capture when capture is still on and at least one byte
  // was kept, else nullptr.
  std::unique_ptr<PageCapture> Finish(std::string responseHeaders);

 private:
  void Fail(HRESULT hr);

  const Context& ctx_;
  platform::UrlCache& cache_;
  std::unique_ptr<PageCapture> capture_;
  platform::Fd fd_;
  std::uint64_t total_ = 0;
};

// Whether a download of `url` is captured: the tracer runs (`tracerRunning` is S_OK), the
// user has not set DisableCacheChanging, the URL is not https and the headers forbid
// caching.
bool CaptureDecision(const Context& ctx, HRESULT tracerRunning, std::string_view url,
                     std::string_view requestHeaders, std::string_view responseHeaders);

}  // namespace qv::browser
