// qvrankpage FILE: the ranking page of one file in a window, as file managers open it from
// their context menu.
#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/tool_args.h"
#include "context/language_module.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "provider/ranking/file_ranking.h"
#include "shell/rank_page_window/rank_page_dialog.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailed = 2;

constexpr std::string_view kUsage =
    "Usage: qvrankpage FILE\n"
    "Shows the ranking record that Quillon Vesper keeps on FILE (its first and last visit,\n"
    "visits, working and active time, search key) in a window, where it can be deleted.\n"
    "The page is for one file; `qvrank show FILE...` prints the records of several.\n"
    "Needs a display. State lives under QV_ROOT.\n"
    "Exit status: 0 closed, 1 usage error or no display, 2 the record cannot be read.\n";

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

int Usage(std::string_view problem) {
  std::cerr << "qvrankpage: " << problem << "\nRun `qvrankpage --help` for more.\n";
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return kExitOk;
  }
  std::vector<std::string> files;
  for (const std::string& a : args) {
    const auto absolute = qv::AbsolutePathArg(a);
    if (!absolute) return Usage("a FILE must not be empty");
    files.push_back(absolute->string());
  }
  std::string file;
  if (qv::Failed(qv::rankpage::SelectedFile(files, file))) {
    return Usage(files.empty() ? "name the FILE whose ranking record to show"
                               : "the ranking page shows one file; give exactly one FILE "
                                 "(qvrank show FILE... prints several)");
  }
  if (!DisplayAvailable()) {
    std::cerr << "qvrankpage: no display to show the page on (DISPLAY and WAYLAND_DISPLAY are "
                 "unset); use `qvrank show FILE` or `qvrank delete FILE` instead.\n";
    return kExitUsage;
  }
  // First, so that dates are written in the user's locale (Qt takes it from the environment).
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Quillon Vesper");
  qv::Installation installation(qv::platform::DefaultRoot());
  qv::Context& ctx = installation.context();
  qv::RegisterRankingClasses(ctx);
  qv::LanguageModule module;
  const qv::LanguageModule* texts =
      qv::Succeeded(qv::LanguageModule::Load(ctx, qv::CurrentLangId(), module)) ? &module : nullptr;
  qv::FileRanking ranking(ctx);
  qv::rankpage::RankPage page(ranking, texts, file);
  if (const qv::HRESULT hr = page.Load(); qv::Failed(hr)) {
    const std::string message = qv::SystemMessage(hr);
    std::cerr << "qvrankpage: cannot read the ranking record of " << qv::EscapeControls(file)
              << ": " << (message.empty() ? qv::FormatHresult(hr) : message) << "\n";
    return kExitFailed;
  }
  qv::rankpage::RankPageDialog dialog(page);
  dialog.exec();
  return kExitOk;
}
