// The tracer's life: marker, single instance, configuration, inactivity, power and lock
// states, shutdown with and without recording; driven in manual mode on simulated ports.
#include "tracer/tracer_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <thread>

#include "tracer/detection/desktop_item_detector.h"
#include "tracer/tracer_harness.h"

namespace qv::tracer {
namespace {

using namespace std::chrono_literals;
using platform::Hive;
using platform::RegValue;

bool Logged(const TracerHarness& h, std::uint32_t id) {
  const auto ids = h.tc.EventIds();
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

TEST(TracerRuntimeTest, RunsOnlyWithItsMarker) {
  TracerHarness h;
  EXPECT_TRUE(Failed(h.Start({"--other", "QV-5E0A9F27"})));
  EXPECT_EQ(h.tracer->ExitCode(), kExitFailed);
  EXPECT_TRUE(h.tracer->Ended());
  EXPECT_EQ(h.station.FindWindow(hooks::kTracerWindowClass), 0u);

  TracerHarness ok;
  ASSERT_EQ(ok.Start({"-x", "prefix" + std::string(kStartMarker) + "suffix"}), S_OK);
  EXPECT_NE(ok.station.FindWindow(hooks::kTracerWindowClass), 0u);
  EXPECT_NE(ok.station.FindMessageWindow(hooks::kTracerEventWindowClass), 0u);
}

TEST(TracerRuntimeTest, SecondInstanceInTheSessionExitsAndLeavesTheFirstAlone) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  const auto first = h.tracer->mainWindow();
  TracerRuntime second(TracerPorts{h.tc.ctx(), h.desktop, h.input, h.session, h.station},
                       TracerOptions{{std::string(kStartMarker)}, h.sessionDir.path(), true},
                       TracerWriters{h.file, h.web, h.mail, nullptr},
                       std::make_unique<TitlePathDetector>(h.desktop));
  EXPECT_TRUE(Failed(second.Start()));
  EXPECT_EQ(second.ExitCode(), kExitFailed);
  EXPECT_EQ(h.station.FindWindow(hooks::kTracerWindowClass), first);
  EXPECT_FALSE(h.tracer->Ended());
  // Once the first has ended, the gate is free again.
  h.Shutdown(false);
  EXPECT_TRUE(h.tracer->Ended());
  TracerRuntime third(TracerPorts{h.tc.ctx(), h.desktop, h.input, h.session, h.station},
                      TracerOptions{{std::string(kStartMarker)}, h.sessionDir.path(), true},
                      TracerWriters{h.file, h.web, h.mail, nullptr},
                      std::make_unique<TitlePathDetector>(h.desktop));
  EXPECT_EQ(third.Start(), S_OK);
}

TEST(TracerRuntimeTest, InactivityTimeoutBounds) {
  const std::pair<std::uint32_t, std::chrono::milliseconds> cases[] = {
      {9, 20s}, {10, 10s}, {300, 300s}, {301, 20s}, {0, 20s}};
  for (const auto& [value, want] : cases) {
    TestContext tc;
    tc.registry().SetValue(Hive::CurrentUser, "Software\\Quillon\\Vesper", "InactivityTimeout",
                           RegValue::Dword(value));
    EXPECT_EQ(ReadInactivityTimeout(tc.ctx()), want) << value;
  }
  TestContext tc;
  tc.registry().SetValue(Hive::CurrentUser, "Software\\Quillon\\Vesper", "InactivityTimeout",
                         RegValue::Sz("30"));
  EXPECT_EQ(ReadInactivityTimeout(tc.ctx()), 20s);
}

TEST(TracerRuntimeTest, BrowserVersionCheck) {
  EXPECT_FALSE(BrowserVersionSupported("5.0"));
  EXPECT_FALSE(BrowserVersionSupported("5"));
  EXPECT_FALSE(BrowserVersionSupported("4.72.3110"));
  EXPECT_FALSE(BrowserVersionSupported(""));
  EXPECT_FALSE(BrowserVersionSupported("x.5"));
  EXPECT_TRUE(BrowserVersionSupported("5.5"));
  EXPECT_TRUE(BrowserVersionSupported("6.0.2900.2180"));
  EXPECT_TRUE(BrowserVersionSupported("10.0"));  // two digits: not read by position
  EXPECT_TRUE(BrowserVersionSupported("11"));

  TracerHarness h;
  h.tc.registry().SetValue(Hive::LocalMachine, "Software\\Microsoft\\Internet Explorer",
                           "Version", RegValue::Sz("5.0"));
  EXPECT_TRUE(Failed(h.Start()));
  EXPECT_TRUE(Logged(h, kEvPlatformCheck));
  TracerHarness dword;
  dword.tc.registry().SetValue(Hive::LocalMachine, "Software\\Microsoft\\Internet Explorer",
                               "Version", RegValue::Dword(6));
  EXPECT_TRUE(Failed(dword.Start()));
}

TEST(TracerRuntimeTest, InactivityTimesOutOnceAndInputRearms) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1);
  EXPECT_TRUE(h.tracer->flags().userActive);
  EXPECT_TRUE(h.tracer->inactivityTimerArmed());
  h.Advance(19900ms);
  EXPECT_TRUE(h.tracer->flags().userActive);
  h.Advance(200ms);
  EXPECT_FALSE(h.tracer->flags().userActive);
  EXPECT_FALSE(h.tracer->inactivityTimerArmed());  // no timer stays armed while inactive
  h.Advance(60s);
  EXPECT_FALSE(h.tracer->flags().userActive);
  h.Key(1);
  EXPECT_TRUE(h.tracer->flags().userActive);
  EXPECT_TRUE(h.tracer->inactivityTimerArmed());
  h.Advance(19900ms);
  EXPECT_TRUE(h.tracer->flags().userActive);
  h.Advance(200ms);
  EXPECT_FALSE(h.tracer->flags().userActive);
}

