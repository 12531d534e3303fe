#pragma once
// The manager's rules without any window: the state (active, disabled, suspended), the status
// poll with its problems, the periodic catalog verification and web history rescans, and the
// choice of icon and balloon. The outside world (services, tracer process, poll timer, the
// listener) is reached through ManagerPorts, so tests drive every rule with fakes.
#include <cstdint>
#include <string>

#include "common/clock.h"
#include "common/hresult.h"
#include "manager/runtime/manager_config.h"
#include "platform/registry/registry.h"

namespace qv::manager {

enum class ManagerState : std::uint32_t { Active = 0, Disabled = 1, Suspended = 2 };

enum class Problem : std::uint32_t {
  None = 0,
  TracerLost = 1,            // no tracer window, even after one restart
  ServiceDisabled = 2,       // the ranking service's start type is "disabled"
  ServiceUnreadable = 3,     // not installed, or its status cannot be read
  IndexerStopped = 4,        // the indexer was stopped at two consecutive polls
  IndexerUnreadable = 5,     // the indexer's status cannot be read
  NoServiceManager = 6,      // the service manager (the runtime folder) cannot be reached
};

enum class RankingServiceStatus { Running, Stopped, StartDisabled, Unreadable, NoServiceManager };
enum class IndexerStatus { Running, Stopped, Unreadable };

class ManagerPorts {
 public:
  virtual ~ManagerPorts() = default;
  virtual RankingServiceStatus QueryRankingService() = 0;
  virtual IndexerStatus QueryIndexer() = 0;
  virtual bool TracerWindowExists() = 0;
  // Starts the tracer when none is held; returns whether one runs afterwards.
  virtual HRESULT StartTracer() = 0;
  // Tells a held tracer to shut down (with the state as the reason) and waits for it,
  // `longWait` giving the end-of-session bound.
  virtual void StopTracer(ManagerState state, bool longWait) = 0;
  virtual void SetPollTimer(bool running) = 0;
  // The user's local application data folder; empty when unknown.
  virtual std::string LocalAppDataFolder() = 0;
  // Begins CfgVerify(folder, rescan) without waiting for its outcome.
  virtual HRESULT BeginCfgVerify(const std::string& folder, bool rescan) = 0;
};

enum class BalloonType { Information, Warning, Error };

struct IconChoice {
  std::uint32_t icon = 0;     // icon resource
  std::uint32_t message = 0;  // message resource: tooltip, then the balloon text
  BalloonType balloon = BalloonType::Information;
  friend bool operator==(const IconChoice&, const IconChoice&) = default;
};

IconChoice ChooseIcon(ManagerState state, Problem problem, std::uint32_t busyCount);

// Whether a web history rescan is due: never with a period of 0; always when `lastRescan` is
// missing or not 8 bytes of FILETIME; else when now is past it by the period.
bool RescanDue(const ManagerConfig& config, const platform::RegValue* lastRescan, FileTime now);

class ManagerCore {
 public:
  ManagerCore(ManagerConfig config, ManagerPorts& ports, platform::Registry& registry,
              const Clock& clock);

  // Host window created: restart the tracer (started only while active) and poll once.
  void Start();
  // The manager ends: the tracer is stopped, with the longer wait while active.
  void Stop();

  // Changes the state by the rules: a disable overrides a suspension, and only an enable ends
  // a disable. Leaving or entering the active state stops and starts the tracer.
  void ChangeState(ManagerState s);
  void Enable();   // and polls at once
  void Disable();
  // The status poll; returns the problem it leaves.
  Problem Poll();
  // The poll timer: poll, then the catalog verification when it is due.
  void Tick();
  // KIVM_TRACER_BUSY: bit 0 raises the busy count, bit 1 lowers it (not below 0).
  void Busy(std::uint64_t bits);
  // The verification request: S_FALSE when the folder was verified already.
  HRESULT RequestVerification();

  void SetEnding(bool ending) { ending_ = ending; }
  bool ending() const { return ending_; }
  ManagerState state() const { return state_; }
  Problem problem() const { return problem_; }
  std::uint32_t busyCount() const { return busyCount_; }
  HRESULT lastVerifyResult() const { return lastVerify_; }
  IconChoice Icon() const { return ChooseIcon(state_, problem_, busyCount_); }
  const ManagerConfig& config() const { return config_; }

 private:
  void ResumeIfSuspended();
  void RestartTracer(bool start);

  ManagerConfig config_;
  ManagerPorts& ports_;
  platform::Registry& registry_;
  const Clock& clock_;
  ManagerState state_;
  Problem problem_ = Problem::None;
  std::uint32_t indexerStoppedPolls_ = 0;
  std::uint32_t busyCount_ = 0;
  bool ending_ = false;
  std::string lastVerifiedFolder_;
  HRESULT lastVerify_ = S_OK;
  std::uint64_t verifySeconds_ = 0;  // accumulated towards the next verification
};

}  // namespace qv::manager
