// QvManager without a notification icon: the build without Qt, and --no-icon.
#include <iostream>

#include "manager/runtime/manager_program.h"
#include "platform/fs/private_files.h"

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();
  qv::manager::BlockStopSignals();
  qv::manager::ManagerArgs args;
  if (const int code = qv::manager::ParseManagerArgs(argc, argv, args, std::cout, std::cerr);
      code >= 0) {
    return code;
  }
  return qv::manager::RunManager(args, {});
}
