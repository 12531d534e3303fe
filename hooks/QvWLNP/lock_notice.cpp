#include "hooks/QvWLNP/lock_notice.h"

#include <sys/stat.h>
#include <unistd.h>

#include "hooks/QvHooks/tracer_messages.h"
#include "platform/messaging/socket_transport.h"
#include "platform/messaging/window_station.h"

namespace qv::hooks {

using namespace qv::platform;

void PostLockState(const QvWlxNotificationInfo* info, std::uint64_t state, const Clock& clock) {
  // The size field replaces a test of how many bytes behind the pointer are readable, which
  // this platform cannot make: a record that does not reach the fields read is ignored.
  if (info == nullptr || info->size < sizeof(QvWlxNotificationInfo)) return;
  if (info->windowStation == nullptr || *info->windowStation == '\0' || info->token == nullptr) {
    return;
  }
  // Open the session's window station: an existing folder only, never made here.
  struct stat st {};
  if (::lstat(info->windowStation, &st) != 0 || !S_ISDIR(st.st_mode)) return;
  SocketTransportOptions options;
  options.folder = info->windowStation;
  options.uid = ::getuid();
  std::shared_ptr<SocketTransport> transport;
  if (Failed(SocketTransport::Open(std::move(options), clock, transport))) return;
  // The station lives for this call only, so the caller's own state is as it was after it.
  WindowStation station(std::move(transport), clock);
  const Hwnd tracer = station.FindWindow(kTracerWindowClass);
  if (tracer != 0) station.PostMessage(tracer, KIVM_LOCK_STATE, state, 0);
}

}  // namespace qv::hooks
