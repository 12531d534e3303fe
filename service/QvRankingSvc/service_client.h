#pragma once
// The client side of the ranking service: KivListenerProxy implements IKivListener by calling
// the user's running service, and starts one when none runs (QvRankingSvc --run --detach,
// without a shell). Two clients that start a service at once end up with one: the service
// that takes the lock serves, the other ends at once, and both clients connect to the first.
#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/clock.h"
#include "interfaces/ikiv_listener.h"
#include "platform/com/class_registry.h"
#include "platform/com/remote_call.h"
#include "platform/messaging/unique_fd.h"
#include "service/QvRankingSvc/service_constants.h"

namespace qv::service {

// Exit codes of QvRankingSvc, as --help documents them.
inline constexpr int kSvcExitOk = 0;
inline constexpr int kSvcExitUsage = 1;
inline constexpr int kSvcExitFailed = 2;          // the HRESULT is printed
inline constexpr int kSvcExitStopTimedOut = 3;    // --stop: still running when the wait ended
inline constexpr int kSvcExitNoneRunning = 4;     // --stop: no service was running
inline constexpr int kSvcExitAlreadyRunning = 5;  // --run: another service already serves
inline constexpr int kSvcExitNotAService = 255;   // no command: not started as the service

struct ServiceClientOptions {
  std::filesystem::path folder;   // the runtime folder; empty: the calling process's
  std::filesystem::path program;  // QvRankingSvc; empty: FindServiceProgram()
  std::filesystem::path root;     // QV_ROOT of a service started here; empty: inherited
  std::vector<std::string> environment;  // NAME=VALUE settings for a service started here
  const Clock* clock = nullptr;          // for the bounded waits; the system clock if none
  std::chrono::milliseconds callTimeout{30'000};
  std::chrono::milliseconds startTimeout{10'000};
};

// $QV_RANKING_SVC, else QvRankingSvc beside the calling program, else "QvRankingSvc" as
// found on PATH.
std::filesystem::path FindServiceProgram();

// Connects to the running service, starting one when none runs. CO_E_SERVER_EXEC_FAILURE
// when the program cannot be started or ends with a failure; ERROR_TIMEOUT when it does not
// serve within the start wait.
HRESULT ConnectToService(const ServiceClientOptions& options, platform::UniqueFd& out);

inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHr(0x80080005);

// A begin-call the service has queued; Finish waits for its result.
class PendingCall {
 public:
  PendingCall() = default;
  PendingCall(platform::UniqueFd fd, const Clock& clock) : fd_(std::move(fd)), clock_(&clock) {}
  HRESULT Finish(std::chrono::milliseconds timeout);

 private:
  platform::UniqueFd fd_;
  const Clock* clock_ = nullptr;
};

class KivListenerProxy final : public IKivListener {
 public:
  explicit KivListenerProxy(ServiceClientOptions options);

  HRESULT UpdatePending(const std::string* bstrFile, ULONG nUnits, ULONG nVisits, DATE dtStart,
                        DATE dtFinish, ULONG ulWorkingTime, ULONG ulActiveTime, ULONG lScope,
                        ULONG ulRetry, const std::string* bstrSearchKey) override;
  HRESULT CfgVerify(const std::string* bstrDir, VARIANT_BOOL bRescan) override;
  HRESULT DeleteStale(const std::string* bstrFile) override;
  HRESULT OtlProfile(const std::string* ProfileName, const std::string* ScopeRoot,
                     const std::string* PSTs) override;
  HRESULT OtlStopScope(const std::string* Directory) override;

  // The asynchronous form: return as soon as the service has queued the call.
  HRESULT BeginCfgVerify(const std::string* bstrDir, VARIANT_BOOL bRescan, PendingCall& out);
  HRESULT BeginDeleteStale(const std::string* bstrFile, PendingCall& out);

  // The process id of the service that answered the last call (0 before any).
  std::uint32_t servicePid() const { return servicePid_; }

 private:
  HRESULT Call(Method method, std::vector<platform::CallArg> args);
  HRESULT Begin(Method method, std::vector<platform::CallArg> args, PendingCall& out);

  ServiceClientOptions options_;
  SystemClock systemClock_;
  std::uint32_t servicePid_ = 0;
};

// Registers the proxy as CLSID_KivListener.
void RegisterKivListenerProxy(platform::ClassRegistry& classes, ServiceClientOptions options);

// QvRankingSvc --stop: asks the running service to stop and waits up to `wait` for it to end.
// Returns kSvcExitOk, kSvcExitNoneRunning, kSvcExitStopTimedOut or kSvcExitFailed, and says
// what happened on `out`, or on `err` when nothing was stopped.
int StopService(const ServiceClientOptions& options, std::chrono::milliseconds wait,
                std::ostream& out, std::ostream& err);

}  // namespace qv::service
