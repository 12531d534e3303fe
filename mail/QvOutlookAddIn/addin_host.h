#pragma once
// What the add-in's visit objects share: the host's services, the bound visit interface, the
// mail client's desktop, and the window station and message loop of the client's main thread
// (the settle timer's hidden window lives there; the host pumps that loop).
#include <cstdint>
#include <string_view>

#include "context/context.h"
#include "context/event_report.h"
#include "mail/QvOutlookAddIn/visit_binding.h"
#include "platform/desktop/desktop.h"
#include "platform/messaging/message_loop.h"
#include "platform/messaging/window_station.h"

namespace qv::mail::addin {

// The add-in's events carry no category of their own.
inline constexpr std::uint16_t kCategoryAddIn = 0;

struct AddInHost {
  const Context& ctx;
  const VisitBinding& visits;
  const platform::Desktop& desktop;
  platform::WindowStation& station;
  platform::MessageLoop& loop;

  void Report(std::uint32_t eventId, std::string_view item, HRESULT hr) const {
    ReportItemError(ctx, kCategoryAddIn, eventId, item.empty() ? "Unknown" : item, hr);
  }
};

}  // namespace qv::mail::addin
