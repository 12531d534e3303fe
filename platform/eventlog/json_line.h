#pragma once
// One event as one JSON object on one line:
// {"time":"2026-12-07T13:08:00.123Z","source":"Quillon Vesper","type":"error","category":2,
//  "event":"0xC000001F","strings":["..."]}
#include <string>
#include <string_view>

#include "platform/eventlog/event_log.h"

namespace qv::platform {

std::string FormatEventLine(const EventRecord& rec);  // ends with '\n'
bool ParseEventLine(std::string_view line, EventRecord& out);

}  // namespace qv::platform
