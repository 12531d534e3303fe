#include "browser/addon/page_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "browser/addon/accepted_url.h"
#include "browser/addon/addon_constants.h"
#include "browser/addon/capture_rules.h"
#include "context/event_report.h"

namespace qv::browser {

bool PageCapture::Discard() {
  if (file_.empty()) return true;
  std::error_code ec;
  const bool removed = std::filesystem::remove(file_, ec) || !ec;
  file_.clear();
  return removed;
}

PageFilter::PageFilter(const Context& ctx, platform::UrlCache& cache, std::string url,
                       FileTime captured, bool capture)
    : ctx_(ctx), cache_(cache) {
  if (capture) capture_ = std::make_unique<PageCapture>(std::move(url), captured);
}

void PageFilter::Fail(HRESULT hr) {
  ReportItemWarning(ctx_, kCategoryTracer, kEventCaptureDataFailed, capture_->url(), hr);
  fd_ = platform::Fd();
  capture_.reset();  // removes what was kept so far
}

std::span<const std::uint8_t> PageFilter::Pass(std::span<const std::uint8_t> data) {
  if (!capture_ || data.empty()) return data;
  if (!fd_) {
    std::filesystem::path file;
    if (const auto err = cache_.CreateEntryFile(capture_->url(), kCopyExtension, file); err != 0) {
      Fail(HresultFromWin32(err));
      return data;
    }
    capture_->file_ = file;
    fd_ = platform::Fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd_) {
      Fail(HresultFromErrno(errno));
      return data;
    }
  }
  if (total_ + data.size() > 0xFFFFFFFFu) {
    Fail(HresultFromWin32(win32::ERROR_ARITHMETIC_OVERFLOW));
    return data;
  }
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t n = ::write(fd_.get(), data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(HresultFromErrno(errno));
      return data;
    }
    done += static_cast<std::size_t>(n);
  }
  total_ += data.size();
  capture_->byteCount_ = static_cast<std::uint32_t>(total_);
  capture_->hash_ = ContinueContentHash(capture_->hash_, data);
  return data;
}

std::unique_ptr<PageCapture> PageFilter::Finish(std::string responseHeaders) {
  if (!capture_ || total_ == 0) {
    fd_ = platform::Fd();
    capture_.reset();
    return nullptr;
  }
  if (::fsync(fd_.get()) != 0) {
    Fail(HresultFromErrno(errno));
    return nullptr;
  }
  fd_ = platform::Fd();
  capture_->headers_ = std::move(responseHeaders);
  return std::move(capture_);
}

bool CaptureDecision(const Context& ctx, HRESULT tracerRunning, std::string_view url,
                     std::string_view requestHeaders, std::string_view responseHeaders) {
  if (tracerRunning != S_OK) return false;
  platform::RegValue v;
  if (ctx.registry.GetValue(platform::Hive::CurrentUser, kWebHistoryKey, kDisableCacheChanging,
                            v) == 0 &&
      v.type == platform::RegType::Dword && v.dword != 0) {
    return false;
  }
  if (url.empty() || IsHttpsUrl(url)) return false;
  return PageForbidsCaching(requestHeaders, responseHeaders);
}

}  // namespace qv::browser
