#pragma once
// For the add-in's tests: a small mail client of explorers and inspectors whose windows live
// on a SimDesktop, visit entry points that keep every call, and a host around both.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/utf.h"
#include "context/test_context.h"
#include "mail/QvOutlookAddIn/addin_host.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/mail/mail_client.h"
#include "platform/messaging/inproc_transport.h"

namespace qv::mail::addin::testing {

using platform::DesktopWindow;
using platform::mail::ClientWindowInfo;
using platform::mail::EntryId;

class FakeExplorer final : public platform::mail::Explorer {
 public:
  ClientWindowInfo info;
  bool paneVisible = true;
  std::vector<EntryId> selection;
  HRESULT selectionResult = S_OK;

  ClientWindowInfo windowInfo() const override { return info; }
  bool readingPaneVisible() const override { return paneVisible; }
  HRESULT Selection(std::vector<EntryId>& out) const override {
    if (Failed(selectionResult)) return selectionResult;
    out = selection;
    return S_OK;
  }
  platform::mail::MessageStore* store() const override { return nullptr; }
};

class FakeInspector final : public platform::mail::Inspector {
 public:
  ClientWindowInfo info;
  platform::mail::Message item;
  HRESULT itemResult = S_OK;

  ClientWindowInfo windowInfo() const override { return info; }
  HRESULT CurrentItem(platform::mail::Message& out) const override {
    if (Failed(itemResult)) return itemResult;
    out = item;
    return S_OK;
  }
};

class FakeMailClient final : public platform::mail::MailClient {
 public:
  explicit FakeMailClient(platform::SimDesktop& desktop) : desktop_(desktop) {}
  std::vector<platform::mail::MessageStore*> Stores() const override { return {}; }
  void Connect(platform::mail::ClientEvents events) override { events_ = std::move(events); }
  const platform::Desktop& desktop() const override { return desktop_; }
  // Polls `done` (the client's queue has nothing else here) until it holds or `limit` has
  // passed on the steady clock; `onPump` plays work arriving meanwhile.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
    ++pumps;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (onPump) onPump();
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  platform::mail::ClientEvents& events() { return events_; }

  std::function<void()> onPump;
  int pumps = 0;

 private:
  platform::SimDesktop& desktop_;
  platform::mail::ClientEvents events_;
};

// One visit call as the tracer would receive it.
struct VisitCall {
  char op;  // 'S'tart, 'U'pdate, 'E'nd
  std::uint64_t window;
  std::string item;  // "<null>" for none
  std::uint32_t flags;
  bool operator==(const VisitCall&) const = default;
};

// Entry points with C linkage cannot carry a context, so calls land in the one log that the
// running test installs (tests in one program run one after another).
class RecordedVisits {
 public:
  RecordedVisits() { Current() = this; }
  ~RecordedVisits() { Current() = nullptr; }
  RecordedVisits(const RecordedVisits&) = delete;
  RecordedVisits& operator=(const RecordedVisits&) = delete;

  std::vector<VisitCall> calls;
  std::int32_t startResult = S_OK;

  static VisitEntryPoints Points() {
    VisitEntryPoints p;
    p.start = [](std::uint64_t w, const char16_t* item, std::uint32_t f) {
      return Current()->Add('S', w, item, f, Current()->startResult);
    };
    p.update = [](std::uint64_t w, const char16_t* item, std::uint32_t f) {
      return Current()->Add('U', w, item, f, S_OK);
    };
    p.end = [](std::uint64_t w, const char16_t* item, std::uint32_t f) {
      return Current()->Add('E', w, item, f, S_OK);
    };
    p.isRunning = []() -> std::int32_t { return S_OK; };
    return p;
  }

 private:
  static RecordedVisits*& Current() {
    static RecordedVisits* current = nullptr;
    return current;
  }
  std::int32_t Add(char op, std::uint64_t w, const char16_t* item, std::uint32_t f,
                   std::int32_t result) {
    calls.push_back({op, w, item ? Utf16ToUtf8(item) : "<null>", f});
    return result;
  }
};

// The desktop, the client's main loop on an in-process station, and the add-in's host.
class AddInFixture {
 public:
  AddInFixture() : binding(RecordedVisits::Points()) {}

  // A visible top-level window with the caption and rectangle of `info`.
  DesktopWindow TopLevel(DesktopWindow id, const ClientWindowInfo& info) {
    platform::WindowState s;
    s.id = id;
    s.className = "rctrl_renwnd32";
    s.title = info.caption;
    s.rect = {info.left, info.top, info.left + info.width, info.top + info.height};
    return desktop.CreateWindow(s);
  }
  DesktopWindow Child(DesktopWindow id, DesktopWindow parent, std::string className,
                      bool visible = true, std::uint32_t style = 0) {
    platform::WindowState s;
    s.id = id;
    s.parent = parent;
    s.className = std::move(className);
    s.visible = visible;
    s.style = style;
    s.rect = {0, 0, 100, 100};
    return desktop.CreateWindow(s);
  }
  // Runs due timers of the client's loop.
  void Pump() { loop.Pump(); }
  // Moves the clock in steps, dispatching after each.
  void Advance(std::chrono::milliseconds d) {
    for (; d > std::chrono::milliseconds(0); d -= std::chrono::milliseconds(50)) {
      tc.clock().Advance(std::min(d, std::chrono::milliseconds(50)));
      loop.Pump();
    }
  }

  TestContext tc;
  platform::SimDesktop desktop;
  std::shared_ptr<platform::InProcessTransport> transport =
      std::make_shared<platform::InProcessTransport>(tc.clock());
  platform::WindowStation station{transport, tc.clock()};
  platform::MessageLoop loop{tc.clock()};
  RecordedVisits recorded;
  VisitBinding binding;
  AddInHost host{tc.ctx(), binding, desktop, station, loop};
};

}  // namespace qv::mail::addin::testing
