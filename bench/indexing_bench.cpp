// The catalog engine and Recoll side by side on one corpus: indexing time, peak memory,
// index size, re-indexing after 100 files change, and query latency. Every engine answer is
// checked against the corpus manifest's hit counts.
//
//   python3 gen_corpus.py /tmp/qvcorpus/corpus      (writes /tmp/qvcorpus/manifest.json)
//   QV_BENCH_CORPUS=/tmp/qvcorpus/corpus build/bench/indexing_bench
//
// QV_BENCH_COPIES=n indexes n hard-linked copies of the corpus (5 gives 100k documents, 50
// a million: that run is only made when asked for this way, never by default).
// QV_BENCH_WORK=DIR keeps the copies and both indexes in DIR and leaves them there, so that a
// later run (say, --benchmark_filter=Query) reuses them; a crawl of an unchanged corpus then
// costs only the stat of every file.
// Recoll runs when recollindex and recollq are installed (Debian: recollcmd); its query
// latency includes starting recollq, which is how a program would use it. QV_BENCH_QVSEEK
// names the QvSeek program for BM_SeekPrint, which runs it as a user would (process start
// included) beside recollq -n 20 (BM_RecollPrint).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/query_composer.h"
#include "client/query_date.h"
#include "client/search_run.h"
#include "context/context.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "platform/indexing/fts_postings.h"
#include "platform/indexing/indexer.h"
#include "platform/indexing/property_snapshot_format.h"
#include "platform/indexing/query_executor.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/ranking/base_activation.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace ix = qv::platform::indexing;
using Clock = std::chrono::steady_clock;

const char* const kWords[] = {"deadline", "invoice", "meeting", "contract",
                              "quarterly", "report", "budget"};

struct Setup {
  fs::path corpus;                       // the generated corpus
  std::vector<fs::path> tops;            // what both engines index (copies of the corpus)
  std::map<std::string, long> docFreq;   // manifest: documents per marker word
  int copies = 1;
  fs::path work;                         // scratch folder for both indexes
  bool keepWork = false;                 // QV_BENCH_WORK: the caller's folder, kept
  fs::path engineRoot, recollConf;
  bool haveRecoll = false;
  std::string error;
  ~Setup() {
    // Both indexes and the copies are scratch: leave nothing behind.
    std::error_code ec;
    if (!work.empty() && !keepWork) fs::remove_all(work, ec);
  }
};

long JsonNumberAfter(const std::string& json, std::size_t from, const std::string& key) {
  const auto at = json.find("\"" + key + "\"", from);
  if (at == std::string::npos) return -1;
  return std::strtol(json.c_str() + json.find(':', at) + 1, nullptr, 10);
}