TEST(TracerRuntimeTest, IdleTimeIsRightAcrossTheTickWrap) {
  TracerHarness h;
  h.tc.clock().SetTick(0xFFFFFFFFu - 5000);  // 5 s before the wrap
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1);
  h.Key(1);
  h.Advance(15s);  // the tick wrapped; idle is 15 s, not 4 billion ms
  EXPECT_LT(h.tc.clock().Tick(), 20000u);
  EXPECT_TRUE(h.tracer->flags().userActive);
  h.Advance(6s);
  EXPECT_FALSE(h.tracer->flags().userActive);
}

TEST(TracerRuntimeTest, UnreadableLastInputStillArmsTheTimer) {
  TracerHarness h;
  h.input.SetLastInputReadable(false);
  ASSERT_EQ(h.Start(), S_OK);
  EXPECT_TRUE(h.tracer->inactivityTimerArmed());
  h.Advance(21s);
  EXPECT_TRUE(Logged(h, kEvNoLastInput));
}

TEST(TracerRuntimeTest, ShutdownRecordsOrDropsOpenVisits) {
  for (const bool discard : {false, true}) {
    TracerHarness h;
    ASSERT_EQ(h.Start(), S_OK);
    for (platform::DesktopWindow w : {1, 2, 3}) {
      // Side by side: each one visible.
      const auto left = static_cast<std::int32_t>(w - 1) * 600;
      h.Window(w, "Editor", {left, 0, left + 600, 1080}, 100 + static_cast<std::uint32_t>(w));
      ASSERT_EQ(h.StartVisit(w, "http://example.com/" + std::to_string(w)), S_OK);
    }
    h.Key(3);
    h.Advance(3s);
    h.Shutdown(discard);
    EXPECT_TRUE(h.tracer->Ended());
    EXPECT_EQ(h.tracer->ExitCode(), kExitOk);
    EXPECT_EQ(h.web.visits().size(), discard ? 0u : 3u) << discard;
    EXPECT_EQ(h.station.FindWindow(hooks::kTracerWindowClass), 0u);
    EXPECT_EQ(h.station.FindMessageWindow(hooks::kTracerEventWindowClass), 0u);
    EXPECT_EQ(h.input.HookCount(), 0u);
    EXPECT_EQ(h.desktop.HookCount(), 0u);
  }
}

