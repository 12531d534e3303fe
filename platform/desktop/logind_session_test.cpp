// logind is optional: where it runs the source connects and reports the session's state;
// where it does not (containers, CI), Connect says so instead of failing later.
#include "platform/desktop/logind_session.h"

#include <gtest/gtest.h>

namespace qv::platform {
namespace {

TEST(LogindSessionTest, ConnectsWhereLogindRunsOrSaysItCannot) {
  HRESULT hr = S_OK;
  auto session = LogindSession::Connect(hr);
  if (!session) {
    EXPECT_EQ(hr, HresultFromWin32(win32::ERROR_NOT_SUPPORTED));
    GTEST_SKIP() << "no logind session for this process (no libsystemd, system bus or logind)";
  }
  EXPECT_EQ(hr, S_OK);
  EXPECT_FALSE(session->ScreenSaverRunning());
  const auto id = session->Subscribe([](SessionEvent) {});
  EXPECT_NE(id, 0u);
  session->Unsubscribe(id);
}

}  // namespace
}  // namespace qv::platform
