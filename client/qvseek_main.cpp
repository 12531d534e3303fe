#include <iostream>
#include <string_view>
#include <vector>

#include "client/query_date.h"
#include "client/qvseek_cli.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#ifdef QV_SEEK_WINDOW
#include "client/window/seek_window_app.h"
#endif

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qv::Installation installation(qv::platform::DefaultRoot());
  const qv::client::SystemDateLocale dates;
#ifdef QV_SEEK_WINDOW
  // Everything but --print and --help opens the window; --print never needs a display.
  if (qv::client::WantsWindow(args)) {
    return qv::client::RunSeekWindow(argc, argv, args, installation.context(), dates);
  }
#endif
  return qv::client::RunQvSeek(args, installation.context(), dates, std::cout, std::cerr);
}