TEST(TracerRuntimeTest, SessionOrMachineGoingAwayStopsInOrder) {
  for (const auto event : {platform::SessionEvent::SessionEnd,
                           platform::SessionEvent::SystemShutdown}) {
    TracerHarness h;
    ASSERT_EQ(h.Start(), S_OK);
    h.Window(1);
    ASSERT_EQ(h.StartVisit(1, "http://example.com/"), S_OK);
    h.Key(1);
    h.Advance(2s);
    h.session.Raise(event);
    h.tracer->RunUntilIdle();
    EXPECT_TRUE(h.tracer->Ended());
    EXPECT_EQ(h.tracer->ExitCode(), kExitOk);
    EXPECT_EQ(h.web.identifiers(), std::vector<std::string>{"http://example.com/"});
    EXPECT_TRUE(Logged(h, kEvStopRequested));
    EXPECT_EQ(h.station.FindWindow(hooks::kTracerWindowClass), 0u);
  }
}

TEST(TracerRuntimeTest, StopFromOutsideTheWindows) {
  // Asked for before the main window exists (a signal during start-up): the tracer stops as
  // soon as it is up.
  {
    TracerHarness h;
    h.tracer = std::make_unique<TracerRuntime>(
        TracerPorts{h.tc.ctx(), h.desktop, h.input, h.session, h.station},
        TracerOptions{{std::string(kStartMarker)}, h.sessionDir.path(), true},
        TracerWriters{h.file, h.web, h.mail, nullptr},
        std::make_unique<TitlePathDetector>(h.desktop));
    h.tracer->RequestShutdown("SIGTERM from process 1");
    ASSERT_EQ(h.tracer->Start(), S_OK);
    h.tracer->RunUntilIdle();
    EXPECT_TRUE(h.tracer->Ended());
    EXPECT_EQ(h.tracer->ExitCode(), kExitOk);
    const auto events = h.tc.eventLog().ReadAll();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().eventId, kEvStopRequested);
    EXPECT_EQ(events.front().type, platform::EventType::Information);
    EXPECT_EQ(events.front().strings, std::vector<std::string>{"SIGTERM from process 1"});
  }
  // A signal after the manager asked to drop the open visits does not record them after all.
  {
    TracerHarness h;
    ASSERT_EQ(h.Start(), S_OK);
    h.Window(1);
    ASSERT_EQ(h.StartVisit(1, "http://example.com/"), S_OK);
    h.Key(1);
    h.Advance(2s);
    h.station.PostMessage(h.tracer->mainWindow(), hooks::KIVM_SHUTDOWN, 1, 0);
    h.tracer->RequestShutdown("SIGHUP from process 1");
    h.tracer->RunUntilIdle();
    EXPECT_TRUE(h.tracer->Ended());
    EXPECT_EQ(h.tracer->ExitCode(), kExitOk);
    EXPECT_TRUE(h.web.visits().empty());
    // Once ended, another request changes nothing.
    h.tracer->RequestShutdown("SIGTERM from process 1");
    EXPECT_EQ(h.tracer->ExitCode(), kExitOk);
  }
}

