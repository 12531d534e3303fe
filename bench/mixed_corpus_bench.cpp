// The catalog engine and Recoll side by side on the mixed-format corpus (docx, odt, epub,
// RTF, PDF, mail files and Maildir messages): indexing time, peak memory of the indexer and
// of the processes that read documents for it, index size, and hits per marker word checked
// against the corpus manifest. Opt-in: it runs only on a corpus it is given.
//
//   python3 bench/gen_mixed_corpus.py /tmp/qvmixed --per-format 500
//   QV_BENCH_MIXED=/tmp/qvmixed build/bench/mixed_corpus_bench
//
// Both indexers run as programs, so their memory is measured as a user would see it: each
// process of the indexing tree is sampled from /proc (VmHWM, the kernel's own high-water
// mark) while it runs, and the tree's maximum comes from wait4(), which folds in every
// descendant the indexer reaped. Recoll runs when recollindex and recollq are installed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Setup {
  fs::path corpus;
  std::map<std::string, long> docFreq;  // manifest: documents per marker word
  fs::path qvindex;
  fs::path work;
  bool haveRecoll = false;
  std::string error;
  ~Setup() {
    std::error_code ec;
    if (!work.empty()) fs::remove_all(work, ec);
  }
};

// The "doc_freq" object of the manifest: "word": count pairs.
std::map<std::string, long> ReadDocFreq(const std::string& json) {
  std::map<std::string, long> out;
  const auto key = json.find("\"doc_freq\"");
  if (key == std::string::npos) return out;
  const auto open = json.find('{', key);
  const auto close = json.find('}', open);
  if (open == std::string::npos || close == std::string::npos) return out;
  std::size_t pos = open;
  for (;;) {
    const auto q1 = json.find('"', pos + 1);
    if (q1 == std::string::npos || q1 > close) break;
    const auto q2 = json.find('"', q1 + 1);
    const auto colon = json.find(':', q2);
    out[json.substr(q1 + 1, q2 - q1 - 1)] = std::strtol(json.c_str() + colon + 1, nullptr, 10);
    pos = json.find_first_of(",}", colon);
    if (pos == std::string::npos || pos >= close) break;
  }
  return out;
}

void Init(Setup& s) {
  const char* dir = std::getenv("QV_BENCH_MIXED");
  if (!dir) {
    s.error = "set QV_BENCH_MIXED to a folder made by gen_mixed_corpus.py";
    return;
  }
  s.corpus = fs::absolute(dir) / "corpus";
  std::ifstream m(fs::absolute(dir) / "manifest.json");
  std::stringstream ss;
  ss << m.rdbuf();
  s.docFreq = ReadDocFreq(ss.str());
  if (s.docFreq.empty() || !fs::is_directory(s.corpus)) {
    s.error = "no corpus/ and manifest.json in QV_BENCH_MIXED: run gen_mixed_corpus.py";
    return;
  }
  // qvindex of the same build: QV_BUILD_DIR/bin, else bin/ beside this program's bench/.
  std::error_code ec;
  const char* build = std::getenv("QV_BUILD_DIR");
  s.qvindex = (build && *build ? fs::path(build)
                               : fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path()) /
              "bin" / "qvindex";
  if (!fs::exists(s.qvindex)) s.error = s.qvindex.string() + " is missing: build qvindex";
  s.work = fs::temp_directory_path() / ("qv-mixed-bench-" + std::to_string(getpid()));
  fs::create_directories(s.work);
  s.haveRecoll = std::system("command -v recollindex >/dev/null && command -v recollq "
                             ">/dev/null") == 0;
}

Setup& Get() {
  static Setup s;
  static const bool ready = (Init(s), true);
  (void)ready;
  return s;
}

std::uint64_t TreeBytes(const fs::path& p) {
  std::uint64_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_regular_file(ec)) n += it->file_size(ec);
  }
  return n;
}

