#pragma once
// The manager's settings: machine-wide values read once at start, per-user values, their
// units and accepted ranges, and the fixed names the manager uses, in one place.
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/registry/registry.h"

namespace qv::manager {

inline constexpr std::string_view kVesperKey = R"(Software\Quillon\Vesper)";
inline constexpr std::string_view kDisabledValue = "Disabled";
inline constexpr std::string_view kShowTaskBarIconValue = "ShowTaskBarIcon";
inline constexpr std::string_view kLastRescanValue = "LastRescan";
// The one-per-session gate (the job object's name).
inline constexpr std::string_view kManagerGateName =
    "Local\\QK-9DC4B0A4-2F5D-4422-BC35-BBF453B2DF08";
inline constexpr std::string_view kHostWindowTitle = "QvManager";
inline constexpr std::string_view kBrowserKey = R"(Software\Microsoft\Internet Explorer)";
inline constexpr std::uint32_t kServiceDisabledStart = 4;  // SERVICE_DISABLED

// Host window commands (WM_COMMAND wParam) and timers.
inline constexpr std::uint64_t kCmdOpenSearch = 1111;
inline constexpr std::uint64_t kCmdOptions = 1112;
inline constexpr std::uint64_t kCmdDisable = 40036;
inline constexpr std::uint64_t kCmdEnable = 40038;
inline constexpr std::uint64_t kCmdStatusSheet = 40039;
inline constexpr std::uint64_t kCmdClose = 40044;
inline constexpr std::uintptr_t kPollTimer = 1;

// FILETIME units per minute.
inline constexpr std::uint64_t kTicksPerMinute = 600'000'000;
// The published cache folder file holds at most this many bytes of UTF-16.
inline constexpr std::size_t kMaxCacheFolderBytes = 518;

// Events of the manager (category 1).
inline constexpr std::uint16_t kManagerCategory = 1;
inline constexpr std::uint32_t kEvCachePathFailed = 0xC0001014;
inline constexpr std::uint32_t kEvCacheFolderUnknown = 0xC0001016;
inline constexpr std::uint32_t kEvCacheWriteFailed = 0xC0001017;

struct ManagerConfig {
  std::uint32_t startStopTimeoutSeconds = 15;   // 10..60
  std::uint32_t endSessionTimeoutSeconds = 30;  // 10..120
  bool selfRepair = true;
  std::uint32_t cfgVerifyPeriodMinutes = 1440;  // 0..1440, 0 = once per run
  std::uint32_t rescanPeriodMinutes = 10080;    // 0..70000, 0 = never
  std::uint32_t statusPollSeconds = 5;          // 5..300
  std::optional<std::uint32_t> minWorkingSetKb;  // 1..102400
  std::optional<std::uint32_t> maxWorkingSetKb;  // 1..102400
  bool disabled = false;  // per user
  bool showIcon = true;   // per user
};

// Machine values from HKLM, user values from HKCU; a value that is not a DWORD or lies
// outside its range leaves the default.
ManagerConfig ReadManagerConfig(const platform::Registry& registry);

struct WorkingSetLimit {
  std::uint64_t minBytes = 0;
  std::uint64_t maxBytes = 0;
};
// A limit only when both sizes are configured.
std::optional<WorkingSetLimit> TracerWorkingSet(const ManagerConfig& config);

}  // namespace qv::manager