// A writer that does not return until the test lets it.
class HangingWriter final : public VisitWriter {
 public:
  void Record(const Visit& v) override {
    std::unique_lock lock(mutex_);
    items_.push_back(v.identifier);
    cv_.wait(lock, [this] { return released_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> items_;
  bool released_ = false;
};

TEST(TracerRuntimeTest, ShutdownGivesUpOnAWriterThatHangs) {
  HangingWriter hanging;  // outlives the tracer, whose recorder may still be inside it
  TracerHarness h;
  std::atomic<bool> cancelled{false};
  TracerOptions options{{std::string(kStartMarker)}, h.sessionDir.path(), false};
  options.drainBound = 100ms;
  options.stopWait = 100ms;
  h.tracer = std::make_unique<TracerRuntime>(
      TracerPorts{h.tc.ctx(), h.desktop, h.input, h.session, h.station}, std::move(options),
      TracerWriters{h.file, hanging, h.mail, nullptr, [&] { cancelled = true; }},
      std::make_unique<TitlePathDetector>(h.desktop));
  auto run = std::async(std::launch::async, [&] { return h.tracer->Run(); });
  platform::Hwnd main = 0;
  for (int i = 0; i < 1000 && main == 0; ++i) {
    std::this_thread::sleep_for(10ms);
    main = h.station.FindWindow(hooks::kTracerWindowClass);
  }
  ASSERT_NE(main, 0u);
  platform::WindowState w;
  w.id = 1;
  w.title = "Browser";
  w.rect = {0, 0, 1920, 1080};
  w.threadId = 100;
  h.desktop.CreateWindow(w);
  hooks::VisitClient client(&h.station, [&](std::uint64_t id) { return h.desktop.IsWindow(id); });
  const std::u16string item = u"http://example.com/";
  ASSERT_EQ(client.Start(1, item.c_str(), hooks::KIV_VF_TRACK), S_OK);
  // Worked in until the visit qualifies for recording (the input is credited on the tracer's
  // own threads, so the test looks rather than waits a fixed time).
  bool qualifies = false;
  for (int i = 0; i < 500 && !qualifies; ++i) {
    h.input.KeyDown(0x41, 1);
    h.input.KeyUp(0x41, 1);
    h.tc.clock().Advance(100ms);
    std::this_thread::sleep_for(10ms);
    for (const Visit& v : h.tracer->table().Snapshot()) {
      qualifies = i >= 20 && v.workingTime >= kMinUnits * kTicksPerUnit;
    }
  }
  ASSERT_TRUE(qualifies);

  // The visit in hand goes to a writer that never returns: the shutdown ends anyway, within
  // its bounds, after cancelling the writers' waits and logging the visit.
  ASSERT_EQ(h.station.PostMessage(main, hooks::KIVM_SHUTDOWN, 0, 0), S_OK);
  const bool returned = run.wait_for(20s) == std::future_status::ready;
  hanging.Release();
  ASSERT_TRUE(returned);
  EXPECT_EQ(run.get(), kExitOk);
  EXPECT_TRUE(h.tracer->Abandoned());
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(Logged(h, kEvThreadsTerminated));
  bool named = false;
  for (const auto& e : h.tc.eventLog().ReadAll()) {
    if (e.eventId == kEvVisitQueue && !e.strings.empty()) named = e.strings[0] == "http://example.com/";
  }
  EXPECT_TRUE(named);
  EXPECT_EQ(h.station.FindWindow(hooks::kTracerWindowClass), 0u);
  h.tracer.reset();  // the writer returned: its thread is joined
}

TEST(TracerRuntimeTest, FatalStopEndsWithFailureAndStillRecords) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1);
  ASSERT_EQ(h.StartVisit(1, "http://example.com/"), S_OK);
  h.Advance(2s);
  h.Post(KIVM_STOP, 0);
  EXPECT_TRUE(h.tracer->Ended());
  EXPECT_EQ(h.tracer->ExitCode(), kExitFailed);
  EXPECT_TRUE(Logged(h, kEvFatalStop));
  EXPECT_EQ(h.web.visits().size(), 1u);
}

TEST(TracerRuntimeTest, MainWindowFailureIsNotSuccess) {
  TracerHarness h;
  h.desktop.FailNextHook(5);
  EXPECT_TRUE(Failed(h.Start()));
  EXPECT_EQ(h.tracer->ExitCode(), kExitFailed);
  EXPECT_TRUE(h.tracer->Ended());
  EXPECT_TRUE(Logged(h, kEvSetupFailed));
  EXPECT_EQ(h.station.FindMessageWindow(hooks::kTracerEventWindowClass), 0u);
}

TEST(TracerRuntimeTest, LockAndScreenSaverPauseVisibleCredit) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1);
  ASSERT_EQ(h.StartVisit(1, "http://example.com/"), S_OK);
  h.desktop.SetForeground(1);
  h.Advance(4s);
  h.Post(hooks::KIVM_LOCK_STATE, hooks::kLockStateLocked);
  EXPECT_TRUE(h.tracer->flags().locked);
  const auto atLock = h.tracer->table().Snapshot().at(0).workingTime;
  // The time before the lock is credited; nothing while locked, even with the timer running.
  h.input.KeyDown(0x41, 0);  // input elsewhere keeps the user active
  h.Advance(10s);
  const auto locked = h.tracer->table().Snapshot().at(0).workingTime;
  EXPECT_LE(locked - atLock, 1'000'000u * 11);  // at most the interval up to the lock pass
  h.Post(hooks::KIVM_LOCK_STATE, hooks::kLockStateUnlocked);
  h.Post(hooks::KIVM_LOCK_STATE, hooks::kLockStateScreenSaverStarted);
  EXPECT_TRUE(h.tracer->flags().screenSaver);
  h.Post(hooks::KIVM_LOCK_STATE, hooks::kLockStateScreenSaverStopped);
  h.Post(hooks::KIVM_LOCK_STATE, 9);  // unknown: changes nothing
  EXPECT_FALSE(h.tracer->flags().locked);
  EXPECT_FALSE(h.tracer->flags().screenSaver);
}

