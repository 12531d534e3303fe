#include "service/QvRankingSvc/service_switches.h"

#include <optional>

#include "common/utf.h"

namespace qv::service {
namespace {

std::optional<SvcCommand> RegistrationSwitch(std::string_view arg) {
  if (arg.empty() || (arg[0] != '-' && arg[0] != '/')) return std::nullopt;
  std::string_view word = arg.substr(1);
  word = word.substr(0, word.find_first_of(" \t"));
  if (EqualsNoCase(word, "RegServer") || EqualsNoCase(word, "Service")) {
    return SvcCommand::Register;
  }
  if (EqualsNoCase(word, "UnregServer")) return SvcCommand::Unregister;
  return std::nullopt;
}

}  // namespace

bool ParseSvcSwitches(std::span<const std::string_view> args, SvcSwitches& out,
                      std::string& error) {
  out = {};
  for (std::string_view arg : args) {
    std::optional<SvcCommand> command;
    if (arg == "--run") {
      command = SvcCommand::Run;
    } else if (arg == "--stop") {
      command = SvcCommand::Stop;
    } else if (arg == "--help" || arg == "-h") {
      command = SvcCommand::Help;
    } else if (arg == "--detach") {
      out.detach = true;
      continue;
    } else {
      command = RegistrationSwitch(arg);
    }
    if (!command) {
      error = "unknown argument '" + std::string(arg) + "'";
      return false;
    }
    if (out.command != SvcCommand::None && out.command != *command) {
      error = "give one command at a time";
      return false;
    }
    out.command = *command;
  }
  if (out.detach && out.command != SvcCommand::Run) {
    error = "--detach goes with --run";
    return false;
  }
  return true;
}

}  // namespace qv::service