void Init(Setup& s) {
  {
    const char* c = std::getenv("QV_BENCH_CORPUS");
    if (!c) {
      s.error = "set QV_BENCH_CORPUS to a corpus made by gen_corpus.py";
      return;
    }
    s.corpus = fs::absolute(c);
    std::ifstream m(s.corpus.parent_path() / "manifest.json");
    std::stringstream ss;
    ss << m.rdbuf();
    const std::string json = ss.str();
    const auto df = json.find("\"doc_freq\"");
    if (df == std::string::npos) {
      s.error = "no manifest.json beside the corpus";
      return;
    }
    if (const char* n = std::getenv("QV_BENCH_COPIES")) s.copies = std::max(1, std::atoi(n));
    for (const char* w : kWords) s.docFreq[w] = JsonNumberAfter(json, df, w) * s.copies;
    if (const char* w = std::getenv("QV_BENCH_WORK")) {
      s.work = fs::absolute(w);
      s.keepWork = true;
    } else {
      s.work = fs::temp_directory_path() / ("qv-index-bench-" + std::to_string(getpid()));
    }
    fs::create_directories(s.work);
    if (s.copies == 1) {
      s.tops.push_back(s.corpus);
    } else {
      for (int i = 0; i < s.copies; ++i) {
        const fs::path copy = s.work / "corpus" / ("copy" + std::to_string(i));
        fs::create_directories(copy.parent_path());
        if (fs::exists(copy)) {  // kept from an earlier run
          s.tops.push_back(copy);
          continue;
        }
        // Hard links: the same bytes, a distinct path per copy.
        const std::string cmd = "cp -al '" + s.corpus.string() + "' '" + copy.string() + "'";
        if (std::system(cmd.c_str()) != 0) s.error = "cannot copy the corpus";
        s.tops.push_back(copy);
      }
    }
    s.engineRoot = s.work / "engine";
    s.recollConf = s.work / "recoll";
    s.haveRecoll = std::system("command -v recollindex >/dev/null && command -v recollq "
                               ">/dev/null") == 0;
  }
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

struct RunResult {
  double seconds = 0;
  double peakMiB = 0;
  int status = -1;
};

// Waits for a child started at t0: its time, its own peak memory and its exit status.
RunResult WaitChild(pid_t pid, Clock::time_point t0) {
  RunResult r;
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  r.peakMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// Runs fn in a child process, so that its peak memory is its own.
template <class Fn>
RunResult InChild(Fn fn) {
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  return WaitChild(pid, t0);
}

// Runs a program as a user would start it: spawned (not forked from this process, whose
// copied page tables would be timed too), output to `out`, its own peak memory reported.
RunResult RunProgram(std::vector<std::string> argv, const fs::path& out = "/dev/null") {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto t0 = Clock::now();
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return RunResult{};
  return WaitChild(pid, t0);
}

int EngineCrawl(const Setup& s) {
  qv::Installation install(s.engineRoot);
  auto& ctx = install.context();
  ix::RegisterBuiltinFilterClasses(ctx.classes);
  ix::RegisterBuiltinFilterExtensions(ctx.registry);
  ix::CatalogAdmin admin(ctx.registry, s.engineRoot);
  if (qv::Failed(admin.FindCatalog("System"))) {
    admin.AddCatalog("System", s.engineRoot / "System Volume Information");
    for (const auto& t : s.tops) admin.AddScope("System", t.string(), false);
  }
  // The properties the system's catalog caches, so rows carry all the client reads.
  for (const auto& [name, data] : qv::cihelper::kDocumentCatalogProperties) {
    ctx.registry.SetValue(qv::platform::Hive::LocalMachine, ix::PropertiesKey("System"), name,
                          qv::platform::RegValue::Sz(data));
  }
  ix::CatalogIndexer indexer(ctx, admin, "System");
  if (qv::Failed(indexer.Open())) return 2;
  return qv::Failed(indexer.Crawl()) ? 3 : 0;
}

void Report(benchmark::State& state, const RunResult& r, const fs::path& index) {
  state.counters["seconds"] = r.seconds;
  state.counters["peak_MiB"] = r.peakMiB;
  if (!index.empty()) state.counters["index_MiB"] = TreeBytes(index) / 1048576.0;
  if (r.status != 0) state.SkipWithError(("exit status " + std::to_string(r.status)).c_str());
}

void BM_EngineIndex(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  for (auto _ : state) {
    const RunResult r = InChild([&] { return EngineCrawl(s); });
    state.SetIterationTime(r.seconds);
    Report(state, r, s.engineRoot / "System Volume Information");
  }
}

void BM_RecollIndex(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty() || !s.haveRecoll) return state.SkipWithError("recollindex not installed");
  for (auto _ : state) {
    fs::create_directories(s.recollConf);
    std::ofstream conf(s.recollConf / "recoll.conf");
    conf << "topdirs =";
    for (const auto& t : s.tops) conf << " " << t.string();
    conf << "\n";
    conf.close();
    const RunResult r = RunProgram({"recollindex", "-c", s.recollConf.string(), "-z"});
    state.SetIterationTime(r.seconds);
    Report(state, r, s.recollConf / "xapiandb");
  }
}

void ChangeHundredFiles(const Setup& s) {
  // The same 100 files for both engines: the first 100 of the first copy.
  int n = 0;
  for (const auto& dir : {s.tops[0] / "d000"}) {
    for (const auto& e : fs::directory_iterator(dir)) {
      if (n++ == 100) break;
      // A fresh file replaces the (possibly hard-linked) old one.
      std::ifstream in(e.path());
      std::stringstream text;
      text << in.rdbuf() << "changed qvchanged\n";
      in.close();
      fs::remove(e.path());
      std::ofstream(e.path()) << text.str();
    }
  }
}

void BM_EngineReindex100(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  ChangeHundredFiles(s);
  for (auto _ : state) {
    const RunResult r = InChild([&] { return EngineCrawl(s); });
    state.SetIterationTime(r.seconds);
    Report(state, r, {});
  }
}

void BM_RecollReindex100(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty() || !s.haveRecoll) return state.SkipWithError("recollindex not installed");
  for (auto _ : state) {
    const RunResult r = RunProgram({"recollindex", "-c", s.recollConf.string()});
    state.SetIterationTime(r.seconds);
    Report(state, r, {});
  }
}

long MinorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

