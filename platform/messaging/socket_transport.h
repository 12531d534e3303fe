#pragma once
// The transport between processes: every published window listens on a Unix-domain
// SEQPACKET socket in the runtime folder, named after its class and handle. Every
// connection's peer is checked with SO_PEERCRED, both ways: a peer of another user is
// refused, and the refusal is written to the event log.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/clock.h"
#include "platform/eventlog/event_log.h"
#include "platform/messaging/transport.h"

namespace qv::platform {

// Written when a process of another user connects to one of our windows (or when we reach
// a window served by another user): insertion strings are the socket's path, the peer's
// uid and pid.
inline constexpr std::uint32_t kEventForeignPeerRefused = 0xC0000070;

struct PeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

struct SocketTransportOptions {
  std::filesystem::path folder;         // must pass EnsureRuntimeFolder
  const EventLog* eventLog = nullptr;   // where refusals are reported, if anywhere
  uid_t uid = 0;                        // the user whose peers are accepted
  // Reads a connected socket's peer; SO_PEERCRED unless a test replaces it.
  std::function<bool(int fd, PeerCredentials& out)> peerCredentials;
};

class SocketTransport final : public Transport {
 public:
  // Checks the folder (EnsureRuntimeFolder) and fills in defaults.
  static HRESULT Open(SocketTransportOptions options, const Clock& clock,
                      std::shared_ptr<SocketTransport>& out);
  SocketTransport(SocketTransportOptions options, const Clock& clock);
  ~SocketTransport() override;

  Hwnd NewHandle() override;
  HRESULT Publish(const WindowInfo& info, std::shared_ptr<FrameSink> sink,
                  std::unique_ptr<Publication>& out) override;
  std::vector<WindowInfo> Enumerate(const WindowQuery& query) override;
  bool Describe(Hwnd handle, WindowInfo& out) override;
  HRESULT Deliver(const Frame& frame, std::chrono::milliseconds timeout,
                  Frame* reply) override;

  const std::filesystem::path& folder() const { return options_.folder; }
  // The socket path of a window of this class and handle.
  std::filesystem::path SocketPath(std::string_view className, Hwnd handle) const;

 private:
  bool PeerAllowed(int fd, const std::filesystem::path& where) const;

  SocketTransportOptions options_;
  const Clock& clock_;
  std::atomic<std::uint32_t> nextSerial_;
};

}  // namespace qv::platform
