#include "service/QvRankingSvc/service_registration.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/guid.h"
#include "interfaces/ikiv_listener.h"
#include "platform/fs/private_files.h"
#include "platform/messaging/unique_fd.h"
#include "service/QvRankingSvc/service_constants.h"

namespace qv::service {
namespace {

using platform::Hive;
using platform::RegValue;

constexpr std::string_view kWinlogonKey =
    R"(Software\Microsoft\Windows NT\CurrentVersion\Winlogon\Notify\QvRankingSvc)";
constexpr std::string_view kTypeLibName = "Quillon Vesper Ranking Service 1.0 Type Library";
constexpr std::uint32_t kServiceOwnProcess = 0x10;
constexpr std::uint32_t kDemandStart = 3;
constexpr std::uint32_t kErrorNormal = 1;

std::string AppIdKey() { return "AppID\\" + FormatGuid(APPID_QvRankingSvc); }
std::string ClassKey() { return "CLSID\\" + FormatGuid(CLSID_KivListener); }
std::string InterfaceKey() { return "Interface\\" + FormatGuid(IID_IKivListener); }
std::string TypeLibKey() { return "TypeLib\\" + FormatGuid(LIBID_KivSvcLib); }
std::string ExeKey() { return "AppID\\" + std::string(kServiceName) + ".EXE"; }

// Collects the first failure of a run of registry writes.
class FirstError {
 public:
  void operator()(std::int32_t code) {
    if (code != win32::ERROR_SUCCESS && hr_ == S_OK) hr_ = HresultFromWin32(code);
  }
  void Hr(HRESULT hr) {
    if (Failed(hr) && hr_ == S_OK) hr_ = hr;
  }
  // Deleting what is not there is no error.
  void Removed(std::int32_t code) {
    if (code != win32::ERROR_FILE_NOT_FOUND) (*this)(code);
  }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_ = S_OK;
};

// The unit file is written whole to a temporary name and renamed into place.
HRESULT WriteUnit(const std::filesystem::path& folder, const std::string& text) {
  if (const std::error_code ec = platform::CreatePrivateFolders(folder)) {
    return HresultFromErrno(ec.value());
  }
  const std::filesystem::path target = folder / kUnitFileName;
  const std::filesystem::path temp = folder / (std::string(kUnitFileName) + ".tmp");
  platform::UniqueFd fd(
      ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return HresultFromErrno(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::unlink(temp.c_str());
      return HresultFromErrno(err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return HresultFromErrno(err);
  }
  return S_OK;
}

}  // namespace

std::optional<std::filesystem::path> UserUnitFolder() {
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x == '/') {
    return std::filesystem::path(x) / "systemd" / "user";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return std::filesystem::path(home) / ".config" / "systemd" / "user";
  }
  return std::nullopt;
}

bool SystemdRuns() {
  std::error_code ec;
  if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x != nullptr && *x == '/') {
    if (std::filesystem::exists(std::filesystem::path(x) / "systemd", ec)) return true;
  }
  return std::filesystem::is_directory("/run/systemd/system", ec);
}

HRESULT UnitText(const std::filesystem::path& executable, std::string& out) {
  // ExecStart takes the program in double quotes; inside them a backslash and a quote are
  // escaped, and systemd's own specifiers (%) and variables ($) are doubled.
  std::string quoted = "\"";
  for (char c : executable.native()) {
    if (c == '\n' || c == '\r' || c == '\0') return E_INVALIDARG;
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '%' || c == '$') quoted += c;
    quoted += c;
  }
  quoted += '"';
  out = "# Written by QvRankingSvc -RegServer; QvRankingSvc -UnregServer removes it.\n"
        "[Unit]\n"
        "Description=" + std::string(kDisplayName) + "\n"
        "\n"
        "[Service]\n"
        "Type=simple\n"
        "ExecStart=" + quoted + " --run\n"
        "ExecStop=" + quoted + " --stop\n"
        "\n"
        "[Install]\n"
        "WantedBy=default.target\n";
  return S_OK;
}

