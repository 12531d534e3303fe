#include "mail/QvOutlookAddIn/explorer_visits.h"

#include <strings.h>

#include "mail/QvOutlookAddIn/addin_constants.h"
#include "mail/QvOutlookAddIn/client_windows.h"
#include "mail/QvOutlookAddIn/item_identifier.h"

namespace qv::mail::addin {

using platform::DesktopWindow;

ExplorerVisits::ExplorerVisits(const AddInHost& host, platform::mail::Explorer& explorer)
    : host_(host), explorer_(explorer) {
  // A hidden window on the client's main loop carries the settle timer; without it the
  // timer cannot be set, which each selection change then reports.
  std::unique_ptr<platform::Window> window;
  const HRESULT hr = host_.station.CreateWindow(
      host_.loop, {std::string(kTimerWindowClass), "", true},
      [this](const platform::Message& m) -> platform::LRESULT {
        if (m.message == platform::WM_TIMER && m.wParam == kSettleTimerId) OnTimer();
        return 0;
      },
      window);
  if (Succeeded(hr)) timerWindow_ = std::move(window);
}

ExplorerVisits::~ExplorerVisits() { Disconnect(); }

void ExplorerVisits::OnSelectionChange() {
  if (!connected_) return;
  std::vector<platform::mail::EntryId> selection;
  HRESULT hr = S_OK;
  if (explorer_.readingPaneVisible()) {
    hr = explorer_.Selection(selection);
    if (Failed(hr)) host_.Report(kEvSelection, shown_, hr);
  }
  if (Failed(hr) || selection.empty()) {
    // Pane hidden or nothing selected: no visit, and no pending start either.
    shown_.clear();
    if (timerWindow_) timerWindow_->KillTimer(kSettleTimerId);
    EndVisit();
    return;
  }
  const std::string id = ItemIdentifier(selection.front());
  if (!shown_.empty() && ::strcasecmp(id.c_str(), shown_.c_str()) == 0) return;
  shown_ = id;
  if (!timerWindow_) {
    host_.Report(kEvSettleTimer, id, HresultFromWin32(win32::ERROR_INVALID_HANDLE));
    return;
  }
  timerWindow_->SetTimer(kSettleTimerId, kSettleDelay);  // restarts a pending one
}

void ExplorerVisits::OnTimer() {
  if (timerWindow_) timerWindow_->KillTimer(kSettleTimerId);  // one-shot
  if (!connected_) return;
  const DesktopWindow pane = FindReadingPane(host_.desktop, ExplorerWindow());
  if (pane == 0) {
    EndVisit();
    return;
  }
  if (pane != pane_) EndVisit();
  std::vector<platform::mail::EntryId> selection;
  HRESULT hr = explorer_.Selection(selection);
  if (Succeeded(hr) && selection.empty()) hr = HresultFromWin32(win32::ERROR_NOT_FOUND);
  if (Failed(hr)) {
    host_.Report(kEvSelection, shown_, hr);
    EndVisit();
    return;
  }
  const std::string id = ItemIdentifier(selection.front());
  shown_ = id;
  pane_ = pane;
  hr = host_.visits.Start(pane, id, VisitFlagsFor(selection.front()));
  if (Failed(hr)) {
    EndVisit();
    host_.Report(kEvVisitStart, id, hr);
  }
}

void ExplorerVisits::EndVisit() {
  if (pane_ == 0) return;
  (void)host_.visits.End(pane_, 0);
  pane_ = 0;
}

DesktopWindow ExplorerVisits::ExplorerWindow() {
  if (frame_ != 0 && host_.desktop.IsWindow(frame_)) return frame_;
  frame_ = 0;
  const HRESULT hr =
      FindClientWindow(host_.desktop, explorer_.windowInfo(), ClientWindowKind::Explorer, frame_);
  if (Failed(hr)) host_.Report(kEvWindowNotFound, explorer_.windowInfo().caption, hr);
  return frame_;
}

void ExplorerVisits::Disconnect() {
  if (!connected_) return;
  connected_ = false;
  EndVisit();
  timerWindow_.reset();  // withdraws the window and its timer
}

}  // namespace qv::mail::addin
