#pragma once
// The manager's real outside world: the tracer as a child process at lowered priority, told
// to shut down through its window, the ranking service read from its registration and its
// socket, and the indexer from the lock its running process holds.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "manager/runtime/manager_core.h"
#include "platform/messaging/window_station.h"

namespace qv::manager {

// Nice increment for the tracer: below normal priority.
inline constexpr int kTracerNiceIncrement = 5;

struct TracerLaunch {
  std::filesystem::path program;        // QvTracer
  std::vector<std::string> extraArgs;   // before the start marker (a test's session script)
  char* const* envp = nullptr;          // null: this process's environment
};

struct SystemPortsSetup {
  ManagerConfig config;
  platform::WindowStation* station = nullptr;
  std::filesystem::path runtimeFolder;  // empty: no service manager to ask
  std::filesystem::path root;           // QV_ROOT
  const platform::Registry* registry = nullptr;
  TracerLaunch tracer;
  std::function<void(bool)> setPollTimer;
  std::function<HRESULT(const std::string&, bool)> beginCfgVerify;
};

// The ranking service's status from its entry in the service database and its socket.
RankingServiceStatus QueryRankingServiceStatus(const platform::Registry& registry,
                                               const std::filesystem::path& runtimeFolder);
// The indexer's status from its lock file, held while it runs.
IndexerStatus QueryIndexerStatus(const std::filesystem::path& root);

class SystemPorts final : public ManagerPorts {
 public:
  explicit SystemPorts(SystemPortsSetup setup) : s_(std::move(setup)) {}
  ~SystemPorts() override;

  RankingServiceStatus QueryRankingService() override;
  IndexerStatus QueryIndexer() override;
  bool TracerWindowExists() override;
  HRESULT StartTracer() override;
  void StopTracer(ManagerState state, bool longWait) override;
  void SetPollTimer(bool running) override;
  std::string LocalAppDataFolder() override;
  HRESULT BeginCfgVerify(const std::string& folder, bool rescan) override;

  pid_t tracerPid() const { return pid_; }

 private:
  void Terminate();
  SystemPortsSetup s_;
  pid_t pid_ = 0;
};

}  // namespace qv::manager
