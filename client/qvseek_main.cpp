#include <dlfcn.h>

#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>
#include <vector>

#include "client/query_date.h"
#include "client/qvseek_cli.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#ifdef QV_SEEK_WINDOW
#include "client/window/seek_window_module.h"
#endif

namespace {

#ifdef QV_SEEK_WINDOW
constexpr const char* kWhatToDo =
    "Reinstall Quillon Vesper, or search without a window: QvSeek --print WORDS\n";

// Loads the window module from the program's own folder and hands it the command line.
int RunWindowModule(int argc, char** argv) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path module = (ec ? std::filesystem::path(".") : self.parent_path()) /
                                       kSeekWindowModule;
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    std::cerr << "QvSeek: the window cannot be opened: " << (why ? why : module.string())
              << "\n" << kWhatToDo;
    return qv::client::kSeekFailed;
  }
  // The module stays loaded until the program ends: Qt's own exit handlers live in it.
  auto* entry = reinterpret_cast<SeekWindowMain*>(dlsym(handle, kSeekWindowEntry));
  if (!entry) {
    std::cerr << "QvSeek: " << module.string() << " is not QvSeek's window module\n"
              << kWhatToDo;
    return qv::client::kSeekFailed;
  }
  return entry(argc, argv);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
#ifdef QV_SEEK_WINDOW
  // Everything but --print, --serve and --help opens the window; none of those needs a display.
  if (qv::client::WantsWindow(args)) return RunWindowModule(argc, argv);
#endif
  qv::Installation installation(qv::platform::DefaultRoot());
  const qv::client::SystemDateLocale dates;
  return qv::client::RunQvSeek(args, installation.context(), dates, std::cout, std::cerr);
}
