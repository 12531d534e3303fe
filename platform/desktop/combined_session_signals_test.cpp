// Session signals from two sources at once: every listener hears both, the state is the
// union of theirs, and a listener that leaves hears neither.
#include "platform/desktop/combined_session_signals.h"

#include <gtest/gtest.h>

#include "platform/desktop/sim_session_signals.h"

namespace qv::platform {
namespace {

TEST(CombinedSessionSignalsTest, ListenersHearEverySourceAndTheStateIsTheirUnion) {
  auto logind = std::make_unique<SimSessionSignals>();
  auto saver = std::make_unique<SimSessionSignals>();
  SimSessionSignals* l = logind.get();
  SimSessionSignals* s = saver.get();
  CombinedSessionSignals combined;
  combined.Add(std::move(logind));
  combined.Add(nullptr);  // a missing source is no source
  combined.Add(std::move(saver));
  EXPECT_EQ(combined.SourceCount(), 2u);

  std::vector<SessionEvent> heard;
  const auto id = combined.Subscribe([&](SessionEvent e) { heard.push_back(e); });
  l->Raise(SessionEvent::Lock);
  s->Raise(SessionEvent::ScreenSaverStart);
  EXPECT_TRUE(combined.Locked());
  EXPECT_TRUE(combined.ScreenSaverRunning());
  l->Raise(SessionEvent::Unlock);
  EXPECT_FALSE(combined.Locked());
  EXPECT_EQ(heard, (std::vector<SessionEvent>{SessionEvent::Lock, SessionEvent::ScreenSaverStart,
                                              SessionEvent::Unlock}));
  combined.Unsubscribe(id);
  combined.Unsubscribe(id);  // twice is harmless
  s->Raise(SessionEvent::ScreenSaverStop);
  EXPECT_EQ(heard.size(), 3u);
  EXPECT_FALSE(combined.ScreenSaverRunning());
}

}  // namespace
}  // namespace qv::platform
