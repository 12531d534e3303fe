#include "manager/runtime/system_ports.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "hooks/QvHooks/tracer_messages.h"
#include "platform/folders/folders.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/messaging/unique_fd.h"
#include "platform/process/spawn.h"
#include "service/QvRankingSvc/service_constants.h"
#include "service/QvRankingSvc/service_registration.h"
#include "tracer/tracer_constants.h"

namespace qv::manager {

namespace {

using namespace std::chrono_literals;

bool SocketAnswers(const std::filesystem::path& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string p = path.string();
  if (p.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  for (int type : {SOCK_SEQPACKET, SOCK_STREAM}) {
    platform::UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) continue;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno != EPROTOTYPE) return false;
  }
  return false;
}

}  // namespace

RankingServiceStatus QueryRankingServiceStatus(const platform::Registry& registry,
                                               const std::filesystem::path& runtimeFolder) {
  if (runtimeFolder.empty()) return RankingServiceStatus::NoServiceManager;
  if (!registry.KeyExists(platform::Hive::LocalMachine, service::kServiceKey)) {
    return RankingServiceStatus::Unreadable;
  }
  if (SocketAnswers(runtimeFolder / service::kSocketFileName)) return RankingServiceStatus::Running;
  platform::RegValue start;
  if (registry.GetValue(platform::Hive::LocalMachine, service::kServiceKey, "Start", start) == 0 &&
      start.type == platform::RegType::Dword && start.dword == kServiceDisabledStart) {
    return RankingServiceStatus::StartDisabled;
  }
  return RankingServiceStatus::Stopped;
}

IndexerStatus QueryIndexerStatus(const std::filesystem::path& root) {
  // The running indexer holds its lock file; probing takes a shared lock for an instant.
  platform::UniqueFd fd(::open(platform::indexing::ServiceLockPath(root).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? IndexerStatus::Stopped : IndexerStatus::Unreadable;
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return IndexerStatus::Stopped;
  return errno == EWOULDBLOCK ? IndexerStatus::Running : IndexerStatus::Unreadable;
}

SystemPorts::~SystemPorts() {
  if (pid_ > 0) StopTracer(ManagerState::Active, true);
}

RankingServiceStatus SystemPorts::QueryRankingService() {
  return QueryRankingServiceStatus(*s_.registry, s_.runtimeFolder);
}

IndexerStatus SystemPorts::QueryIndexer() { return QueryIndexerStatus(s_.root); }

bool SystemPorts::TracerWindowExists() {
  if (pid_ > 0 && platform::TryReapChild(pid_)) pid_ = 0;  // it ended on its own
  return s_.station->FindWindow(hooks::kTracerWindowClass) != 0;
}

HRESULT SystemPorts::StartTracer() {
  if (pid_ > 0) return S_OK;
  std::vector<std::string> argv{s_.tracer.program.string()};
  argv.insert(argv.end(), s_.tracer.extraArgs.begin(), s_.tracer.extraArgs.end());
  argv.emplace_back(tracer::kStartMarker);
  platform::SpawnOptions options;
  options.niceIncrement = kTracerNiceIncrement;
  options.envp = s_.tracer.envp;
  pid_t pid = 0;
  if (HRESULT hr = platform::SpawnProcess(argv, options, pid); Failed(hr)) return hr;
  pid_ = pid;
  // Ready once its window can be found; a tracer that ends first or takes too long fails.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(s_.config.startStopTimeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (platform::TryReapChild(pid_)) {
      pid_ = 0;
      return E_FAIL;
    }
    if (s_.station->FindWindow(hooks::kTracerWindowClass) != 0) return S_OK;
    std::this_thread::sleep_for(20ms);
  }
  Terminate();
  return HresultFromWin32(258);  // WAIT_TIMEOUT
}

void SystemPorts::Terminate() {
  ::kill(pid_, SIGKILL);
  (void)platform::WaitChild(pid_, 10s);
  pid_ = 0;
}

void SystemPorts::StopTracer(ManagerState state, bool longWait) {
  if (pid_ <= 0) return;
  if (const auto hwnd = s_.station->FindWindow(hooks::kTracerWindowClass); hwnd != 0) {
    (void)s_.station->PostMessage(hwnd, hooks::KIVM_SHUTDOWN, static_cast<std::uint64_t>(state), 0);
  } else {
    // No window to tell: the tracer still records what is open on SIGTERM.
    ::kill(pid_, SIGTERM);
  }
  const auto limit = std::chrono::seconds(longWait ? s_.config.endSessionTimeoutSeconds
                                                   : s_.config.startStopTimeoutSeconds);
  if (platform::WaitChild(pid_, limit)) {
    pid_ = 0;
    return;
  }
  Terminate();
}

void SystemPorts::SetPollTimer(bool running) {
  if (s_.setPollTimer) s_.setPollTimer(running);
}

std::string SystemPorts::LocalAppDataFolder() {
  return platform::KnownFolderPath(s_.root, platform::KnownFolder::LocalAppData).string();
}

HRESULT SystemPorts::BeginCfgVerify(const std::string& folder, bool rescan) {
  if (!s_.beginCfgVerify) return E_NOINTERFACE;
  return s_.beginCfgVerify(folder, rescan);
}

}  // namespace qv::manager
