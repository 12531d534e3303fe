#include "provider/journal/window_notifier.h"

#include "platform/messaging/message_ids.h"

namespace qv::journal {

void WindowJournalNotifier::Notify(std::string_view dayKey, const NotificationBlock& block) {
  platform::WindowQuery query;
  query.className = std::string(kNotificationWindowClass);
  query.title = std::string(dayKey);
  query.messageOnly = true;
  platform::CopyData data;
  data.dwData = kNotificationDwData;
  data.bytes.assign(block.begin(), block.end());
  for (platform::Hwnd hwnd : station_->FindWindows(query)) {
    // A window that does not answer must not keep the others from hearing of the entry.
    [[maybe_unused]] const HRESULT ignored = station_->SendCopyData(
        hwnd, 0, data, platform::SMTO_ABORTIFHUNG, timeout_);
  }
}

HRESULT OpenWindowJournalNotifier(const Context& ctx, std::shared_ptr<JournalNotifier>& out) {
  std::unique_ptr<platform::WindowStation> station;
  const HRESULT hr = platform::OpenUserWindowStation(ctx.clock, &ctx.eventLog, station);
  if (Failed(hr)) return hr;
  out = std::make_shared<WindowJournalNotifier>(std::move(station));
  return S_OK;
}

}  // namespace qv::journal