std::string ReadSmall(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The kernel's high-water mark of a process's resident set, in KiB; 0 once it has gone.
long VmHwmKiB(pid_t pid) {
  const std::string status = ReadSmall("/proc/" + std::to_string(pid) + "/status");
  const auto at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

// A process and all its descendants now alive.
void Tree(pid_t pid, std::vector<pid_t>& out) {
  out.push_back(pid);
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::istringstream children(ReadSmall(task.path() / "children"));
    for (pid_t child; children >> child;) Tree(child, out);
  }
}

struct RunResult {
  double seconds = 0;
  int status = -1;
  double rootPeakMiB = 0;     // the program itself
  double helperPeakMiB = 0;   // the largest of the processes it started
  double treePeakMiB = 0;     // wait4: the program and every descendant it reaped
  std::set<std::string> helpers;
  std::string output;
  std::string errors;
};

// Runs argv with its output in a file, sampling the memory of its process tree.
RunResult RunMeasured(const std::vector<std::string>& argv, const fs::path& outFile) {
  RunResult r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  // Standard error apart: the two streams interleave mid-line when they share a file.
  const std::string errFile = outFile.string() + ".err";
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto t0 = Clock::now();
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return r;
  // Peaks by process and by the program it ran when sampled: a child between fork and exec
  // still carries the parent's memory and high-water mark, and is not counted as a helper.
  std::map<std::pair<pid_t, std::string>, long> peaks;
  int status = 0;
  rusage ru{};
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &ru);
    if (done == pid || done < 0) break;
    std::vector<pid_t> tree;
    Tree(pid, tree);
    for (const pid_t p : tree) {
      std::string comm = ReadSmall("/proc/" + std::to_string(p) + "/comm");
      while (!comm.empty() && comm.back() == '\n') comm.pop_back();
      const long kib = VmHwmKiB(p);
      long& peak = peaks[{p, comm}];
      if (kib > peak) peak = kib;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.treePeakMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
  std::string rootName;
  for (const auto& [key, kib] : peaks) {
    if (key.first == pid) rootName = key.second;
  }
  for (const auto& [key, kib] : peaks) {
    const double mib = static_cast<double>(kib) / 1024.0;
    if (key.first == pid) {
      r.rootPeakMiB = std::max(r.rootPeakMiB, mib);
    } else if (key.second != rootName) {
      r.helperPeakMiB = std::max(r.helperPeakMiB, mib);
      r.helpers.insert(key.second);
    }
  }
  r.output = ReadSmall(outFile);
  r.errors = ReadSmall(errFile);
  return r;
}

// Lines of output that name a file of the corpus.
long CountHits(const std::string& output, const fs::path& corpus) {
  long n = 0;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(corpus.string()) != std::string::npos) ++n;
  }
  return n;
}

void Report(benchmark::State& state, const Setup& s, const RunResult& r, const fs::path& index,
            const std::function<std::string(const std::string&)>& query) {
  state.SetIterationTime(r.seconds);
  state.counters["seconds"] = r.seconds;
  state.counters["indexer_peak_MiB"] = r.rootPeakMiB;
  state.counters["helper_peak_MiB"] = r.helperPeakMiB;
  state.counters["tree_peak_MiB"] = r.treePeakMiB;
  state.counters["index_MiB"] = static_cast<double>(TreeBytes(index)) / 1048576.0;
  long wrong = 0;
  for (const auto& [word, expected] : s.docFreq) {
    const long hits = CountHits(query(word), s.corpus);
    state.counters["hits_" + word] = static_cast<double>(hits);
    if (hits != expected) ++wrong;
  }
  state.counters["words_with_wrong_hits"] = static_cast<double>(wrong);
  std::string helpers;
  for (const auto& h : r.helpers) helpers += (helpers.empty() ? "" : ",") + h;
  state.SetLabel("helpers: " + (helpers.empty() ? std::string("none seen") : helpers));
  if (r.status != 0) {
    state.SkipWithError(("exit status " + std::to_string(r.status) + ": " +
                         (r.errors + r.output).substr(0, 200)).c_str());
  }
}

void BM_MixedEngineIndex(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  for (auto _ : state) {
    const fs::path root = s.work / "engine";
    std::error_code ec;
    fs::remove_all(root, ec);
    const std::string q = s.qvindex.string();
    const auto log = s.work / "engine.log";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {q, "--root", root.string(), "add-catalog", "Mixed"},
             {q, "--root", root.string(), "add-scope", "Mixed", s.corpus.string()}}) {
      const RunResult step = RunMeasured(args, log);
      if (step.status != 0) return state.SkipWithError((step.errors + step.output).c_str());
    }
    const RunResult r = RunMeasured({q, "--root", root.string(), "rescan", "Mixed"}, log);
    Report(state, s, r, root, [&](const std::string& word) {
      return RunMeasured({q, "--root", root.string(), "query",
                          "SELECT Path FROM Mixed..Scope() WHERE CONTAINS('" + word + "')"},
                         s.work / "query.out")
          .output;
    });
  }
}

void BM_MixedRecollIndex(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  if (!s.haveRecoll) return state.SkipWithError("recollindex and recollq are not installed");
  for (auto _ : state) {
    const fs::path conf = s.work / "recoll";
    std::error_code ec;
    fs::remove_all(conf, ec);
    fs::create_directories(conf);
    std::ofstream(conf / "recoll.conf") << "topdirs = " << s.corpus.string() << "\n";
    const RunResult r =
        RunMeasured({"recollindex", "-c", conf.string(), "-z"}, s.work / "recoll.log");
    Report(state, s, r, conf / "xapiandb", [&](const std::string& word) {
      return RunMeasured({"recollq", "-c", conf.string(), "-b", word}, s.work / "recollq.out")
          .output;
    });
  }
}

}  // namespace

BENCHMARK(BM_MixedEngineIndex)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_MixedRecollIndex)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
