#include "client/manager_commands.h"

#include "hooks/QvHooks/tracer_messages.h"

namespace qv::client {

ManagerMessage MessageFor(ManagerCommand command) {
  ManagerMessage m;
  m.message = platform::WM_COMMAND;
  m.commandId = static_cast<std::uint32_t>(command);
  if (command == ManagerCommand::ShowStatus) {
    m.send = true;
    m.sendFlags = platform::SMTO_ABORTIFHUNG;
    m.timeout = kManagerSendTimeout;
  }
  return m;
}

HRESULT SendManagerCommand(platform::WindowStation& station, ManagerCommand command) {
  const platform::Hwnd host = station.FindWindow(hooks::kHostWindowClass);
  if (host == 0) return S_FALSE;
  const ManagerMessage m = MessageFor(command);
  // The status sheet comes up in the manager's window; a desktop without a way to raise
  // another program's window leaves that to the manager.
  if (m.send) {
    return station.SendMessageTimeout(host, m.message, m.commandId, 0, m.sendFlags, m.timeout);
  }
  return station.PostMessage(host, m.message, m.commandId, 0);
}

}  // namespace qv::client