TEST(TracerRuntimeTest, PowerNotices) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.session.Raise(platform::SessionEvent::Suspend);
  h.tracer->RunUntilIdle();
  EXPECT_TRUE(h.tracer->flags().suspended);
  h.Post(platform::WM_POWERBROADCAST, PBT_APMRESUMECRITICAL);
  EXPECT_FALSE(h.tracer->flags().suspended);
  h.Post(platform::WM_POWERBROADCAST, 99);
  h.session.Raise(platform::SessionEvent::Resume);
  h.tracer->RunUntilIdle();
  EXPECT_FALSE(h.tracer->flags().suspended);
  EXPECT_FALSE(h.tracer->flags().criticalResume);
}

TEST(TracerRuntimeTest, CriticalResumeDropsActiveTime) {
  TracerHarness h;
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1, "Editor", {0, 0, 10, 10});
  ASSERT_EQ(h.StartVisit(1, "http://example.com/"), S_OK);
  h.Key(1);
  h.Advance(2s);
  ASSERT_GT(h.tracer->table().Snapshot().at(0).activeTime, 0u);
  h.Post(platform::WM_POWERBROADCAST, PBT_APMRESUMECRITICAL);
  h.Advance(2s);
  EXPECT_EQ(h.tracer->table().Snapshot().at(0).activeTime, 0u);
  EXPECT_FALSE(h.tracer->flags().criticalResume);  // cleared by the pass
}

TEST(TracerRuntimeTest, BusyNoticesGoToTheManagersWindow) {
  TracerHarness h;
  platform::MessageLoop hostLoop(h.tc.clock());
  std::vector<platform::WPARAM> busy;
  std::unique_ptr<platform::Window> host;
  ASSERT_EQ(h.station.CreateWindow(hostLoop, {"QvHostWindow", "", false},
                                   [&](const platform::Message& m) {
                                     if (m.message == hooks::KIVM_TRACER_BUSY) busy.push_back(m.wParam);
                                     return platform::LRESULT{0};
                                   },
                                   host),
            S_OK);
  ASSERT_EQ(h.Start(), S_OK);
  h.Window(1);
  ASSERT_EQ(h.StartVisit(1, "http://example.com/"), S_OK);
  h.Key(1);
  h.Advance(2s);
  ASSERT_EQ(h.EndVisit(1), S_OK);
  hostLoop.Pump();
  EXPECT_EQ(busy, (std::vector<platform::WPARAM>{1, 2}));
}

// A detector driven by the test: it detects and closes documents when told, fails when told,
// and drops the hide events of one window as a pop-up tracker would.
class ScriptedDetector final : public ItemDetector {
 public:
  bool PassEvent(const platform::WinEvent& e) override {
    return !(e.event == platform::EVENT_OBJECT_HIDE && e.window == popup);
  }
  void OnWindowEvent(const platform::WinEvent& e, DetectionSink& s) override {
    sink = &s;
    seen.push_back(e);
  }
  int ScoreTitle(std::string_view title, std::string_view path) const override {
    return title.find(path) != std::string_view::npos ? 4 : 0;
  }
  DocumentSink* documents() const { return dynamic_cast<DocumentSink*>(sink); }

  platform::DesktopWindow popup = 0;
  DetectionSink* sink = nullptr;
  std::vector<platform::WinEvent> seen;
};

struct DocumentFixture {
  TracerHarness h;
  ScriptedDetector* detector = nullptr;

  DocumentFixture() {
    auto d = std::make_unique<ScriptedDetector>();
    detector = d.get();
    EXPECT_EQ(h.Start(std::move(d)), S_OK);
  }
  // Window `w` shows the running document `key`, a visit long enough to be recorded.
  void Open(platform::DesktopWindow w, std::uint32_t key, const std::string& path) {
    h.Window(w, path + " - Editor", {static_cast<std::int32_t>(w) * 100, 0, 1920, 1080},
             100 + static_cast<std::uint32_t>(w));
    ASSERT_NE(detector->sink, nullptr);
    detector->sink->ItemDetected(w, kKindDocument, key, path);
    h.tracer->Settle();
    h.Key(w);
    h.Advance(3s);
  }
  void Closed(std::uint32_t key, std::uint32_t remaining) {
    ASSERT_NE(detector->documents(), nullptr);
    detector->documents()->DocumentClosed(key, remaining);
    h.tracer->Settle();
  }
};

