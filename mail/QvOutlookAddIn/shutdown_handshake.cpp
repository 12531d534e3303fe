#include "mail/QvOutlookAddIn/shutdown_handshake.h"

#include "context/registry_values.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "mail/QvOutlookAddIn/addin_constants.h"
#include "platform/process/named_event.h"

namespace qv::mail::addin {

std::chrono::milliseconds ReadStartStopTimeout(const platform::Registry& registry) {
  const std::uint32_t seconds =
      ReadDword(registry, platform::Hive::LocalMachine, kVesperKey, kStartStopTimeoutValue,
                kDefaultStartStopSeconds, kMinStartStopSeconds, kMaxStartStopSeconds);
  return std::chrono::seconds(seconds);
}

HandshakeOutcome ShutdownHandshake::Run(const ClientPump& pump) {
  HandshakeOutcome outcome;
  if (const platform::Hwnd events = station_.FindMessageWindow(hooks::kTracerEventWindowClass);
      events != 0) {
    outcome.sent = station_.SendMessageTimeout(events, hooks::KIVM_END_MAIL_VISITS, 0, 0,
                                               platform::SMTO_ABORTIFHUNG, timeout_);
  }
  std::unique_ptr<platform::NamedEvent> event;
  if (Failed(platform::NamedEvent::Open(sessionFolder_, hooks::kMailVisitsEventName, event))) {
    return outcome;  // no tracer, nothing to wait for
  }
  outcome.waited = true;
  // A tracer that goes away while we wait has nothing more to record for us.
  const auto done = [&] {
    loop_.Pump();
    return event->IsSet() || !event->Alive();
  };
  outcome.recorded = done() || (pump && pump(done, timeout_));
  if (!outcome.recorded) outcome.recorded = event->IsSet();
  return outcome;
}

}  // namespace qv::mail::addin
