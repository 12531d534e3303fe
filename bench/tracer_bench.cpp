// The accounting pass with 1000 open windows (goal: at most 1 ms), and what one input notice
// costs the tracer: crediting alone, and the whole way through its main window's loop.
#include <benchmark/benchmark.h>

#include "context/test_context.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/messaging/inproc_transport.h"
#include "tracer/accounting.h"
#include "tracer/tracer_harness.h"

namespace {

using namespace qv;
using namespace qv::tracer;

class NoRecorders final : public VisitRecorders {
 public:
  HRESULT Queue(RecorderKind, VisitPtr) override { return S_OK; }
};

struct Desk {
  explicit Desk(int windows) {
    for (int i = 1; i <= windows; ++i) {
      platform::WindowState s;
      s.id = static_cast<platform::DesktopWindow>(i);
      s.threadId = static_cast<std::uint32_t>(i);
      // Cascaded, overlapping windows as a busy desktop has them.
      const int x = (i * 37) % 1600, y = (i * 23) % 800;
      s.rect = {x, y, x + 320, y + 240};
      desktop.CreateWindow(s);
      table.Open(s.id, 0, 0, "http://example.com/" + std::to_string(i), hooks::KIV_VF_TRACK, "");
    }
  }
  TestContext tc;
  platform::SimDesktop desktop;
  NoRecorders recorders;
  VisitTable table{VisitTableDeps{tc.ctx(), desktop, recorders,
                                  [](std::string_view, std::string_view) { return 0; }}};
  InputBuckets buckets;
  TracerFlags flags;
};

void BM_AccountingPass(benchmark::State& state) {
  Desk d(static_cast<int>(state.range(0)));
  d.flags.userActive = true;
  AccountingPass pass(d.table, d.buckets, d.desktop, d.flags, d.tc.clock(),
                      [](platform::DesktopWindow) {});
  const bool moving = state.range(1) != 0;
  std::int64_t t = 0;
  for (auto _ : state) {
    // Input in ten windows since the last pass.
    for (int i = 1; i <= 10; ++i) {
      d.buckets.Credit(static_cast<platform::DesktopWindow>(i), t += 1'000'000,
                       [](platform::DesktopWindow) { return true; });
    }
    // A window that moved makes every visible area be measured again.
    if (moving) d.desktop.SetRect(1, {0, 0, 300 + static_cast<int>(t % 20), 200});
    d.tc.clock().Advance(std::chrono::milliseconds(1000));
    pass.Run();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AccountingPass)
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({100, 0})
    ->ArgNames({"windows", "moving"})
    ->Unit(benchmark::kMicrosecond);

void BM_CreditInput(benchmark::State& state) {
  platform::SimDesktop desktop;
  platform::WindowState s;
  s.id = 1;
  desktop.CreateWindow(s);
  InputBuckets buckets;
  std::int64_t t = 0;
  std::size_t n = 0;
  for (auto _ : state) {
    buckets.Credit(1, t += 1000, [&](platform::DesktopWindow w) { return desktop.IsWindow(w); });
    if (++n % 1000 == 0) buckets.Swap();  // as the passes would
  }
}
BENCHMARK(BM_CreditInput);

// KIVM_INPUT posted to the tracer's main window and handled by its loop.
void BM_InputNoticeThroughTheTracer(benchmark::State& state) {
  TracerHarness h;
  if (Failed(h.Start())) {
    state.SkipWithError("tracer did not start");
    return;
  }
  h.Window(1);
  h.StartVisit(1, "http://example.com/");
  const auto main = h.tracer->mainWindow();
  std::size_t n = 0;
  for (auto _ : state) {
    h.station.PostMessage(main, hooks::KIVM_INPUT, hooks::kInputKeyboard, 1);
    h.tracer->RunUntilIdle();
    if (++n % 64 == 0) h.tc.clock().Advance(std::chrono::milliseconds(1));
  }
}
BENCHMARK(BM_InputNoticeThroughTheTracer);

}  // namespace

BENCHMARK_MAIN();