TEST(TracerRuntimeTest, ClosedDocumentsEndTheirVisits) {
  // The last instance gone: the visit ends although the window stays.
  {
    DocumentFixture f;
    f.Open(1, 7, "/home/u/a.odt");
    f.Open(2, 8, "/home/u/b.odt");
    f.Closed(7, 0);
    EXPECT_EQ(f.h.tracer->table().Size(), 1u);
    ASSERT_EQ(f.h.file.visits().size(), 1u);
    EXPECT_EQ(f.h.file.visits()[0].source, "/home/u/a.odt");
    // An unknown key and the Recent folder's key 0 close nothing.
    f.Closed(99, 0);
    f.Closed(0, 0);
    EXPECT_EQ(f.h.tracer->table().Size(), 1u);
  }
  // Instances remain: the visit stays while its window's title names the path, and ends once
  // it does not.
  {
    DocumentFixture f;
    f.Open(1, 7, "/home/u/a.odt");
    f.Closed(7, 1);
    EXPECT_EQ(f.h.tracer->table().Size(), 1u);
    f.h.desktop.SetTitle(1, "/home/u/other.odt - Editor");
    f.h.tracer->RunUntilIdle();
    EXPECT_EQ(f.h.tracer->table().Size(), 1u);  // watched documents end through their watcher
    f.Closed(7, 1);
    EXPECT_EQ(f.h.tracer->table().Size(), 0u);
    EXPECT_EQ(f.h.file.visits().size(), 1u);
  }
  // Instances remain but the window is gone.
  {
    DocumentFixture f;
    f.Open(1, 7, "/home/u/a.odt");
    f.h.desktop.DestroyWindow(1);
    f.h.tracer->RunUntilIdle();
    EXPECT_EQ(f.h.tracer->table().Size(), 1u);
    f.Closed(7, 2);
    EXPECT_EQ(f.h.tracer->table().Size(), 0u);
  }
}

TEST(TracerRuntimeTest, FailedDetectorStopsTheTracer) {
  DocumentFixture f;
  f.Open(1, 7, "/home/u/a.odt");
  ASSERT_NE(f.detector->documents(), nullptr);
  f.h.tracer->RunWhile([&] { f.detector->documents()->DetectorFailed(); });
  f.h.tracer->Settle();
  while (!f.h.tracer->Ended()) f.h.Advance(100ms);
  EXPECT_EQ(f.h.tracer->ExitCode(), kExitFailed);
  EXPECT_TRUE(Logged(f.h, kEvFatalStop));
  EXPECT_EQ(f.h.file.visits().size(), 1u);  // the open visit is still recorded
}

TEST(TracerRuntimeTest, EventsTheDetectorDropsAreNotHandled) {
  DocumentFixture f;
  f.detector->popup = 2;
  f.h.Window(1);
  f.h.Window(2, "menu", {0, 0, 100, 100});
  f.h.desktop.Show(2, false);
  f.h.desktop.Show(1, false);
  f.h.tracer->RunUntilIdle();
  auto hidden = [&](platform::DesktopWindow w) {
    return std::any_of(f.detector->seen.begin(), f.detector->seen.end(), [&](const auto& e) {
      return e.event == platform::EVENT_OBJECT_HIDE && e.window == w;
    });
  };
  EXPECT_TRUE(hidden(1));
  EXPECT_FALSE(hidden(2));
}


TEST(TracerRuntimeTest, TheMailVisitsEventLivesWithTheTracerAndStartsSignalled) {
  TracerHarness h;
  std::unique_ptr<platform::NamedEvent> event;
  EXPECT_TRUE(Failed(platform::NamedEvent::Open(h.sessionDir.path(), hooks::kMailVisitsEventName, event)));
  ASSERT_EQ(h.Start(), S_OK);
  ASSERT_EQ(platform::NamedEvent::Open(h.sessionDir.path(), hooks::kMailVisitsEventName, event), S_OK);
  EXPECT_TRUE(event->IsSet());
  h.Shutdown(false);
  h.tracer.reset();
  EXPECT_FALSE(event->Alive());
}

}  // namespace
}  // namespace qv::tracer
