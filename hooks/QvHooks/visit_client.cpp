#include "hooks/QvHooks/visit_client.h"

namespace qv::hooks {

using namespace qv::platform;

bool VisitItemBytes(const char16_t* item, std::vector<std::uint8_t>& out) {
  out.clear();
  std::size_t length = 0;
  if (item != nullptr) {
    // Bounded, so that an unterminated or huge string is refused rather than read on.
    while (length <= kMaxVisitItemChars && item[length] != u'\0') ++length;
    if (length > kMaxVisitItemChars) return false;
  }
  out.reserve((length + 1) * 2);
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(static_cast<std::uint8_t>(item[i] & 0xFF));
    out.push_back(static_cast<std::uint8_t>(item[i] >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return true;
}

VisitClient::VisitClient(WindowStation* station, std::function<bool(std::uint64_t)> isWindow,
                         std::chrono::milliseconds timeout)
    : station_(station), isWindow_(std::move(isWindow)), timeout_(timeout) {
  if (!isWindow_) isWindow_ = [](std::uint64_t window) { return window != 0; };
}

HRESULT VisitClient::Start(std::uint64_t window, const char16_t* item, std::uint32_t flags) {
  if (item == nullptr || !isWindow_(window)) return E_INVALIDARG;
  return Send(KIV_VISIT_START, window, item, flags);
}

HRESULT VisitClient::Update(std::uint64_t window, const char16_t* item, std::uint32_t flags) {
  return Send(KIV_VISIT_UPDATE, window, item, flags);
}

HRESULT VisitClient::End(std::uint64_t window, const char16_t* item, std::uint32_t flags) {
  if (window == 0) return E_INVALIDARG;
  return Send(KIV_VISIT_END, window, item, flags);
}

HRESULT VisitClient::IsRunning() {
  if (station_ == nullptr) return S_FALSE;
  return station_->FindMessageWindow(kTracerEventWindowClass) != 0 ? S_OK : S_FALSE;
}

HRESULT VisitClient::Send(std::uint32_t operation, std::uint64_t window, const char16_t* item,
                          std::uint32_t flags) {
  // An identifier the tracer would not read is refused here instead of vanishing there
  // behind a successful send.
  CopyData data;
  if (!VisitItemBytes(item, data.bytes)) return E_INVALIDARG;
  data.dwData = VisitDwData(operation, flags);
  // Looked up on every call: a restarted tracer has a new event window.
  if (station_ == nullptr) return S_FALSE;
  const auto started = station_->clock().Monotonic();
  const auto target = station_->FindMessageWindowInfo(kTracerEventWindowClass);
  if (!target) return S_FALSE;
  const HRESULT timedOut = HresultFromWin32(win32::ERROR_TIMEOUT);
  // A tracer that does not even say who it is is hung: the send would abort at once.
  if (!target->responding) return timedOut;
  // The look-up counts against the caller's time-out, so the whole call keeps to it.
  const auto left = timeout_ - std::chrono::duration_cast<std::chrono::milliseconds>(
                                   station_->clock().Monotonic() - started);
  if (left <= std::chrono::milliseconds(0)) return timedOut;
  return station_->SendCopyData(target->handle, window, data,
                               SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG, left);
}

}  // namespace qv::hooks
