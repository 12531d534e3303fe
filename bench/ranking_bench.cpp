// Costs of the ranking core: GetActivation and CalcRankingSet per call, and UpdateRank per
// file against the floor of the system calls it cannot avoid (open, lock, stat, read and write
// the extended attribute, set the modification time, close), measured in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include "context/registry_values.h"
#include "context/test_context.h"
#include "platform/fs/private_files.h"
#include "platform/propset/property_store.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/file_ranking.h"
#include "provider/ranking/ranking_record.h"

namespace {

using namespace qv;

constexpr double kSecond = 1.0 / 86400.0;
const DATE kT0 = 46000.0;

void BM_GetActivation(benchmark::State& state) {
  TestContext tc;
  BaseActivation ba(tc.ctx());
  float a = 0;
  DATE t = kT0 + 1;
  for (auto _ : state) {
    ba.GetActivation(t, kT0, 500, 600, kT0 - 3, 4000, 86400, &a);
    benchmark::DoNotOptimize(a);
    t += 1e-9;
  }
}
BENCHMARK(BM_GetActivation);

void BM_CalcRankingSet(benchmark::State& state) {
  TestContext tc;
  BaseActivation ba(tc.ctx());
  ranking::RankingSet s;
  DATE end = kT0;
  for (auto _ : state) {
    end += 0.01;
    ba.CalcRankingSet(7, 300, 1, end - 60 * kSecond, end, 600, 600, VARIANT_FALSE, s);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_CalcRankingSet);

struct Files {
  explicit Files(const std::filesystem::path& dir, int n) {
    std::filesystem::create_directories(dir);
    for (int i = 0; i < n; ++i) {
      paths.push_back((dir / ("doc" + std::to_string(i) + ".txt")).string());
      std::ofstream(paths.back()) << "document " << i;
    }
  }
  std::vector<std::string> paths;
};

// Ranking objects as an installed machine has them, with the machine hive holding the
// indexing settings, and the scope they rank in. Each update makes its object through the
// class factory, as the tracer and the updater do for every visit.
struct Updater {
  explicit Updater(TestContext& tc) : ctx(tc.ctx()) {
    RegisterRankingClasses(tc.ctx());
    tc.registry().SetValue(platform::Hive::LocalMachine, kFilesKey, "IndexedFolders",
                           platform::RegValue::Sz("/home"));
    FileRanking(ctx).get_CurrentScope(&scope);
    // The settings stand still, as on a machine in use: a hive is read again on every update
    // until a few seconds after its change was first seen.
    const std::string first = (tc.root() / "settle.txt").string();
    std::ofstream(first) << "settle";
    Update(first);
    tc.clock().Advance(std::chrono::seconds(5));
    Update(first);
  }
  bool Update(const std::string& file) {
    end += 0.001;
    std::shared_ptr<IKivFileRanking> fr;
    return Succeeded(ctx.classes.CreateInstance(CLSID_FileRanking, fr)) &&
           fr->UpdateRank(&file, 300, 1, end - 60 * kSecond, end, 600, 600, scope, 0,
                          nullptr) == S_OK;
  }
  const Context& ctx;
  ULONG scope = 0;
  DATE end = kT0;
};

// The same work without our code: the system calls an update has to make.
struct Floor {
  Floor()
      : attr(platform::PropertySetAttributeName(ranking::kRankingFmtid)),
        bytes(platform::SerializePropertySet(
            ranking::MakeRankingPropertySet(Guid{}, ranking::RankingSet{}))),
        buf(4096) {}
  void Update(const std::string& f) {
    const int fd = ::open(f.c_str(), O_RDWR | O_CLOEXEC);
    struct flock lk {};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    ::fcntl(fd, F_OFD_SETLK, &lk);
    struct stat st {};
    ::fstat(fd, &st);
    benchmark::DoNotOptimize(::fgetxattr(fd, attr.c_str(), buf.data(), buf.size()));
    ::fsetxattr(fd, attr.c_str(), bytes.data(), bytes.size(), 0);
    ::close(fd);
    timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    ::utimensat(AT_FDCWD, f.c_str(), times, 0);
  }
  const std::string attr;
  const std::vector<std::uint8_t> bytes;
  std::vector<char> buf;
};

constexpr int kFiles = 64;

void BM_UpdateRank(benchmark::State& state) {
  TestContext tc;
  Updater updater(tc);
  Files files(tc.root(), kFiles);
  std::size_t i = 0;
  for (auto _ : state) {
    if (!updater.Update(files.paths[i++ % files.paths.size()])) {
      state.SkipWithError("UpdateRank failed");
      break;
    }
  }
}
BENCHMARK(BM_UpdateRank);

void BM_UpdateRankSyscallFloor(benchmark::State& state) {
  TestContext tc;
  Files files(tc.root(), kFiles);
  Floor floor;
  std::size_t i = 0;
  for (auto _ : state) floor.Update(files.paths[i++ % files.paths.size()]);
}
BENCHMARK(BM_UpdateRankSyscallFloor);

// Both in one loop, a round of each in turn, so that the machine's changing speed between
// two benchmarks (seen here to move either by a third) falls on both alike. Reports the time
// per file of each and their ratio.
void BM_UpdateRankAgainstFloor(benchmark::State& state) {
  TestContext tc;
  Updater updater(tc);
  Floor floor;
  Files ranked(tc.root() / "ranked", kFiles), bare(tc.root() / "bare", kFiles);
  using Clock = std::chrono::steady_clock;
  Clock::duration updateTime{}, floorTime{};
  bool floorFirst = false;
  for (auto _ : state) {
    const auto timeUpdates = [&] {
      const auto t0 = Clock::now();
      for (const auto& f : ranked.paths) {
        if (!updater.Update(f)) return false;
      }
      updateTime += Clock::now() - t0;
      return true;
    };
    const auto timeFloor = [&] {
      const auto t0 = Clock::now();
      for (const auto& f : bare.paths) floor.Update(f);
      floorTime += Clock::now() - t0;
    };
    if (floorFirst) timeFloor();
    if (!timeUpdates()) {
      state.SkipWithError("UpdateRank failed");
      break;
    }
    if (!floorFirst) timeFloor();
    floorFirst = !floorFirst;
  }
  const double files = static_cast<double>(state.iterations()) * kFiles;
  const double update = std::chrono::duration<double, std::nano>(updateTime).count() / files;
  const double bareNs = std::chrono::duration<double, std::nano>(floorTime).count() / files;
  state.counters["update_ns"] = update;
  state.counters["floor_ns"] = bareNs;
  state.counters["ratio"] = bareNs > 0 ? update / bareNs : 0;
}
BENCHMARK(BM_UpdateRankAgainstFloor)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then UpdateRank's cost as a multiple of the floor.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      // With --benchmark_repetitions the fastest run counts: other load only adds time.
      if (r.run_type == Run::RT_Iteration) {
        const std::string name = r.run_name.function_name;
        Keep(ns_, name, r.GetAdjustedRealTime());
        Keep(cpu_, name, r.GetAdjustedCPUTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double update = ns_["BM_UpdateRank"], floor = ns_["BM_UpdateRankSyscallFloor"];
    if (update > 0 && floor > 0) {
      std::printf("UpdateRank / syscall floor = %.2f (%.0f ns vs %.0f ns per file)\n",
                  update / floor, update, floor);
    }
    // On a loaded machine the wall clock also counts waiting for a core; CPU time does not.
    const double updateCpu = cpu_["BM_UpdateRank"], floorCpu = cpu_["BM_UpdateRankSyscallFloor"];
    if (updateCpu > 0 && floorCpu > 0) {
      std::printf("UpdateRank / syscall floor in CPU time = %.2f (%.0f ns vs %.0f ns)\n",
                  updateCpu / floorCpu, updateCpu, floorCpu);
    }
  }

 private:
  static void Keep(std::map<std::string, double>& m, const std::string& name, double v) {
    auto [it, added] = m.emplace(name, v);
    if (!added) it->second = std::min(it->second, v);
  }
  std::map<std::string, double> ns_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
