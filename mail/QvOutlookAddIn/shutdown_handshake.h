#pragma once
// When the mail client quits: ask the tracer to close its open mail visits, then wait until it
// has recorded them (its named event), while the client goes on serving calls, because
// recording a mail visit calls back into this add-in's ranking object.
#include <chrono>
#include <filesystem>
#include <functional>

#include "common/hresult.h"
#include "platform/messaging/message_loop.h"
#include "platform/messaging/window_station.h"
#include "platform/registry/registry.h"

namespace qv::mail::addin {

// StartStopTimeout (seconds) under the machine's Vesper key: 10..60, otherwise 15.
std::chrono::milliseconds ReadStartStopTimeout(const platform::Registry& registry);

// Runs the client's queued work until `done` holds or the limit passes; false on time-out
// (MailClient::PumpUntil).
using ClientPump = std::function<bool(const std::function<bool()>& done, std::chrono::milliseconds)>;

struct HandshakeOutcome {
  HRESULT sent = S_FALSE;  // S_FALSE: no tracer event window; else the send's result
  bool waited = false;     // the tracer's event existed and was waited on
  bool recorded = false;   // it was signalled within the time-out
};

class ShutdownHandshake {
 public:
  // `sessionFolder` holds the session's named objects (the runtime folder); `loop` is the
  // add-in's own loop, whose messages are dispatched while waiting.
  ShutdownHandshake(platform::WindowStation& station, platform::MessageLoop& loop,
                    std::filesystem::path sessionFolder, std::chrono::milliseconds timeout)
      : station_(station), loop_(loop), sessionFolder_(std::move(sessionFolder)), timeout_(timeout) {}

  HandshakeOutcome Run(const ClientPump& pump);

 private:
  platform::WindowStation& station_;
  platform::MessageLoop& loop_;
  std::filesystem::path sessionFolder_;
  std::chrono::milliseconds timeout_;
};

}  // namespace qv::mail::addin
