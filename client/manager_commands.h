#pragma once
// The commands the client's menu sends to the runtime manager's host window: enabling and
// disabling ranking and tracing are posted; showing the status is sent and waited for (up to
// 5 s, at once if the manager is hung). Without a host window the commands do nothing.
#include <chrono>
#include <cstdint>

#include "common/hresult.h"
#include "platform/messaging/window_station.h"

namespace qv::client {

enum class ManagerCommand : std::uint32_t {
  EnableRanking = 40038,
  DisableRanking = 40036,
  ShowStatus = 40039,
};

inline constexpr std::chrono::milliseconds kManagerSendTimeout{5000};

// The message a command becomes.
struct ManagerMessage {
  std::uint32_t message = 0;  // WM_COMMAND
  std::uint32_t commandId = 0;
  bool send = false;  // sent and waited for, else posted
  std::uint32_t sendFlags = 0;
  std::chrono::milliseconds timeout{0};
};
ManagerMessage MessageFor(ManagerCommand command);

// S_OK once delivered, S_FALSE when no manager runs, else the post's or send's error.
HRESULT SendManagerCommand(platform::WindowStation& station, ManagerCommand command);

}  // namespace qv::client
