// Quitting the mail client: the tracer is asked to close its mail visits, and the add-in waits
// for their recording within StartStopTimeout while the client keeps serving calls.
#include "mail/QvOutlookAddIn/shutdown_handshake.h"

#include <gtest/gtest.h>

#include <atomic>

#include "hooks/QvHooks/test_tracer.h"
#include "mail/QvOutlookAddIn/addin.h"
#include "mail/QvOutlookAddIn/addin_constants.h"
#include "mail/QvOutlookAddIn/addin_test_support.h"
#include "platform/process/named_event.h"
#include "tracer/tracer_harness.h"

namespace qv::mail::addin::testing {
namespace {

using namespace std::chrono_literals;
using platform::Hive;
using platform::RegValue;

TEST(ShutdownHandshake, StartStopTimeoutIsTenToSixtySecondsElseFifteen) {
  const std::pair<std::uint32_t, std::chrono::milliseconds> cases[] = {
      {9, 15s}, {10, 10s}, {60, 60s}, {61, 15s}, {0, 15s}};
  for (const auto& [value, want] : cases) {
    TestContext tc;
    tc.registry().SetValue(Hive::LocalMachine, "Software\\Quillon\\Vesper", "StartStopTimeout",
                           RegValue::Dword(value));
    EXPECT_EQ(ReadStartStopTimeout(tc.registry()), want) << value;
  }
  TestContext tc;
  EXPECT_EQ(ReadStartStopTimeout(tc.registry()), 15s);
  tc.registry().SetValue(Hive::LocalMachine, "Software\\Quillon\\Vesper", "StartStopTimeout",
                         RegValue::Sz("30"));
  EXPECT_EQ(ReadStartStopTimeout(tc.registry()), 15s);
}

class HandshakeTest : public ::testing::Test, public AddInFixture {
 protected:
  TempDir session;
  SystemClock realClock;  // the fake tracer's loop runs in real time
};

TEST_F(HandshakeTest, WithoutATracerNothingIsSentOrAwaited) {
  FakeMailClient client(desktop);
  ShutdownHandshake handshake(station, loop, session.path(), 10s);
  const auto began = std::chrono::steady_clock::now();
  const HandshakeOutcome out = handshake.Run([&](auto& done, auto limit) {
    return client.PumpUntil(done, limit);
  });
  EXPECT_EQ(out.sent, S_FALSE);
  EXPECT_FALSE(out.waited);
  EXPECT_EQ(client.pumps, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
}

TEST_F(HandshakeTest, AnOpenMailVisitIsWaitedForAndGivenUpAfterTheTimeout) {
  hooks::TestTracer tracer(station, realClock);
  std::unique_ptr<platform::NamedEvent> pending;
  ASSERT_EQ(platform::NamedEvent::Create(session.path(), hooks::kMailVisitsEventName, false, pending),
            S_OK);
  FakeMailClient client(desktop);
  ShutdownHandshake handshake(station, loop, session.path(), 300ms);
  const auto began = std::chrono::steady_clock::now();
  const HandshakeOutcome out = handshake.Run([&](auto& done, auto limit) {
    return client.PumpUntil(done, limit);
  });
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_EQ(out.sent, S_OK);
  EXPECT_TRUE(out.waited);
  EXPECT_FALSE(out.recorded);
  EXPECT_GE(took, 300ms);
  EXPECT_LT(took, 10s);
  const auto got = tracer.WaitFor(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].message, hooks::KIVM_END_MAIL_VISITS);
  EXPECT_EQ(got[0].hwnd, tracer.eventWindow());
}

TEST_F(HandshakeTest, TheWaitEndsWhenTheTracerSignalsAndServesTheClientMeanwhile) {
  hooks::TestTracer tracer(station, realClock);
  std::unique_ptr<platform::NamedEvent> pending;
  ASSERT_EQ(platform::NamedEvent::Create(session.path(), hooks::kMailVisitsEventName, false, pending),
            S_OK);
  FakeMailClient client(desktop);
  int served = 0;
  // The tracer's recording calls back into the client; after the third call it is done.
  client.onPump = [&] {
    if (++served == 3) pending->Set();
  };
  ShutdownHandshake handshake(station, loop, session.path(), 60s);
  const auto began = std::chrono::steady_clock::now();
  const HandshakeOutcome out = handshake.Run([&](auto& done, auto limit) {
    return client.PumpUntil(done, limit);
  });
  EXPECT_TRUE(out.recorded);
  EXPECT_GE(served, 3);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 30s);
  // A tracer that goes away during the wait leaves nothing to wait for.
  pending->Reset();
  client.onPump = [&] { pending.reset(); };
  const HandshakeOutcome gone = handshake.Run([&](auto& done, auto limit) {
    return client.PumpUntil(done, limit);
  });
  EXPECT_TRUE(gone.waited);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 30s);
}

// The whole way with the real tracer: a mail visit open in the reading pane when the client
// quits is closed by the tracer and recorded before the add-in lets the client end.
TEST(AddInQuit, TheOpenMailVisitIsRecordedBeforeTheClientEnds) {
  tracer::TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  const DesktopWindow pane = h.Window(0x500, "Reading pane");
  ASSERT_EQ(h.StartVisit(pane, "outlook:0A0B"), S_OK);
  h.Key(pane);
  h.Advance(3s);
  EXPECT_TRUE(h.mail.identifiers().empty());

  FakeMailClient client(h.desktop);
  platform::MessageLoop loop(h.tc.clock());
  OutlookAddIn addin(h.tc.ctx(), client, h.station, loop, VisitBinding(),
                     AddInOptions{h.sessionDir.path(), std::chrono::milliseconds(20000)});
  addin.Connect();
  ASSERT_TRUE(client.events().quit);
  h.tracer->RunWhile([&] { client.events().quit(); });
  EXPECT_EQ(addin.lastQuit().sent, S_OK);
  EXPECT_TRUE(addin.lastQuit().waited);
  EXPECT_TRUE(addin.lastQuit().recorded);
  EXPECT_EQ(h.mail.identifiers(), std::vector<std::string>{"outlook:0A0B"});
}

}  // namespace
}  // namespace qv::mail::addin::testing
