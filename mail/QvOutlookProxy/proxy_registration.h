#pragma once
// What -RegServer writes and -UnregServer removes for the mail proxy: its class (a local
// server started as the interactive user), its ProgIDs, AppID, interface and type library
// names; and the command line that asks for either.
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/hresult.h"
#include "platform/com/class_registry.h"
#include "platform/com/running_objects.h"
#include "platform/registry/registry.h"

namespace qv::mail {

enum class ProxyCommand { Serve, Register, Unregister, Help };

// The registration switches begin with "-" or "/" and are compared without regard to case
// ("/regserver", "-UNREGSERVER"); --help is spelled exactly. False with `error` for anything
// else or two commands at once.
bool ParseProxySwitches(std::span<const std::string_view> args, ProxyCommand& out,
                        std::string& error);

// S_OK or the first error; registering twice is no error.
HRESULT RegisterProxyServer(platform::Registry& registry, const std::filesystem::path& executable);
// Removes every key RegisterProxyServer wrote; keys already gone are no error.
HRESULT UnregisterProxyServer(platform::Registry& registry);

// Makes the proxy creatable by class in this process: an object created by CLSID_CIProxy or
// its ProgIDs is the running proxy program's object, reached through the session's table
// (CO_E_SERVER_EXEC_FAILURE when the program is not running).
void RegisterProxyClass(platform::ClassRegistry& classes,
                        std::shared_ptr<const platform::RunningObjects> table, const Clock& clock);

inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHr(0x80080005);

}  // namespace qv::mail