HRESULT RegisterService(platform::Registry& reg, const RegistrationOptions& options) {
  FirstError e;
  const std::string exe = options.executable.string();
  const std::string dir = options.executable.parent_path().string();
  const std::string appId = FormatGuid(APPID_QvRankingSvc);

  e(reg.SetValue(Hive::ClassesRoot, AppIdKey(), "", RegValue::Sz(kServiceName)));
  e(reg.SetValue(Hive::ClassesRoot, ExeKey(), "AppID", RegValue::Sz(appId)));

  e.Removed(reg.DeleteKey(Hive::LocalMachine, kEventSourceKey));
  e(reg.SetValue(Hive::LocalMachine, kEventSourceKey, "EventMessageFile",
                 RegValue::Sz(dir + "/QvEvents.dll")));
  e(reg.SetValue(Hive::LocalMachine, kEventSourceKey, "TypesSupported", RegValue::Dword(7)));
  e(reg.SetValue(Hive::LocalMachine, kEventSourceKey, "CategoryMessageFile",
                 RegValue::Sz(dir + "/QvEvents.dll")));
  e(reg.SetValue(Hive::LocalMachine, kEventSourceKey, "CategoryCount", RegValue::Dword(3)));

  e(reg.SetValue(Hive::ClassesRoot, AppIdKey(), "LocalService", RegValue::Sz(kServiceName)));

  // The service: its entry in the service database, and the unit where systemd runs. What is
  // installed already stays as it is.
  if (!reg.KeyExists(Hive::LocalMachine, kServiceKey)) {
    e(reg.SetValue(Hive::LocalMachine, kServiceKey, "DisplayName", RegValue::Sz(kDisplayName)));
    e(reg.SetValue(Hive::LocalMachine, kServiceKey, "Description",
                   RegValue::Sz(kServiceDescription)));
    e(reg.SetValue(Hive::LocalMachine, kServiceKey, "ImagePath",
                   RegValue::ExpandSz("\"" + exe + "\"")));
    e(reg.SetValue(Hive::LocalMachine, kServiceKey, "Type", RegValue::Dword(kServiceOwnProcess)));
    e(reg.SetValue(Hive::LocalMachine, kServiceKey, "Start", RegValue::Dword(kDemandStart)));
    e(reg.SetValue(Hive::LocalMachine, kServiceKey, "ErrorControl", RegValue::Dword(kErrorNormal)));
    e(reg.SetValue(Hive::LocalMachine, kServiceKey, "DependOnService",
                   RegValue::MultiSz({"RPCSS"})));
  }
  if (options.unitFolder) {
    std::error_code ec;
    if (!std::filesystem::exists(*options.unitFolder / kUnitFileName, ec)) {
      std::string text;
      HRESULT hr = UnitText(options.executable, text);
      if (Succeeded(hr)) hr = WriteUnit(*options.unitFolder, text);
      e.Hr(hr);
    }
  }

  // The class and the type library.
  e.Removed(reg.DeleteKey(Hive::ClassesRoot, ClassKey()));
  e(reg.SetValue(Hive::ClassesRoot, ClassKey(), "", RegValue::Sz(kListenerName)));
  e(reg.SetValue(Hive::ClassesRoot, ClassKey(), "AppID", RegValue::Sz(appId)));
  e(reg.SetValue(Hive::ClassesRoot, ClassKey() + "\\LocalServer32", "", RegValue::Sz(exe)));
  e(reg.SetValue(Hive::ClassesRoot, ClassKey() + "\\LocalServer32", "ThreadingModel",
                 RegValue::Sz("Apartment")));
  e(reg.SetValue(Hive::ClassesRoot, InterfaceKey(), "", RegValue::Sz("IKivListener")));
  e(reg.SetValue(Hive::ClassesRoot, InterfaceKey() + "\\TypeLib", "",
                 RegValue::Sz(FormatGuid(LIBID_KivSvcLib))));
  e(reg.SetValue(Hive::ClassesRoot, TypeLibKey() + "\\1.0", "", RegValue::Sz(kTypeLibName)));
  return e.result();
}

HRESULT UnregisterService(platform::Registry& reg, const RegistrationOptions& options) {
  FirstError e;
  e.Removed(reg.DeleteKey(Hive::ClassesRoot, ClassKey()));
  e.Removed(reg.DeleteKey(Hive::ClassesRoot, InterfaceKey()));
  e.Removed(reg.DeleteKey(Hive::ClassesRoot, TypeLibKey()));
  e.Removed(reg.DeleteKey(Hive::LocalMachine, kServiceKey));
  if (options.unitFolder) {
    const std::filesystem::path unit = *options.unitFolder / kUnitFileName;
    if (::unlink(unit.c_str()) != 0 && errno != ENOENT) e.Hr(HresultFromErrno(errno));
  }
  e.Removed(reg.DeleteValue(Hive::ClassesRoot, AppIdKey(), "LocalService"));
  e.Removed(reg.DeleteKey(Hive::ClassesRoot, AppIdKey()));
  e.Removed(reg.DeleteKey(Hive::ClassesRoot, ExeKey()));
  e.Removed(reg.DeleteKey(Hive::LocalMachine, kEventSourceKey));
  // Logon notifications come from logind here, so registration writes no Winlogon entry;
  // one found in a registry copied from elsewhere goes with the rest.
  e.Removed(reg.DeleteKey(Hive::LocalMachine, kWinlogonKey));
  return e.result();
}

}  // namespace qv::service
