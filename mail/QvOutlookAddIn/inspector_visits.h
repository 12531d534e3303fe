#pragma once
// The visit of one inspector (an item in its own window). It starts once, on the first
// activation that finds the window and reads the item; a new item not saved yet is visited
// uncounted as "outlook:" and turns counted with its full identifier when it is saved.
#include <string>

#include "mail/QvOutlookAddIn/addin_host.h"
#include "platform/mail/mail_client.h"

namespace qv::mail::addin {

class InspectorVisits {
 public:
  enum class Tracking { None = 0, Tracked = 1, Untracked = 2 };

  InspectorVisits(const AddInHost& host, platform::mail::Inspector& inspector);
  ~InspectorVisits();  // ends the visit
  InspectorVisits(const InspectorVisits&) = delete;
  InspectorVisits& operator=(const InspectorVisits&) = delete;

  void OnActivate();
  // The item was saved (Write).
  void OnWriteItem();
  // Close: ends the visit; nothing happens afterwards.
  void OnClose();

  platform::DesktopWindow window() const { return window_; }
  Tracking tracking() const { return tracking_; }

 private:
  const AddInHost& host_;
  platform::mail::Inspector& inspector_;
  platform::DesktopWindow window_ = 0;  // 0 until found and the visit started
  Tracking tracking_ = Tracking::None;
  bool closed_ = false;
};

}  // namespace qv::mail::addin
