#pragma once
// The visits of one explorer's reading pane. A selection change only arms a one-shot settle
// timer; the visit starts when the timer fires, for the item then selected, so that moving
// quickly through many messages starts one visit for the one the user stays on. Hiding the
// pane or emptying the selection ends the visit.
#include <memory>
#include <string>

#include "mail/QvOutlookAddIn/addin_host.h"
#include "platform/mail/mail_client.h"

namespace qv::mail::addin {

class ExplorerVisits {
 public:
  ExplorerVisits(const AddInHost& host, platform::mail::Explorer& explorer);
  ~ExplorerVisits();  // disconnects
  ExplorerVisits(const ExplorerVisits&) = delete;
  ExplorerVisits& operator=(const ExplorerVisits&) = delete;

  // The reading-pane check on SelectionChange.
  void OnSelectionChange();
  // On Close: ends the visit, destroys the timer window; nothing happens afterwards.
  void Disconnect();

  platform::DesktopWindow visitWindow() const { return pane_; }
  const std::string& shownItem() const { return shown_; }

 private:
  void OnTimer();
  void EndVisit();
  platform::DesktopWindow ExplorerWindow();

  const AddInHost& host_;
  platform::mail::Explorer& explorer_;
  platform::DesktopWindow frame_ = 0;  // the explorer's top-level window, once found
  platform::DesktopWindow pane_ = 0;   // the window of the current visit, 0 for none
  std::string shown_;                  // the identifier of the selected item, "" for none
  std::unique_ptr<platform::Window> timerWindow_;
  bool connected_ = true;
};

}  // namespace qv::mail::addin
