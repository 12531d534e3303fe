#include "shell/settings_window/qt_test_main.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLibraryInfo>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace qv::qttest {
namespace {
std::string& Reason() {
  static std::string reason;
  return reason;
}
}  // namespace

const std::string& QtUnavailable() { return Reason(); }

}  // namespace qv::qttest

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Windows are drawn in memory: no display is needed, and none is touched.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::filesystem::path plugin =
      std::filesystem::path(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString()) /
      "platforms" / "libqoffscreen.so";
  std::unique_ptr<QApplication> app;
  if (!std::filesystem::exists(plugin)) {
    qv::qttest::Reason() = "Qt's offscreen platform plugin is not installed (" + plugin.string() +
                           ")";
  } else {
    app = std::make_unique<QApplication>(argc, argv);
  }
  return RUN_ALL_TESTS();
}
