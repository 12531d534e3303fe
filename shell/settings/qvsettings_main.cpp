#include <iostream>
#include <string_view>
#include <vector>

#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "shell/settings/qvsettings_cli.h"

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qv::Installation installation(qv::platform::DefaultRoot());
  qv::Context& ctx = installation.context();
  const qv::settings::SettingsEnvironment env{ctx, qv::settings::OwnerOfRoot(ctx.root)};
  return qv::settings::RunQvsettings(args, env, std::cout, std::cerr);
}
