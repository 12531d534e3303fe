// The demo session: a few sample documents of its own get visits over a simulated week, each
// visit ranked on the file itself the way the tracer ranks it; then their activations and
// bars are shown now and as time passes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/file_ranking.h"

namespace {

using namespace qv;

struct ScriptedVisit {
  const char* file;
  double dayOffset;  // days after the session's start
  int seconds;       // length of the visit
  int workingSeconds;
};

// A working week: the report is worked on daily, the notes now and then, the budget once,
// long ago in the week; the todo list is glanced at often but briefly.
constexpr ScriptedVisit kScript[] = {
    {"budget.ods", 0.10, 3600, 2400}, {"report.odt", 0.40, 1800, 1500},
    {"todo.txt", 0.41, 40, 10},       {"notes.md", 1.30, 900, 400},
    {"report.odt", 1.45, 2700, 2000}, {"todo.txt", 2.02, 30, 8},
    {"report.odt", 2.60, 3600, 3000}, {"todo.txt", 3.01, 35, 12},
    {"notes.md", 3.50, 600, 300},     {"report.odt", 4.40, 1200, 900},
    {"todo.txt", 4.98, 25, 6},        {"report.odt", 5.90, 900, 700},
};

std::string Bar(std::uint32_t value) {
  std::string bar;
  for (std::uint32_t i = 0; i < 25; ++i) bar += i < value / 4 ? "\u2588" : "\u00B7";
  return bar;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << "Usage: qvdemo\nRuns the built-in demo session of Quillon Vesper in a "
                   "temporary folder and prints what was recorded.\n";
      return 0;
    }
    std::cerr << "qvdemo: unknown argument '" << a << "'; try --help\n";
    return 1;
  }

  TempDir dir;
  const auto docs = dir.path() / "Documents";
  std::filesystem::create_directories(docs);
  for (const char* name : {"budget.ods", "report.odt", "notes.md", "todo.txt"}) {
    std::ofstream(docs / name) << "sample document " << name << "\n";
  }
  const DATE sessionStart = *ParseIsoDate("2026-11-30T08:00:00Z");
  Installation installation(dir.path() / "root",
                            std::make_unique<ManualClock>(*DateToFileTime(sessionStart)));
  Context& ctx = installation.context();
  auto& clock = static_cast<ManualClock&>(const_cast<Clock&>(ctx.clock));
  RegisterRankingClasses(ctx);
  FileRanking ranking(ctx);
  BaseActivation activation(ctx);

  std::cout << "Quillon Vesper demo session\n"
            << "  documents: " << docs.string() << "\n\n"
            << "Recording " << std::size(kScript) << " visits over a week:\n";
  for (const auto& v : kScript) {
    const std::string file = (docs / v.file).string();
    const DATE end = sessionStart + v.dayOffset + v.seconds / kSecondsPerDay;
    clock.SetNowDate(end);
    ULONG scope = 0;
    std::string key;
    if (Failed(ranking.PreRank(&file, &scope, &key, nullptr))) return 2;
    const ULONG tenths = static_cast<ULONG>(v.workingSeconds) * 10;
    const HRESULT hr = ranking.UpdateRank(&file, tenths / 2, 1, end - v.seconds / kSecondsPerDay,
                                          end, tenths, static_cast<ULONG>(v.seconds) * 10, scope, 0,
                                          key.empty() ? nullptr : &key);
    std::printf("  %s  %-11s %5d s, %5d s working  %s\n", FormatIsoDate(end).c_str(), v.file,
                v.seconds, v.workingSeconds, hr == S_OK ? "ranked" : FormatHresult(hr).c_str());
    if (hr != S_OK) {
      std::cerr << "qvdemo: the file system of " << docs.string()
                << " may not support user extended attributes\n";
      return 2;
    }
  }

  const DATE lastVisit = sessionStart + 6.0;
  struct Moment {
    const char* label;
    double days;
  };
  constexpr Moment kMoments[] = {
      {"an hour later", 1.0 / 24}, {"a day later", 1}, {"a week later", 7}, {"a year later", 365}};
  for (const auto& m : kMoments) {
    clock.SetNowDate(lastVisit + m.days);
    std::cout << "\nActivation " << m.label << " (" << FormatIsoDate(lastVisit + m.days) << "):\n";
    std::printf("  %-11s %6s %8s %10s  %-25s %s\n", "item", "visits", "working", "activation",
                "bar", "");
    struct Row {
      std::string name;
      ULONG visits, working, bar;
      float activation;
    };
    std::vector<Row> rows;
    for (const char* name : {"report.odt", "notes.md", "budget.ods", "todo.txt"}) {
      const std::string file = (docs / name).string();
      VARIANT_BOOL valid = VARIANT_FALSE;
      ULONG working = 0, visits = 0, bar = 0;
      float a = 0;
      if (Failed(ranking.GetStatistics(&file, &valid, nullptr, &working, nullptr, &visits, nullptr,
                                       nullptr, &a, &bar)) ||
          valid != VARIANT_TRUE) {
        std::cerr << "qvdemo: no ranking record on " << file << "\n";
        return 2;
      }
      rows.push_back({name, visits, working, bar, a});
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row& x, const Row& y) { return x.activation > y.activation; });
    for (const auto& r : rows) {
      std::printf("  %-11s %6u %7us %10.4f  %s %3u\n", r.name.c_str(), r.visits, r.working,
                  r.activation, Bar(r.bar).c_str(), r.bar);
    }
  }
  std::cout << "\nItems are listed by activation: high for items used much and lately, falling "
               "with\nthe square root of the time since.\n";
  return 0;
}
