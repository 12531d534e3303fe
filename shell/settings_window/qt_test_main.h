#pragma once
// The main of the Qt window tests: one QApplication on the offscreen platform for all cases.
// QtUnavailable() gives the reason when that platform cannot start (cases then skip).
#include <string>

namespace qv::qttest {
const std::string& QtUnavailable();
}  // namespace qv::qttest

// Skips the case when no QApplication could be made.
#define QV_REQUIRE_QT()                                                        \
  do {                                                                         \
    if (!::qv::qttest::QtUnavailable().empty()) {                              \
      GTEST_SKIP() << ::qv::qttest::QtUnavailable();                           \
    }                                                                          \
  } while (0)