void Percentiles(benchmark::State& state, std::vector<double>& ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

// The text the client composes for one word in activation order over the files catalog:
// all 24 columns, the default path exclusions and the data-folder clause.
bool ClientText(qv::Installation& install, const ix::CatalogAdmin& admin,
                std::string_view word, std::string& text) {
  qv::client::FixedDateLocale dates{qv::client::DateOrder::MonthDayYear, '/', 0};
  qv::client::ComposeEnvironment env;
  if (qv::Failed(qv::client::MakeComposeEnvironment(install.context(), dates, &admin, env))) {
    return false;
  }
  qv::client::SearchParams params;
  params.searchWebHistory = false;
  qv::client::Messages messages;
  return qv::Succeeded(
      qv::client::ComposeCatalogQuery(word, false, &params, false, env, text, messages));
}

void BM_EngineWordQuery(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  const std::string word = kWords[state.range(0)];
  qv::Installation install(s.engineRoot);
  ix::CatalogAdmin admin(install.context().registry, s.engineRoot);
  ix::QueryExecutor exec(admin);
  std::string text;
  if (!ClientText(install, admin, word, text)) {
    return state.SkipWithError("the client cannot compose the query");
  }
  std::vector<double> ms;
  std::size_t rows = 0;
  // p50_ms is the query; read_p50_ms adds what a search then reads: the eight fields that
  // score every row, and a screenful (40) of whole rows.
  std::vector<double> readMs;
  for (auto _ : state) {
    ix::ResultSet rs;
    std::string error;
    const auto t0 = Clock::now();
    const qv::HRESULT hr = exec.Execute(text, {}, rs, error);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (qv::Failed(hr)) return state.SkipWithError(error.c_str());
    rows = rs.RowCount();
    double checksum = 0;
    for (std::size_t i = 0; i < rs.RowCount(); ++i) {
      for (std::size_t f : {0, 6, 7, 8, 9, 10, 11, 12}) checksum += rs.Field(i, f).d;
    }
    for (std::size_t i = 0; i < rs.RowCount() && i < 40; ++i) checksum += rs.RowAt(i).size();
    benchmark::DoNotOptimize(checksum);
    readMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  if (!readMs.empty()) {
    std::sort(readMs.begin(), readMs.end());
    state.counters["read_p50_ms"] = readMs[readMs.size() / 2];
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.SetLabel(word);
  if (static_cast<long>(rows) != s.docFreq[word]) {
    state.SkipWithError(("rows differ from the manifest: " + std::to_string(rows) + " vs " +
                         std::to_string(s.docFreq[word])).c_str());
  }
  Percentiles(state, ms);
}

// The floor under any word query of the engine: SQLite's full-text index alone listing the
// matching rows (no rank, no properties), and the same with SQLite's own bm25() per row. A
// query that ranks every match cannot cost less than the first.
void BM_FtsScanFloor(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  const std::string word = kWords[state.range(0) % std::size(kWords)];
  const bool bm25 = state.range(0) >= static_cast<long>(std::size(kWords));
  std::unique_ptr<ix::CatalogDb> db;
  if (qv::Failed(ix::CatalogDb::OpenForQuery(s.engineRoot / "System Volume Information", db))) {
    return state.SkipWithError("no catalog: run BM_EngineIndex first");
  }
  ix::Statement st;
  const std::string sql = bm25 ? "SELECT rowid, bm25(fts) FROM fts WHERE fts MATCH ?"
                               : "SELECT rowid FROM fts WHERE fts MATCH ?";
  if (qv::Failed(db->db().Prepare(sql, st))) return state.SkipWithError("cannot prepare");
  std::vector<double> ms;
  long rows = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    st.Bind(1, std::string_view("\"" + word + "\""));
    rows = 0;
    double sum = 0;
    while (st.Step() == SQLITE_ROW) {
      ++rows;
      if (bm25) sum += st.Real(1);
    }
    st.Reset();
    benchmark::DoNotOptimize(sum);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.SetLabel(word + (bm25 ? " bm25" : ""));
  Percentiles(state, ms);
}

// The same rows read from the index's pages by the word reader the search window uses, with
// each row's hits: what replaces the floor above for a one-word query.
void BM_WordReaderFloor(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  const std::string word = kWords[state.range(0)];
  std::unique_ptr<ix::CatalogDb> db;
  if (qv::Failed(ix::CatalogDb::OpenForQuery(s.engineRoot / "System Volume Information", db))) {
    return state.SkipWithError("no catalog: run BM_EngineIndex first");
  }
  ix::FtsWordReader reader(db->db().handle());
  std::vector<double> ms;
  std::size_t rows = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    std::span<const ix::WordPosting> postings;
    std::int64_t tableRows = 0, tableTokens = 0;
    if (reader.Read("\"" + word + "\"", postings, tableRows, tableTokens) != qv::S_OK) {
      return state.SkipWithError("the reader cannot read this catalog");
    }
    std::uint64_t hits = 0;
    for (const auto& p : postings) hits += p.hits;
    benchmark::DoNotOptimize(hits);
    rows = postings.size();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.SetLabel(word);
  Percentiles(state, ms);
}

// The seven marker words in turn, as a user's searches come: the p50 of a word query over
// words from a single hit to 30% of the documents. (The property cache loads on the second
// query and then serves every word; the first rounds are counted too.)
void BM_EngineWordMix(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  qv::Installation install(s.engineRoot);
  ix::CatalogAdmin admin(install.context().registry, s.engineRoot);
  ix::QueryExecutor exec(admin);
  std::vector<std::string> texts(std::size(kWords));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (!ClientText(install, admin, kWords[i], texts[i])) {
      return state.SkipWithError("the client cannot compose the query");
    }
  }
  std::vector<double> ms;
  std::size_t next = 0;
  for (auto _ : state) {
    ix::ResultSet rs;
    std::string error;
    const auto t0 = Clock::now();
    const qv::HRESULT hr = exec.Execute(texts[next++ % texts.size()], {}, rs, error);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (qv::Failed(hr)) return state.SkipWithError(error.c_str());
  }
  Percentiles(state, ms);
}

// The search window's path for one word in activation order: compose, run, score the rows
// with a ranking record, and read a screenful (40) of display rows as the list shows them.
void BM_SearchWordQuery(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  const std::string word = kWords[state.range(0)];
  qv::Installation install(s.engineRoot);
  ix::CatalogAdmin admin(install.context().registry, s.engineRoot);
  ix::QueryExecutor exec(admin);
  qv::client::FixedDateLocale dates{qv::client::DateOrder::MonthDayYear, '/', 0};
  qv::client::ComposeEnvironment env;
  if (qv::Failed(qv::client::MakeComposeEnvironment(install.context(), dates, &admin, env))) {
    return state.SkipWithError("no compose environment");
  }
  qv::BaseActivation activation(install.context());
  qv::client::ScoringContext scoring;
  scoring.activation = &activation;
  qv::client::SearchRequest request;
  request.queryText = word;
  request.params.searchWebHistory = false;
  std::vector<double> ms;
  std::size_t rows = 0;
  // Page faults per query after the first two (the property cache loads on the second): a
  // query that takes fresh memory each time pays for every page of it.
  long faultsBefore = 0;
  long counted = 0;
  for (auto _ : state) {
    if (ms.size() == 2) faultsBefore = MinorFaults();
    counted += ms.size() >= 2;
    qv::client::SearchResult result;
    const auto t0 = Clock::now();
    const qv::HRESULT hr = qv::client::RunSearch(request, env, exec, scoring, result);
    double checksum = 0;
    for (std::size_t i = 0; i < result.RowCount() && i < 40; ++i) {
      checksum += result.DisplayRow(i).size() + result.DisplayScore(i);
    }
    benchmark::DoNotOptimize(checksum);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (qv::Failed(hr)) return state.SkipWithError(result.detail.c_str());
    rows = result.RowCount();
  }
  if (counted) {
    state.counters["faults"] =
        static_cast<double>(MinorFaults() - faultsBefore) / static_cast<double>(counted);
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.SetLabel(word);
  Percentiles(state, ms);
}

// Whether the catalog has a snapshot of its property cache of its present state, which a
// process searching by itself maps (the search server leaves one).
bool SnapshotIsCurrent(const fs::path& location) {
  std::unique_ptr<ix::CatalogDb> db;
  if (qv::Failed(ix::CatalogDb::OpenForQuery(location, db))) return false;
  ix::ChangeStamp stamp;
  if (ix::ReadChangeStamp(db->db(), stamp) != qv::S_OK) return false;
  const fs::path file = ix::CatalogDb::DatabasePath(location);
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return false;
  stamp.file = st.st_ino;
  std::shared_ptr<const ix::PropertyCache> cache;
  return ix::PropertyCache::Open(file.parent_path() / ix::snapshot::kFileName, stamp,
                                 db->columns(), 0, cache) == qv::S_OK;
}

// QvSeek --print WORD --catalogs files --max 20 as a whole process, start included.
void BM_SeekPrint(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  const char* seek = std::getenv("QV_BENCH_QVSEEK");
  if (!seek) return state.SkipWithError("set QV_BENCH_QVSEEK to the QvSeek program");
  const std::string word = kWords[state.range(0)];
  setenv("QV_ROOT", s.engineRoot.c_str(), 1);
  std::vector<double> ms;
  for (auto _ : state) {
    const RunResult r =
        RunProgram({seek, "--print", word, "--catalogs", "files", "--max", "20", "--in-process"},
                   s.work / "qvseek.out");
    if (r.status != 0) return state.SkipWithError("QvSeek failed");
    ms.push_back(r.seconds * 1000.0);
  }
  state.counters["snapshot"] = SnapshotIsCurrent(s.engineRoot / "System Volume Information");
  state.SetLabel(word);
  Percentiles(state, ms);
}

// The same with a print server ("QvSeek --serve") running, as a user's session has one: the
// QvSeek process hands the search over. The server answers two searches before the runs are
// timed, and loads the catalog's property cache after the first.
void BM_SeekPrintServed(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty()) return state.SkipWithError(s.error.c_str());
  const char* seek = std::getenv("QV_BENCH_QVSEEK");
  if (!seek) return state.SkipWithError("set QV_BENCH_QVSEEK to the QvSeek program");
  const std::string word = kWords[state.range(0)];
  setenv("QV_ROOT", s.engineRoot.c_str(), 1);
  // The server's log says when it listens, and each search it served: runs it did not serve
  // (another server's stale socket, a declined search) must not be timed as served.
  const fs::path log = s.work / "qvseek-server.log";
  auto served = [&] {
    std::ifstream in(log);
    int n = 0;
    bool listening = false;
    for (std::string l; std::getline(in, l);) {
      listening |= l.find("serving") != std::string::npos;
      n += l.find("served search") != std::string::npos;
    }
    return listening ? n : -1;
  };
  std::vector<std::string> serve = {seek, "--serve", "--idle-minutes", "5"};
  std::vector<char*> args;
  for (auto& a : serve) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t server = 0;
  const int spawned = posix_spawnp(&server, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return state.SkipWithError("QvSeek --serve did not start");
  for (int i = 0; i < 400 && served() < 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  const std::vector<std::string> search = {seek, "--print", word, "--catalogs", "files",
                                           "--max", "20"};
  constexpr int kWarm = 2;
  for (int warm = 0; warm < kWarm; ++warm) RunProgram(search, s.work / "qvseek-served.out");
  std::vector<double> ms;
  for (auto _ : state) {
    const RunResult r = RunProgram(search, s.work / "qvseek-served.out");
    if (r.status != 0) {
      state.SkipWithError("QvSeek failed");
      break;
    }
    ms.push_back(r.seconds * 1000.0);
  }
  ::kill(server, SIGTERM);
  int status = 0;
  ::waitpid(server, &status, 0);
  if (served() != kWarm + static_cast<int>(ms.size())) {
    return state.SkipWithError("the server did not answer every search: see qvseek-server.log");
  }
  state.SetLabel(word);
  Percentiles(state, ms);
}

void BM_RecollPrint(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty() || !s.haveRecoll) return state.SkipWithError("recollq not installed");
  const std::string word = kWords[state.range(0)];
  std::vector<double> ms;
  for (auto _ : state) {
    const RunResult r = RunProgram({"recollq", "-c", s.recollConf.string(), "-n", "20", word},
                                   s.work / "recollq20.out");
    ms.push_back(r.seconds * 1000.0);
  }
  state.SetLabel(word);
  Percentiles(state, ms);
}

void BM_RecollWordQuery(benchmark::State& state) {
  auto& s = Get();
  if (!s.error.empty() || !s.haveRecoll) return state.SkipWithError("recollq not installed");
  const std::string word = kWords[state.range(0)];
  const fs::path out = s.work / "recollq.out";
  std::vector<double> ms;
  for (auto _ : state) {
    const RunResult r =
        RunProgram({"recollq", "-c", s.recollConf.string(), "-b", "-n", "0-1000000", word}, out);
    ms.push_back(r.seconds * 1000.0);
  }
  std::ifstream in(out);
  long lines = 0;
  for (std::string l; std::getline(in, l);) lines += !l.empty();
  state.counters["rows"] = static_cast<double>(lines);
  state.SetLabel(word);
  Percentiles(state, ms);
}

BENCHMARK(BM_EngineIndex)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_RecollIndex)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_EngineReindex100)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_RecollReindex100)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_EngineWordQuery)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FtsScanFloor)->DenseRange(0, 13)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WordReaderFloor)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineWordMix)->Iterations(700)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecollWordQuery)->DenseRange(0, 6)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchWordQuery)->DenseRange(0, 6)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeekPrint)->DenseRange(0, 6)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeekPrintServed)->DenseRange(0, 6)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecollPrint)->DenseRange(0, 6)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
