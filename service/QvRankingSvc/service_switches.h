#pragma once
// The command line of QvRankingSvc. The registration switches begin with "-" or "/" and are
// compared without regard to case up to the next blank or tab, so "/regserver" and
// "-REGSERVER" register while "-RegServerX" is no switch. The daemon's own options are
// spelled exactly: --run [--detach], --stop, --help.
#include <span>
#include <string>
#include <string_view>

namespace qv::service {

enum class SvcCommand { None, Run, Stop, Help, Register, Unregister };

struct SvcSwitches {
  SvcCommand command = SvcCommand::None;
  bool detach = false;  // --run: return once serving, leaving the service in the background
};

// False with `error` saying what is wrong for an unknown argument, two commands at once, or
// --detach without --run.
bool ParseSvcSwitches(std::span<const std::string_view> args, SvcSwitches& out,
                      std::string& error);

}  // namespace qv::service
