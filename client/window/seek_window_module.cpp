#include "client/window/seek_window_module.h"

#include <string_view>
#include <vector>

#include "client/query_date.h"
#include "client/window/seek_window_app.h"
#include "platform/folders/folders.h"

extern "C" __attribute__((visibility("default"))) int QvSeekWindowMain(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  qv::Installation installation(qv::platform::DefaultRoot());
  const qv::client::SystemDateLocale dates;
  return qv::client::RunSeekWindow(argc, argv, args, installation.context(), dates);
}
