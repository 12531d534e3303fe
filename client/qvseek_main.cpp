#include <iostream>
#include <string_view>
#include <vector>

#include "client/query_date.h"
#include "client/qvseek_cli.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qv::Installation installation(qv::platform::DefaultRoot());
  const qv::client::SystemDateLocale dates;
  return qv::client::RunQvSeek(args, installation.context(), dates, std::cout, std::cerr);
}
