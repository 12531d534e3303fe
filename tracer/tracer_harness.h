#pragma once
// For tests: a tracer in manual mode on simulated ports, an in-process window station and
// writers that keep what they receive.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "context/test_context.h"
#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvHooks/visit_client.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/desktop/sim_input.h"
#include "platform/desktop/sim_session_signals.h"
#include "platform/messaging/inproc_transport.h"
#include "tracer/tracer_constants.h"
#include "tracer/tracer_runtime.h"

namespace qv::tracer {

class CollectingWriter final : public VisitWriter {
 public:
  void Record(const Visit& visit) override {
    std::lock_guard lock(mutex_);
    visits_.push_back(visit);
  }
  std::vector<Visit> visits() const {
    std::lock_guard lock(mutex_);
    return visits_;
  }
  std::vector<std::string> identifiers() const {
    std::vector<std::string> out;
    for (const auto& v : visits()) out.push_back(v.identifier);
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Visit> visits_;
};

class TracerHarness {
 public:
  TracerHarness() = default;

  HRESULT Start(std::vector<std::string> args = {std::string(kStartMarker)}) {
    return Start(std::make_unique<TitlePathDetector>(desktop), std::move(args));
  }
  HRESULT Start(std::unique_ptr<ItemDetector> detector,
                std::vector<std::string> args = {std::string(kStartMarker)}) {
    tracer = std::make_unique<TracerRuntime>(
        TracerPorts{tc.ctx(), desktop, input, session, station},
        TracerOptions{std::move(args), sessionDir.path(), true},
        TracerWriters{file, web, mail, nullptr}, std::move(detector));
    return tracer->Start();
  }

  // A visible top-level window; full screen unless a rectangle is given.
  platform::DesktopWindow Window(platform::DesktopWindow id, std::string title = "Editor",
                                 platform::Rect rect = {0, 0, 1920, 1080},
                                 std::uint32_t thread = 100) {
    platform::WindowState s;
    s.id = id;
    s.className = "Editor";
    s.title = std::move(title);
    s.rect = rect;
    s.threadId = thread;
    desktop.CreateWindow(s);
    tracer->RunUntilIdle();
    return id;
  }

  HRESULT Visit(std::uint32_t op, platform::DesktopWindow window, const std::string& item,
                std::uint32_t flags = hooks::KIV_VF_TRACK) {
    hooks::VisitClient client(&station, [this](std::uint64_t w) { return desktop.IsWindow(w); });
    const std::u16string text = Utf8ToUtf16(item);
    HRESULT hr = E_FAIL;
    switch (op) {
      case hooks::KIV_VISIT_START: hr = client.Start(window, text.c_str(), flags); break;
      case hooks::KIV_VISIT_END:
        hr = client.End(window, item.empty() ? nullptr : text.c_str(), flags);
        break;
      default: hr = client.Update(window, item.empty() ? nullptr : text.c_str(), flags); break;
    }
    tracer->RunUntilIdle();
    return hr;
  }
  HRESULT StartVisit(platform::DesktopWindow w, const std::string& item,
                     std::uint32_t flags = hooks::KIV_VF_TRACK) {
    return Visit(hooks::KIV_VISIT_START, w, item, flags);
  }
  HRESULT EndVisit(platform::DesktopWindow w, const std::string& item = "",
                   std::uint32_t flags = 0) {
    return Visit(hooks::KIV_VISIT_END, w, item, flags);
  }

  void Key(platform::DesktopWindow w) {
    input.KeyDown(0x41, w);
    input.KeyUp(0x41, w);
    tracer->RunUntilIdle();
  }
  void Post(std::uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam = 0) {
    station.PostMessage(tracer->mainWindow(), message, wParam, lParam);
    tracer->RunUntilIdle();
  }
  void Advance(std::chrono::milliseconds d) { tracer->Advance(tc.clock(), d); }
  void Shutdown(bool discard) { Post(hooks::KIVM_SHUTDOWN, discard ? 1 : 0); }
  std::vector<std::string> Recorded() const {
    std::vector<std::string> out;
    for (const auto* w : {&file, &web, &mail}) {
      for (auto& id : w->identifiers()) out.push_back(id);
    }
    return out;
  }

  TestContext tc;
  platform::SimDesktop desktop;
  platform::SimInput input{tc.clock()};
  platform::SimSessionSignals session;
  std::shared_ptr<platform::InProcessTransport> transport =
      std::make_shared<platform::InProcessTransport>(tc.clock());
  platform::WindowStation station{transport, tc.clock()};
  TempDir sessionDir;
  CollectingWriter file, web, mail;
  std::unique_ptr<TracerRuntime> tracer;
};

}  // namespace qv::tracer
