#include "platform/desktop/desktop_session.h"

#include "context/event_report.h"
#include "platform/desktop/combined_session_signals.h"
#include "platform/desktop/logind_session.h"
#include "platform/desktop/x11_screen_saver.h"

namespace qv::platform {

std::unique_ptr<SessionSignals> ConnectDesktopSession(const char* display,
                                                      const EventLog* eventLog) {
  auto missing = [eventLog](const char* source, const char* unnoticed, HRESULT hr) {
    if (eventLog == nullptr) return;
    eventLog->Report(kEventSource, EventType::Warning, kCategoryTracer,
                     kEventSessionSourceMissing,
                     {source, unnoticed, FormatLowWord(hr), SystemMessage(hr)});
  };
  auto combined = std::make_unique<CombinedSessionSignals>();
  HRESULT hr = S_OK;
  if (auto logind = LogindSession::Connect(hr)) {
    combined->Add(std::move(logind));
  } else {
    missing("logind", "locking, unlocking, suspend and resume", hr);
  }
  if (auto saver = X11ScreenSaver::Connect(display, hr)) {
    combined->Add(std::move(saver));
  } else {
    missing("XScreenSaver", "the screen saver", hr);
  }
  return combined;
}

}  // namespace qv::platform
