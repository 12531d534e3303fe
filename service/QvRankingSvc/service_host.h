#pragma once
// The ranking service's host: one running service per user, found by clients through its
// socket in the user's runtime folder. The thread that calls Run serves every call in turn;
// slow catalog requests go to the catalog worker; due jobs run at their time from a timer.
// Which process is the running service is decided by a lock file held for the process's
// life, so two services started at once cannot both serve, and a socket left by a service
// that died is replaced by the next one.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "context/context.h"
#include "interfaces/ibase_activation.h"
#include "platform/com/remote_call.h"
#include "platform/messaging/unique_fd.h"
#include "service/QvRankingSvc/catalog_worker.h"
#include "service/QvRankingSvc/listener_requests.h"

namespace qv::service {

// Another service of this user holds the lock.
inline const HRESULT kAlreadyRunning = HresultFromWin32(win32::ERROR_ALREADY_EXISTS);

struct HostOptions {
  std::filesystem::path folder;  // the user's runtime folder
  uid_t uid = 0;                 // the user whose calls are served
  std::chrono::milliseconds workerStopWait = kWorkerStopWait;
  // Read SIGTERM, SIGINT and SIGHUP from a signalfd as a stop (the main blocks them first).
  bool handleSignals = false;
  // Reads a connection's caller; SO_PEERCRED unless a test replaces it.
  std::function<bool(int fd, Caller& out)> peerCredentials;
};

std::filesystem::path ServiceSocketPath(const std::filesystem::path& folder);
std::filesystem::path ServiceLockPath(const std::filesystem::path& folder);

class ServiceHost {
 public:
  ServiceHost(const Context& ctx, ListenerHandlers handlers, HostOptions options);
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // Blocks the stop signals in the calling thread and every thread it starts afterwards; call
  // it in main before any thread exists.
  static void BlockStopSignals();

  // Becomes the user's running service: takes the lock and listens on the socket.
  // kAlreadyRunning when another service holds the lock.
  HRESULT Open();
  // Serves calls until a stop (signal, Stop call or RequestStop). S_OK after an orderly stop,
  // or the failure of a start step (the worker failing to start).
  HRESULT Run();
  // From any thread.
  void RequestStop() noexcept;
  // True when the last stop left the catalog worker inside a request.
  bool workerAbandoned() const { return workerAbandoned_; }
  // The catalog worker, for tests that watch its queue.
  const CatalogWorker& worker() const { return worker_; }

 private:
  struct Connection {
    platform::UniqueFd fd;
    Caller caller;
  };

  void Accept();
  // False drops the connection.
  bool Serve(Connection& conn);
  HRESULT Invoke(const platform::CallRequest& call, const Caller& caller);
  // Queues a request the handler built; a failure is logged unless the handler logged it.
  HRESULT QueueCatalogRequest(HRESULT built, bool handlerLogged, CatalogRequest request,
                              const Caller& caller);
  void RunDueJobs();
  void ArmTimer(std::optional<SystemTime> when);

  const Context& ctx_;
  ListenerHandlers handlers_;
  HostOptions options_;
  CatalogWorker worker_;
  platform::UniqueFd lock_;
  platform::UniqueFd listen_;
  platform::UniqueFd stopEvent_;
  platform::UniqueFd timer_;
  platform::UniqueFd signals_;
  std::vector<Connection> connections_;
  bool stopping_ = false;
  bool listening_ = false;
  std::atomic<bool> workerAbandoned_{false};
};

}  // namespace qv::service
