#include "client/window/seek_window_app.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "client/command_line.h"
#include "client/qvseek_cli.h"
#include "client/window/seek_window.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvHooks/visit_client.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/messaging/window_station.h"

namespace qv::client {
namespace {

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

// The runtime manager runs beside the client; without it searches still work.
void StartManagerIfMissing(platform::WindowStation* station) {
  if (!station || station->FindWindow(hooks::kHostWindowClass)) return;
  const QString manager = QCoreApplication::applicationDirPath() + QStringLiteral("/QvManager");
  if (QFileInfo(manager).isExecutable()) QProcess::startDetached(manager, {});
}

}  // namespace

int RunSeekWindow(int argc, char** argv, std::span<const std::string_view> args, Context& ctx,
                  const DateLocale& dates) {
  const bool screenshot = !args.empty() && args[0] == "--screenshot";
  std::string file, query;
  if (screenshot) {
    if (args.size() < 2 || args[1].empty()) {
      std::cerr << "QvSeek: --screenshot needs the PNG file to write, e.g. "
                   "'QvSeek --screenshot out.png budget'.\n";
      return kSeekUsage;
    }
    file = std::string(args[1]);
    for (std::size_t i = 2; i < args.size(); ++i) {
      query += (i > 2 ? " " : "") + std::string(args[i]);
    }
  } else if (!args.empty() && !(args.size() >= 2 && (args[0] == "/q" || args[0] == "/Q"))) {
    std::cerr << "QvSeek: unknown command '" << args[0] << "'\nRun 'QvSeek --help' for the options.\n";
    return kSeekUsage;
  }
  if (!DisplayAvailable()) {
    std::cerr << "QvSeek: no display to open the window on; set DISPLAY, or run "
                 "'QT_QPA_PLATFORM=offscreen QvSeek --screenshot FILE.png', or use "
                 "'QvSeek --print QUERY' in a terminal.\n";
    return kSeekUsage;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QvSeek"));
  QApplication::setDesktopFileName(QStringLiteral("qvseek"));
  SeekSession session;
  if (Failed(OpenSeekSession(ctx, dates, std::cerr, session))) return kSeekFailed;
  platform::indexing::QueryExecutor exec(*session.admin);
  platform::indexing::RegisterBuiltinFilterClasses(ctx.classes);  // previews of documents

  std::unique_ptr<platform::WindowStation> station;
  // A picture needs no manager or live journal; the window proper talks to both.
  if (!screenshot && Failed(platform::OpenUserWindowStation(ctx.clock, &ctx.eventLog, station))) {
    station.reset();
  }
  // Previews count as visits of the items, through the tracer when one runs.
  std::optional<hooks::VisitClient> visitClient;
  std::optional<HooksVisitReporter> visits;
  if (station) {
    visitClient.emplace(station.get());
    visits.emplace(*visitClient);
  }
  SeekServices services;
  services.ctx = &ctx;
  services.dates = &dates;
  services.texts = session.texts();
  services.env = session.env;
  services.exec = &exec;
  services.activation = session.activation.get();
  services.partialMatch = ReadPartialMatch(ctx.registry);
  services.station = station.get();
  services.visits = visits ? &*visits : nullptr;

  SeekWindow window(services);
  if (screenshot) {
    window.show();
    const HRESULT hr = window.Search(QString::fromStdString(query));
    // The rows are in the model when Search returns; let the list lay out and paint them.
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    if (!window.grab().save(QString::fromStdString(file), "PNG")) {
      std::cerr << "QvSeek: cannot write " << file
                << "; check that its folder exists and is writable.\n";
      return kSeekFailed;
    }
    if (Failed(hr)) {
      std::cerr << "QvSeek: the search failed: " << FormatHresult(hr) << " "
                << SystemMessage(hr) << "\n";
      return kSeekFailed;
    }
    std::cout << "QvSeek: " << window.resultModel()->rowCount() << " rows, picture in " << file
              << "\n";
    return kSeekOk;
  }

  window.RestoreLayout();
  window.show();
  const StartupCommand command = ParseStartupCommand(args);
  QTimer::singleShot(0, &window, [&] {
    StartManagerIfMissing(station.get());
    window.Start(command);
  });
  return app.exec();
}

}  // namespace qv::client
