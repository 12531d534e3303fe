// One visit message round trip to a window of another process, against a bare SEQPACKET
// ping-pong between two processes, measured in the same run; prints the ratio.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "common/temp_dir.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvHooks/visit_client.h"
#include "platform/fs/private_files.h"
#include "platform/messaging/runtime_folder.h"
#include "platform/messaging/socket_transport.h"
#include "platform/messaging/window_station.h"

namespace {

using namespace qv;
using namespace qv::platform;

// Everything the benchmarks share; set up in main() before any thread exists, so that the
// children can be forked safely.
struct Peers {
  std::filesystem::path folder;
  pid_t tracer = -1;
  pid_t echo = -1;
  int echoFd = -1;
};
Peers* peers = nullptr;

[[noreturn]] void RunTracer(const std::filesystem::path& folder, int readyFd) {
  SystemClock clock;
  SocketTransportOptions options;
  options.folder = folder;
  options.uid = ::getuid();
  std::shared_ptr<SocketTransport> transport;
  if (Failed(SocketTransport::Open(options, clock, transport))) ::_exit(2);
  WindowStation station(transport, clock);
  MessageLoop loop(clock);
  std::unique_ptr<Window> events;
  station.CreateWindow(loop, {std::string(hooks::kTracerEventWindowClass), "", true},
                       [&](const Message& m) -> LRESULT {
                         if (m.message == hooks::KIVM_SHUTDOWN) loop.PostQuit(0);
                         return 1;
                       },
                       events);
  [[maybe_unused]] ssize_t n = ::write(readyFd, "r", 1);
  loop.Run();
  events.reset();
  ::_exit(0);
}

[[noreturn]] void RunEcho(int fd) {
  std::vector<std::uint8_t> buf(kMaxFrameSize);
  for (;;) {
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) ::_exit(0);
    if (::send(fd, buf.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) ::_exit(1);
  }
}

std::u16string SampleItem() {
  return u"http://www.example.org/articles/2005/07/26/desktop-search.html";
}

// What KivVisitStart does: look the event window up, then send the visit.
void BM_VisitStartAcrossProcesses(benchmark::State& state) {
  SystemClock clock;
  SocketTransportOptions options;
  options.folder = peers->folder;
  options.uid = ::getuid();
  std::shared_ptr<SocketTransport> transport;
  if (Failed(SocketTransport::Open(options, clock, transport))) state.SkipWithError("folder");
  WindowStation station(transport, clock);
  hooks::VisitClient client(&station);
  const std::u16string item = SampleItem();
  for (auto _ : state) {
    if (client.Start(0x1234, item.c_str(), hooks::KIV_VF_TRACK) != S_OK) {
      state.SkipWithError("visit not delivered");
      break;
    }
  }
}
BENCHMARK(BM_VisitStartAcrossProcesses)->UseRealTime();

// The send alone, with the window already known.
void BM_VisitCopyDataRoundTrip(benchmark::State& state) {
  SystemClock clock;
  SocketTransportOptions options;
  options.folder = peers->folder;
  options.uid = ::getuid();
  std::shared_ptr<SocketTransport> transport;
  if (Failed(SocketTransport::Open(options, clock, transport))) state.SkipWithError("folder");
  WindowStation station(transport, clock);
  const Hwnd target = station.FindMessageWindow(hooks::kTracerEventWindowClass);
  CopyData data;
  hooks::VisitItemBytes(SampleItem().c_str(), data.bytes);
  data.dwData = hooks::VisitDwData(hooks::KIV_VISIT_START, hooks::KIV_VF_TRACK);
  for (auto _ : state) {
    if (station.SendCopyData(target, 0x1234, data, SMTO_ABORTIFHUNG,
                             std::chrono::milliseconds(5000)) != S_OK) {
      state.SkipWithError("send failed");
      break;
    }
  }
}
BENCHMARK(BM_VisitCopyDataRoundTrip)->UseRealTime();

// The floor: one record of the same size there and back on an open SEQPACKET pair.
void BM_BareSeqpacketPingPong(benchmark::State& state) {
  std::vector<std::uint8_t> record(kFrameHeaderSize + (SampleItem().size() + 1) * 2, 0x5A);
  std::vector<std::uint8_t> reply(kMaxFrameSize);
  for (auto _ : state) {
    if (::send(peers->echoFd, record.data(), record.size(), MSG_NOSIGNAL) < 0 ||
        ::recv(peers->echoFd, reply.data(), reply.size(), 0) <= 0) {
      state.SkipWithError("echo failed");
      break;
    }
  }
}
BENCHMARK(BM_BareSeqpacketPingPong)->UseRealTime();

// Keeps each benchmark's time per iteration for the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.iterations > 0) {
        perIteration_[run.benchmark_name()] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
      }
    }
  }
  void PrintRatios() const {
    const auto bare = perIteration_.find("BM_BareSeqpacketPingPong/real_time");
    if (bare == perIteration_.end() || bare->second <= 0) return;
    for (const auto& [name, seconds] : perIteration_) {
      if (name == bare->first) continue;
      std::printf("%s / bare ping-pong = %.1f (%.1f us vs %.1f us)\n", name.c_str(),
                  seconds / bare->second, seconds * 1e6, bare->second * 1e6);
    }
  }

 private:
  std::map<std::string, double> perIteration_;
};

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  TempDir dir;
  Peers shared;
  shared.folder = dir.path() / "run";
  if (Failed(EnsureRuntimeFolder(shared.folder, ::getuid()))) return 1;
  int ready[2];
  int pair[2];
  if (::pipe(ready) != 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) return 1;
  shared.tracer = ::fork();
  if (shared.tracer == 0) RunTracer(shared.folder, ready[1]);
  char c;
  if (::read(ready[0], &c, 1) != 1) return 1;
  shared.echo = ::fork();
  if (shared.echo == 0) {
    ::close(pair[0]);
    RunEcho(pair[1]);
  }
  ::close(pair[1]);
  shared.echoFd = pair[0];
  peers = &shared;

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();

  ::close(shared.echoFd);
  {
    SystemClock clock;
    std::unique_ptr<WindowStation> station;
    SocketTransportOptions options;
    options.folder = shared.folder;
    options.uid = ::getuid();
    std::shared_ptr<SocketTransport> transport;
    if (Succeeded(SocketTransport::Open(options, clock, transport))) {
      WindowStation s(transport, clock);
      s.PostMessage(s.FindMessageWindow(hooks::kTracerEventWindowClass), hooks::KIVM_SHUTDOWN, 0, 0);
    }
  }
  ::waitpid(shared.tracer, nullptr, 0);
  ::waitpid(shared.echo, nullptr, 0);
  return 0;
}
