#pragma once
// Journal notifications as window messages: WM_COPYDATA (wParam 0, dwData 0, the 32-byte
// block) sent to each message-only window of class "QvJournalNotifications" named after
// the entry's day, in the order they are found, each with SMTO_ABORTIFHUNG and 5 s.
#include <memory>

#include "context/context.h"
#include "platform/messaging/window_station.h"
#include "provider/journal/journal_notification.h"

namespace qv::journal {

class WindowJournalNotifier final : public JournalNotifier {
 public:
  // `timeout` is per window; tests shorten it.
  explicit WindowJournalNotifier(std::shared_ptr<platform::WindowStation> station,
                                 std::chrono::milliseconds timeout = kNotificationTimeout)
      : station_(std::move(station)), timeout_(timeout) {}
  void Notify(std::string_view dayKey, const NotificationBlock& block) override;

 private:
  std::shared_ptr<platform::WindowStation> station_;
  std::chrono::milliseconds timeout_;
};

// A notifier on the user's window station (across processes).
HRESULT OpenWindowJournalNotifier(const Context& ctx, std::shared_ptr<JournalNotifier>& out);

}  // namespace qv::journal
