#pragma once
// What -RegServer writes and -UnregServer removes: the listener's class, its AppID and
// interface, the type library's name, the system's event source, the service's entry in
// the service database of our registry, and the systemd user unit that runs the service
// where systemd runs.
#include <filesystem>
#include <optional>
#include <string>

#include "common/hresult.h"
#include "platform/registry/registry.h"

namespace qv::service {

struct RegistrationOptions {
  std::filesystem::path executable;  // the full path of QvRankingSvc
  // Where the systemd user unit goes; absent where no systemd user manager runs.
  std::optional<std::filesystem::path> unitFolder;
};

inline constexpr std::string_view kUnitFileName = "qv-ranking.service";
inline constexpr std::string_view kServiceKey = R"(SYSTEM\CurrentControlSet\Services\QvRankingSvc)";
inline constexpr std::string_view kEventSourceKey =
    R"(SYSTEM\CurrentControlSet\Services\EventLog\Application\Quillon Vesper)";

// $XDG_CONFIG_HOME/systemd/user, else ~/.config/systemd/user; absent without either.
std::optional<std::filesystem::path> UserUnitFolder();
// Whether a systemd user manager runs for this user (its folder in the runtime directory),
// or systemd runs the machine.
bool SystemdRuns();

// The unit's text; E_INVALIDARG for a path no unit can hold (a line break in it).
HRESULT UnitText(const std::filesystem::path& executable, std::string& out);

// S_OK or the first error. A service already installed (entry or unit) is left in place.
HRESULT RegisterService(platform::Registry& registry, const RegistrationOptions& options);
// Removes everything registration wrote; entries already gone are no error. Stopping a
// running service is the caller's business.
HRESULT UnregisterService(platform::Registry& registry, const RegistrationOptions& options);

}  // namespace qv::service
