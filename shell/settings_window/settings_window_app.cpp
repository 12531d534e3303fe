#include "shell/settings_window/settings_window_app.h"

#include <QApplication>
#include <cstdlib>

#include "context/language_module.h"
#include "platform/folders/folders.h"
#include "shell/settings_window/settings_window.h"

namespace qv::settingswindow {

namespace {

bool Set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

int ShowModal(const settings::SettingsEnvironment& env, QPointer<SettingsWindow>* open) {
  LanguageModule module;
  const LanguageModule* texts =
      Succeeded(LanguageModule::Load(env.ctx, CurrentLangId(), module)) ? &module : nullptr;
  SettingsWindow window(env, texts, DefaultHooks(env.ctx));
  if (open) *open = &window;
  window.exec();
  return 0;
}

}  // namespace

bool DisplayAvailable() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

int RunSettingsWindow(int argc, char** argv, const settings::SettingsEnvironment& env) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Quillon Vesper");
  return ShowModal(env, nullptr);
}

AppletHost::AppletHost() : applet_([this](void* /*owner*/) { Open(); }) {}
AppletHost::~AppletHost() = default;

// The panel's window handle cannot own a Qt window of this process; the window opens on
// its own.
void AppletHost::Open() {
  if (open_) {
    open_->showNormal();
    open_->raise();
    open_->activateWindow();
    return;
  }
  if (!installation_) installation_ = std::make_unique<Installation>(platform::DefaultRoot());
  Context& ctx = installation_->context();
  const settings::SettingsEnvironment env{ctx, settings::OwnerOfRoot(ctx.root)};
  if (QApplication::instance()) {
    ShowModal(env, &open_);
    return;
  }
  // A panel that is not a Qt program: the window brings its own application object.
  int argc = 1;
  char name[] = "QvSearch";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Quillon Vesper");
  ShowModal(env, &open_);
}

}  // namespace qv::settingswindow
