#include "mail/QvOutlookAddIn/inspector_visits.h"

#include "hooks/QvHooks/tracer_messages.h"
#include "mail/QvOutlookAddIn/addin_constants.h"
#include "mail/QvOutlookAddIn/client_windows.h"
#include "mail/QvOutlookAddIn/item_identifier.h"

namespace qv::mail::addin {

InspectorVisits::InspectorVisits(const AddInHost& host, platform::mail::Inspector& inspector)
    : host_(host), inspector_(inspector) {}

InspectorVisits::~InspectorVisits() { OnClose(); }

void InspectorVisits::OnActivate() {
  if (closed_ || window_ != 0) return;  // started once already
  const platform::mail::ClientWindowInfo info = inspector_.windowInfo();
  platform::DesktopWindow window = 0;
  HRESULT hr = FindClientWindow(host_.desktop, info, ClientWindowKind::Inspector, window);
  if (Failed(hr)) {
    host_.Report(kEvWindowNotFound, info.caption, hr);
    return;
  }
  platform::mail::Message item;
  hr = inspector_.CurrentItem(item);
  if (Failed(hr)) {
    // The window stays unknown, so that the next activation tries again.
    host_.Report(kEvInspectorItem, info.caption, hr);
    return;
  }
  window_ = window;
  tracking_ = item.entryId.empty() ? Tracking::Untracked : Tracking::Tracked;
  const std::string id = ItemIdentifier(item.entryId);
  hr = host_.visits.Start(window_, id, VisitFlagsFor(item.entryId));
  if (Failed(hr)) host_.Report(kEvVisitStart, id, hr);
}

void InspectorVisits::OnWriteItem() {
  if (closed_ || window_ == 0 || tracking_ != Tracking::Untracked) return;
  platform::mail::Message item;
  HRESULT hr = inspector_.CurrentItem(item);
  if (Failed(hr)) {
    host_.Report(kEvWrittenItem, inspector_.windowInfo().caption, hr);
    return;
  }
  if (item.entryId.empty()) return;  // still not saved under an id
  tracking_ = Tracking::Tracked;
  (void)host_.visits.Update(window_, ItemIdentifier(item.entryId), hooks::KIV_VF_TRACK);
}

void InspectorVisits::OnClose() {
  if (closed_) return;
  closed_ = true;
  if (window_ != 0) (void)host_.visits.End(window_, 0);
  window_ = 0;
  tracking_ = Tracking::None;
}

}  // namespace qv::mail::addin
