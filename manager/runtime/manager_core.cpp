#include "manager/runtime/manager_core.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace qv::manager {

namespace {

bool SameFolder(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

IconChoice ChooseIcon(ManagerState state, Problem problem, std::uint32_t busyCount) {
  const auto p = static_cast<std::uint32_t>(problem);
  switch (state) {
    case ManagerState::Disabled:
      return {1002, 1002, BalloonType::Error};
    case ManagerState::Suspended:
      return {1002, p != 0 ? p : 1002, BalloonType::Error};
    case ManagerState::Active:
      break;
  }
  if (p != 0) return {1003, p, BalloonType::Warning};
  if (busyCount > 0) return {1004, 1004, BalloonType::Information};
  return {1001, 1001, BalloonType::Information};
}

bool RescanDue(const ManagerConfig& config, const platform::RegValue* lastRescan, FileTime now) {
  if (config.rescanPeriodMinutes == 0) return false;
  if (lastRescan == nullptr || lastRescan->type != platform::RegType::Binary ||
      lastRescan->binary.size() != 8) {
    return true;
  }
  std::uint64_t last = 0;
  for (int i = 7; i >= 0; --i) last = (last << 8) | lastRescan->binary[static_cast<std::size_t>(i)];
  const std::uint64_t period = std::uint64_t{config.rescanPeriodMinutes} * kTicksPerMinute;
  // A stored time so far ahead that the sum overflows is never passed.
  if (last > UINT64_MAX - period) return false;
  return static_cast<std::uint64_t>(now) > last + period;
}

ManagerCore::ManagerCore(ManagerConfig config, ManagerPorts& ports, platform::Registry& registry,
                         const Clock& clock)
    : config_(config),
      ports_(ports),
      registry_(registry),
      clock_(clock),
      state_(config.disabled ? ManagerState::Disabled : ManagerState::Active) {}

void ManagerCore::RestartTracer(bool start) {
  ports_.StopTracer(state_, ending_ && state_ == ManagerState::Active);
  // A tracer that died while recording never sends its end: the count starts afresh.
  busyCount_ = 0;
  if (start) {
    (void)ports_.StartTracer();
    busyCount_ = 0;
  }
}

void ManagerCore::Start() {
  ports_.SetPollTimer(state_ != ManagerState::Disabled);
  RestartTracer(state_ == ManagerState::Active);
  Poll();
}

void ManagerCore::Stop() {
  ports_.SetPollTimer(false);
  ports_.StopTracer(state_, ending_ && state_ == ManagerState::Active);
  busyCount_ = 0;
}

void ManagerCore::ChangeState(ManagerState s) {
  if (!(state_ == ManagerState::Active || s < state_) || s == state_) return;
  state_ = s;
  if (s != ManagerState::Suspended) {
    (void)registry_.SetValue(platform::Hive::CurrentUser, kVesperKey, kDisabledValue,
                             platform::RegValue::Dword(s != ManagerState::Active ? 1 : 0));
  }
  RestartTracer(s == ManagerState::Active);
  ports_.SetPollTimer(s != ManagerState::Disabled);
}

void ManagerCore::Enable() {
  ChangeState(ManagerState::Active);
  Poll();
}

void ManagerCore::Disable() { ChangeState(ManagerState::Disabled); }

void ManagerCore::ResumeIfSuspended() {
  if (state_ == ManagerState::Suspended) ChangeState(ManagerState::Active);
}

Problem ManagerCore::Poll() {
  if (state_ == ManagerState::Disabled || ending_) return problem_;
  switch (ports_.QueryRankingService()) {
    case RankingServiceStatus::NoServiceManager:
      problem_ = Problem::NoServiceManager;
      ResumeIfSuspended();
      return problem_;
    case RankingServiceStatus::Unreadable:
      problem_ = Problem::ServiceUnreadable;
      ResumeIfSuspended();
      return problem_;
    case RankingServiceStatus::StartDisabled:
      problem_ = Problem::ServiceDisabled;
      ChangeState(ManagerState::Suspended);
      return problem_;
    case RankingServiceStatus::Running:
    case RankingServiceStatus::Stopped:
      break;
  }
  if (!ports_.TracerWindowExists()) {
    ChangeState(ManagerState::Suspended);  // stops whatever is left of the tracer
    if (problem_ != Problem::TracerLost) ChangeState(ManagerState::Active);
    if (!ports_.TracerWindowExists()) {
      // The poll ends here: going on would clear the problem and restart the tracer at
      // every poll.
      problem_ = Problem::TracerLost;
      ChangeState(ManagerState::Suspended);
      return problem_;
    }
  }
  switch (ports_.QueryIndexer()) {
    case IndexerStatus::Unreadable:
      problem_ = Problem::IndexerUnreadable;
      ResumeIfSuspended();
      break;
    case IndexerStatus::Running:
      indexerStoppedPolls_ = 0;
      problem_ = Problem::None;
      ResumeIfSuspended();
      break;
    case IndexerStatus::Stopped:
      if (++indexerStoppedPolls_ >= 2) {
        problem_ = Problem::IndexerStopped;
        ResumeIfSuspended();
        indexerStoppedPolls_ = 0;
      }
      break;
  }
  return problem_;
}

void ManagerCore::Tick() {
  Poll();
  if (!config_.selfRepair) return;
  if (config_.cfgVerifyPeriodMinutes != 0) {
    // The poll interval is in seconds, the period in minutes.
    verifySeconds_ += config_.statusPollSeconds;
    if (verifySeconds_ > std::uint64_t{config_.cfgVerifyPeriodMinutes} * 60) {
      verifySeconds_ = 0;
      lastVerifiedFolder_.clear();
      lastVerify_ = S_OK;
    }
  }
  if (state_ == ManagerState::Active && problem_ == Problem::None) {
    const HRESULT hr = RequestVerification();
    if (hr != S_FALSE) lastVerify_ = hr;
  }
}

void ManagerCore::Busy(std::uint64_t bits) {
  if (bits & 1) ++busyCount_;
  if ((bits & 2) && busyCount_ > 0) --busyCount_;
}

HRESULT ManagerCore::RequestVerification() {
  const std::string folder = ports_.LocalAppDataFolder();
  if (folder.empty()) return E_FAIL;
  if (!lastVerifiedFolder_.empty() && SameFolder(folder, lastVerifiedFolder_)) return S_FALSE;
  platform::RegValue last;
  const bool have =
      registry_.GetValue(platform::Hive::CurrentUser, kVesperKey, kLastRescanValue, last) == 0;
  const FileTime now = clock_.Now();
  const bool rescan = RescanDue(config_, have ? &last : nullptr, now);
  const HRESULT hr = ports_.BeginCfgVerify(folder, rescan);
  // Whatever the outcome, this folder is not asked again until it is forgotten.
  lastVerifiedFolder_ = folder;
  if (Succeeded(hr) && rescan) {
    std::vector<std::uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i) {
      bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(now) >> (8 * i));
    }
    (void)registry_.SetValue(platform::Hive::CurrentUser, kVesperKey, kLastRescanValue,
                             platform::RegValue::Binary(std::move(bytes)));
  }
  return hr;
}

}  // namespace qv::manager
