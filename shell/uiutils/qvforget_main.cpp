#include <iostream>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "shell/uiutils/forget_cli.h"

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qv::Installation installation(qv::platform::DefaultRoot());
  return qv::uiutils::RunQvforget(args, installation.context(), std::cout, std::cerr);
}
