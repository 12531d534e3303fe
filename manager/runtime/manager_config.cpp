#include "manager/runtime/manager_config.h"

namespace qv::manager {

namespace {

std::optional<std::uint32_t> Dword(const platform::Registry& registry, platform::Hive hive,
                                   std::string_view name) {
  platform::RegValue v;
  if (registry.GetValue(hive, kVesperKey, name, v) != 0 || v.type != platform::RegType::Dword) {
    return std::nullopt;
  }
  return v.dword;
}

std::optional<std::uint32_t> Ranged(const platform::Registry& registry, platform::Hive hive,
                                    std::string_view name, std::uint32_t low, std::uint32_t high) {
  auto v = Dword(registry, hive, name);
  if (v && (*v < low || *v > high)) v.reset();
  return v;
}

}  // namespace

ManagerConfig ReadManagerConfig(const platform::Registry& registry) {
  using platform::Hive;
  ManagerConfig c;
  const Hive m = Hive::LocalMachine, u = Hive::CurrentUser;
  c.startStopTimeoutSeconds = Ranged(registry, m, "StartStopTimeout", 10, 60).value_or(15);
  c.endSessionTimeoutSeconds = Ranged(registry, m, "EndSessionTimeout", 10, 120).value_or(30);
  if (auto v = Dword(registry, m, "SelfRepair")) c.selfRepair = *v != 0;
  c.cfgVerifyPeriodMinutes = Ranged(registry, m, "CfgVerifyPeriod", 0, 1440).value_or(1440);
  c.rescanPeriodMinutes = Ranged(registry, m, "RescanPeriod", 0, 70000).value_or(10080);
  c.statusPollSeconds = Ranged(registry, m, "StatusPollInterval", 5, 300).value_or(5);
  c.minWorkingSetKb = Ranged(registry, m, "MinWorkingSetSize", 1, 102400);
  c.maxWorkingSetKb = Ranged(registry, m, "MaxWorkingSetSize", 1, 102400);
  c.disabled = Ranged(registry, u, kDisabledValue, 0, 1).value_or(0) != 0;
  c.showIcon = Ranged(registry, u, kShowTaskBarIconValue, 0, 1).value_or(1) != 0;
  return c;
}

std::optional<WorkingSetLimit> TracerWorkingSet(const ManagerConfig& config) {
  if (!config.minWorkingSetKb || !config.maxWorkingSetKb) return std::nullopt;
  return WorkingSetLimit{std::uint64_t{*config.minWorkingSetKb} * 1024,
                         std::uint64_t{*config.maxWorkingSetKb} * 1024};
}

}  // namespace qv::manager
