#include "mail/QvOutlookProxy/proxy_registration.h"

#include <optional>
#include <vector>

#include "common/guid.h"
#include "common/utf.h"
#include "mail/QvOutlookProxy/outlook_proxy.h"
#include "mail/QvOutlookProxy/proxy_constants.h"

namespace qv::mail {
namespace {

using platform::Hive;
using platform::RegValue;

std::string ClassKey() { return "CLSID\\" + FormatGuid(CLSID_CIProxy); }
std::string AppIdKey() { return "AppID\\" + FormatGuid(APPID_QvOutlookProxy); }
std::string ExeKey() { return "AppID\\" + std::string(kProxyAppName); }
std::string InterfaceKey() { return "Interface\\" + FormatGuid(IID_IKivCIProxy); }
std::string TypeLibKey() { return "TypeLib\\" + FormatGuid(LIBID_QvOutlookProxy); }

std::optional<ProxyCommand> RegistrationSwitch(std::string_view arg) {
  if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) return std::nullopt;
  const std::string_view word = arg.substr(1);
  if (EqualsNoCase(word, "RegServer")) return ProxyCommand::Register;
  if (EqualsNoCase(word, "UnregServer")) return ProxyCommand::Unregister;
  return std::nullopt;
}

}  // namespace

bool ParseProxySwitches(std::span<const std::string_view> args, ProxyCommand& out,
                        std::string& error) {
  out = ProxyCommand::Serve;
  bool given = false;
  for (std::string_view arg : args) {
    std::optional<ProxyCommand> command =
        arg == "--help" ? std::optional(ProxyCommand::Help) : RegistrationSwitch(arg);
    if (!command) {
      error = "unknown argument '" + std::string(arg) + "'";
      return false;
    }
    if (given && out != *command) {
      error = "give one command at a time";
      return false;
    }
    out = *command;
    given = true;
  }
  return true;
}

HRESULT RegisterProxyServer(platform::Registry& reg, const std::filesystem::path& executable) {
  const std::string clsid = FormatGuid(CLSID_CIProxy);
  const std::string appId = FormatGuid(APPID_QvOutlookProxy);
  const std::string className = std::string(kProxyClassName) + " Class";
  const struct {
    std::string key, name, value;
  } values[] = {
      {ClassKey(), "", className},
      {ClassKey(), "AppID", appId},
      {ClassKey() + "\\LocalServer32", "", executable.string()},
      {ClassKey() + "\\ProgID", "", std::string(kProxyProgId)},
      {ClassKey() + "\\VersionIndependentProgID", "", std::string(kProxyProgIdIndependent)},
      {ClassKey() + "\\TypeLib", "", FormatGuid(LIBID_QvOutlookProxy)},
      {std::string(kProxyProgId), "", className},
      {std::string(kProxyProgId) + "\\CLSID", "", clsid},
      {std::string(kProxyProgIdIndependent), "", className},
      {std::string(kProxyProgIdIndependent) + "\\CLSID", "", clsid},
      {std::string(kProxyProgIdIndependent) + "\\CurVer", "", std::string(kProxyProgId)},
      {AppIdKey(), "", "QvOutlookProxy"},
      {AppIdKey(), "RunAs", "Interactive User"},
      {ExeKey(), "AppID", appId},
      {InterfaceKey(), "", "IKivCIProxy"},
      {TypeLibKey() + "\\1.0", "", "QvOutlookProxy 1.0 Type Library"},
  };
  for (const auto& v : values) {
    if (const std::int32_t rc = reg.SetValue(Hive::ClassesRoot, v.key, v.name, RegValue::Sz(v.value));
        rc != 0) {
      return HresultFromWin32(rc);
    }
  }
  return S_OK;
}

HRESULT UnregisterProxyServer(platform::Registry& reg) {
  const std::string keys[] = {ClassKey(),   std::string(kProxyProgId),
                              std::string(kProxyProgIdIndependent), AppIdKey(), ExeKey(),
                              InterfaceKey(), TypeLibKey()};
  for (const std::string& key : keys) {
    const std::int32_t rc = reg.DeleteKey(Hive::ClassesRoot, key);
    if (rc != 0 && rc != win32::ERROR_FILE_NOT_FOUND) return HresultFromWin32(rc);
  }
  return S_OK;
}

void RegisterProxyClass(platform::ClassRegistry& classes,
                        std::shared_ptr<const platform::RunningObjects> table, const Clock& clock) {
  classes.Register(CLSID_CIProxy, kProxyProgId, kProxyProgIdIndependent,
                   [table, &clock](std::shared_ptr<platform::ComObject>& out) {
                     if (!table || !table->IsRunning(kProxyClassObjectName)) {
                       return CO_E_SERVER_EXEC_FAILURE;
                     }
                     out = std::make_shared<RemoteCIProxy>(table, clock);
                     return S_OK;
                   });
}

}  // namespace qv::mail
