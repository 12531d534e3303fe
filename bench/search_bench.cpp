// The search client's own work on a large answer: 10 000 rows that all match one word, in
// activation order. BM_EngineQuery is the catalog engine alone running the composed text;
// BM_WholeSearch is the client's whole search (compose both texts, run, score every row at
// the current moment, sort); the difference is the client's cost (goal: at most 2 ms).
// BM_Compose and BM_ScoreAndSort show the two parts of it on their own.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "client/query_composer.h"
#include "client/search_run.h"
#include "common/temp_dir.h"
#include "context/test_context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_db.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/ranking.h"

namespace {

namespace fs = std::filesystem;
namespace ix = qv::platform::indexing;
using namespace qv::client;

constexpr int kRows = 10000;

struct Fixture {
  qv::TestContext test;
  std::unique_ptr<ix::CatalogAdmin> admin;
  std::unique_ptr<ix::QueryExecutor> exec;
  qv::BaseActivation activation{test.ctx()};
  FixedDateLocale dates{DateOrder::MonthDayYear, '/', 0};
  ComposeEnvironment env;
  SearchRequest request;
  std::string sql;

  Fixture() {
    auto& reg = test.registry();
    const fs::path root = test.root();
    admin = std::make_unique<ix::CatalogAdmin>(reg, root);
    admin->AddCatalog("System", root / "catalog");
    admin->AddScope("System", (root / "docs").string(), false);
    std::vector<ix::CachedProperty> props;
    for (const auto& [name, data] : qv::cihelper::kDocumentCatalogProperties) {
      reg.SetValue(qv::platform::Hive::LocalMachine, ix::PropertiesKey("System"), name,
                   qv::platform::RegValue::Sz(data));
      ix::CachedProperty p;
      if (ix::ParseCachedProperty(name, data, p)) props.push_back(p);
    }
    qv::ULONG scope = 0;
    activation.ComputeScope(scope);
    std::unique_ptr<ix::CatalogDb> db;
    ix::CatalogDb::Open(root / "catalog", props, db);
    const qv::DATE now = test.clock().NowDate();
    {
      ix::Transaction tx(db->db());
      for (int i = 0; i < kRows; ++i) {
        ix::FileStat st;
        st.path = (root / "docs" / ("doc" + std::to_string(i) + ".txt")).string();
        st.size = 100;
        st.mtimeNs = i;
        st.write = now - i / 1000.0;
        ix::DocState state;
        db->NoteFile(st, 1, state);
        std::int64_t id = 0;
        db->FindDocument(st.path, id, state);
        ix::DocContent content;
        content.contents = "quarterly budget report number " + std::to_string(i);
        auto key = [](std::uint32_t pid) {
          return ix::PropertyKey(qv::ranking::kRankingFmtid, pid);
        };
        using PV = qv::platform::PropVariant;
        content.props = {{key(3), PV::UI4(i % 3 ? scope : 7)},
                         {key(8), PV::Date(now - (i % 97) / 24.0 - 0.01)},
                         {key(9), PV::UI4(60 + i % 50)},
                         {key(10), PV::UI4(300 + i % 70)},
                         {key(11), PV::Date(now - 3 - i % 11)},
                         {key(12), PV::UI4(600)},
                         {key(13), PV::UI4(2000)},
                         {key(4), PV::UI4(120)},
                         {key(6), PV::UI4(4)}};
        db->StoreDocument(id, content, ix::DocState::Filtered);
      }
      tx.Commit();
    }
    exec = std::make_unique<ix::QueryExecutor>(*admin);
    MakeComposeEnvironment(test.ctx(), dates, admin.get(), env);
    request.queryText = "budget";
    request.params.searchWebHistory = false;
    qv::client::Messages m;
    ComposeCatalogQuery(request.queryText, false, &request.params, false, env, sql, m);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_EngineQuery(benchmark::State& state) {
  auto& f = Shared();
  for (auto _ : state) {
    ix::ResultSet rs;
    std::string error;
    f.exec->Execute(f.sql, {}, rs, error);
    if (rs.RowCount() != kRows) state.SkipWithError("the engine did not return every row");
    benchmark::DoNotOptimize(rs);
  }
}
BENCHMARK(BM_EngineQuery)->Unit(benchmark::kMillisecond);

void BM_WholeSearch(benchmark::State& state) {
  auto& f = Shared();
  ScoringContext scoring;
  scoring.activation = &f.activation;
  for (auto _ : state) {
    SearchResult result;
    RunSearch(f.request, f.env, *f.exec, scoring, result);
    if (result.scores.size() != kRows) state.SkipWithError("not every row was scored");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_WholeSearch)->Unit(benchmark::kMillisecond);

void BM_Compose(benchmark::State& state) {
  auto& f = Shared();
  for (auto _ : state) {
    std::string a, b;
    qv::client::Messages m;
    ComposeCatalogQuery(f.request.queryText, false, &f.request.params, false, f.env, a, m);
    ComposeCatalogQuery(f.request.queryText, false, &f.request.params, true, f.env, b, m);
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_Compose)->Unit(benchmark::kMicrosecond);

void BM_ScoreAndSort(benchmark::State& state) {
  auto& f = Shared();
  ix::ResultSet rs;
  std::string error;
  f.exec->Execute(f.sql, {}, rs, error);
  for (auto _ : state) {
    auto scores = ScoreRows(rs, f.env.userScope, 500, f.activation);
    benchmark::DoNotOptimize(scores);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(rs.RowCount()));
}
BENCHMARK(BM_ScoreAndSort)->Unit(benchmark::kMillisecond);

// What a search in activation order now costs the client for a screenful: the rows with a
// ranking record scored, forty display rows merged and read.
void BM_ScoreShown(benchmark::State& state) {
  auto& f = Shared();
  for (auto _ : state) {
    ix::ResultSet rs;
    std::string error;
    f.exec->Execute(f.sql, {}, rs, error);
    ActivationOrder order;
    order.Start(rs, f.env.userScope, 500, f.activation);
    float sum = 0;
    for (std::size_t i = 0; i < 40; ++i) sum += order.Score(rs, i);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_ScoreShown)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
