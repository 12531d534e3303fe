#pragma once
// The mail add-in as the mail client loads it: it binds the visit interface, listens to the
// client's explorers and inspectors and reports what the user reads, and on quit holds the
// client until the tracer has recorded the open mail visits.
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "mail/QvOutlookAddIn/addin_host.h"
#include "mail/QvOutlookAddIn/explorer_visits.h"
#include "mail/QvOutlookAddIn/inspector_visits.h"
#include "mail/QvOutlookAddIn/shutdown_handshake.h"
#include "platform/mail/mail_client.h"

namespace qv::mail::addin {

struct AddInOptions {
  std::filesystem::path sessionFolder;  // the session's runtime folder (named objects)
  // The quit wait; unset reads StartStopTimeout.
  std::optional<std::chrono::milliseconds> startStopTimeout;
};

// The binding the add-in makes at load: libQvHooks.so beside the event message file. A failed
// binding leaves it unbound (every visit call then answers E_UNEXPECTED).
VisitBinding BindVisitInterface(const platform::Registry& registry);

class OutlookAddIn {
 public:
  // `loop` is the client's main loop, which its host pumps; everything here runs on it.
  OutlookAddIn(const Context& ctx, platform::mail::MailClient& client,
               platform::WindowStation& station, platform::MessageLoop& loop,
               VisitBinding visits, AddInOptions options);
  ~OutlookAddIn();  // disconnects from the client
  OutlookAddIn(const OutlookAddIn&) = delete;
  OutlookAddIn& operator=(const OutlookAddIn&) = delete;

  // Starts listening to the client.
  void Connect();
  // Stops listening; every visit is ended.
  void Disconnect();

  const HandshakeOutcome& lastQuit() const { return lastQuit_; }
  ExplorerVisits* explorer(const platform::mail::Explorer& e);
  InspectorVisits* inspector(const platform::mail::Inspector& i);

 private:
  ExplorerVisits& ForExplorer(platform::mail::Explorer& e);
  InspectorVisits& ForInspector(platform::mail::Inspector& i);
  void OnQuit();

  const Context& ctx_;
  platform::mail::MailClient& client_;
  platform::WindowStation& station_;
  VisitBinding visits_;
  AddInOptions options_;
  AddInHost host_;
  std::map<const platform::mail::Explorer*, std::unique_ptr<ExplorerVisits>> explorers_;
  std::map<const platform::mail::Inspector*, std::unique_ptr<InspectorVisits>> inspectors_;
  HandshakeOutcome lastQuit_;
  bool connected_ = false;
};

}  // namespace qv::mail::addin
