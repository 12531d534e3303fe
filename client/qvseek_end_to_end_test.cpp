// The whole road of a search: files visited through qvrank, indexed by qvindex, searched by
// QvSeek --print; the printed order is the order the visits' activations predict.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "common/program_run.h"
#include "context/context.h"
#include "common/temp_dir.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/ranking/ranking.h"


namespace qv::client {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;

using Output = ProgramOutput;

Output RunTool(const fs::path& root, std::vector<std::string> args) {
  return RunProgramToEnd(std::move(args), root);
}

std::string Iso(std::chrono::system_clock::time_point t) {
  const std::time_t s = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&s, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// The file names in the printed rows, top to bottom.
std::vector<std::string> PrintedOrder(const std::string& out, const fs::path& docs) {
  std::vector<std::string> names;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto at = line.find(docs.string() + "/");
    if (at == std::string::npos) continue;
    const auto start = at + docs.string().size() + 1;
    names.push_back(line.substr(start, line.find(' ', start) - start));
  }
  return names;
}

struct Visit {
  std::string name;
  int endedSecondsAgo;
  int seconds;
};

TEST(QvSeekEndToEnd, RankedByPredictedActivation) {
  TempDir dir;
  const fs::path root = dir.path() / "root";
  const fs::path docs = dir.path() / "it's docs";  // an apostrophe in every query's folder
  fs::create_directories(docs);
  const std::vector<Visit> visits = {
      {"hour.txt", 3600, 100},        // equal length to "day.txt", more recent: must win
      {"day.txt", 86400, 100},
      {"recent.txt", 600, 30},
      {"long.txt", 3 * 3600, 1000},
      {"week.txt", 7 * 86400, 2000},
  };
  for (const auto& v : visits) std::ofstream(docs / v.name) << "quarterly budget report\n";
  std::ofstream(docs / "never.txt") << "quarterly budget report\n";
  std::ofstream(docs / "other.txt") << "nothing to see\n";

  {
    // The file catalog, with the ranking properties cached, over the documents only.
    Installation install(root);
    auto& reg = install.context().registry;
    ix::CatalogAdmin admin(reg, root);
    ASSERT_EQ(admin.AddCatalog("System", root / "catalog"), S_OK);
    ASSERT_EQ(admin.AddScope("System", docs.string(), false), S_OK);
    for (const auto& [name, data] : cihelper::kDocumentCatalogProperties) {
      ASSERT_EQ(reg.SetValue(platform::Hive::LocalMachine, ix::PropertiesKey("System"), name,
                             platform::RegValue::Sz(data)),
                0);
    }
  }

  const auto now = std::chrono::system_clock::now();
  for (const auto& v : visits) {
    const auto end = now - std::chrono::seconds(v.endedSecondsAgo);
    const Output r = RunTool(root, {QVRANK_PATH, "visit", (docs / v.name).string(), "--start",
                                Iso(end - std::chrono::seconds(v.seconds)), "--end", Iso(end),
                                "--units", std::to_string(v.seconds * 5)});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(r.out.find("ranked"), std::string::npos) << r.out;
  }
  const Output indexed = RunTool(root, {QVINDEX_PATH, "rescan", "System"});
  ASSERT_EQ(indexed.status, 0) << indexed.err;

  // The order the activations predict (every row has the same text, so the same rank).
  std::vector<std::pair<double, std::string>> predicted;
  for (const auto& v : visits) {
    const double a = ranking::TripleActivation(static_cast<std::uint32_t>(v.endedSecondsAgo),
                                               static_cast<std::uint32_t>(v.seconds),
                                               static_cast<std::uint32_t>(v.seconds * 5));
    predicted.emplace_back(a, v.name);
  }
  std::sort(predicted.rbegin(), predicted.rend());
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < predicted.size(); ++i) {
    if (i) {
      ASSERT_GT(predicted[i - 1].first, predicted[i].first * 1.05);  // no near ties
    }
    expected.push_back(predicted[i].second);
  }
  ASSERT_LT(std::find(expected.begin(), expected.end(), "hour.txt"),
            std::find(expected.begin(), expected.end(), "day.txt"));

  // The empty query lists the visited items alone.
  Output r = RunTool(root, {QVSEEK_PATH, "--print", "--catalogs", "files"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PrintedOrder(r.out, docs), expected) << r.out;

  // A word: the never-visited file that contains it comes last, with a lighter bar.
  r = RunTool(root, {QVSEEK_PATH, "--print", "budget", "--catalogs", "files"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto withNever = expected;
  withNever.push_back("never.txt");
  EXPECT_EQ(PrintedOrder(r.out, docs), withNever) << r.out;
  EXPECT_NE(r.out.find("\u2588"), std::string::npos);  // full blocks for ranked rows
  EXPECT_NE(r.out.find("\u2591"), std::string::npos);  // shade for the unranked one

  // A folder with an apostrophe, and the visits order.
  r = RunTool(root, {QVSEEK_PATH, "--print", "dir:\"" + docs.string() + "\" quarterly", "--catalogs",
                 "files", "--sort", "visits"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PrintedOrder(r.out, docs).size(), visits.size() + 1) << r.out;

  // Refusals explain themselves.
  r = RunTool(root, {QVSEEK_PATH, "--print", "-budget report", "--catalogs", "files"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("excluded"), std::string::npos) << r.err;
  r = RunTool(root, {QVSEEK_PATH, "--print", "** ?!", "--catalogs", "files"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no word to search for"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("0x8004"), std::string::npos) << r.err;  // no bare error code
  // Blanks are the empty query: the visited items alone.
  r = RunTool(root, {QVSEEK_PATH, "--print", "  \t ", "--catalogs", "files"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PrintedOrder(r.out, docs), expected) << r.out;
  r = RunTool(root, {QVSEEK_PATH, "--print", "--sort", "bogus"});
  EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace qv::client
