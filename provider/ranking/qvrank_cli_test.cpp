#include "provider/ranking/qvrank_cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <fstream>
#include <sstream>

#include "context/test_context.h"
#include "platform/propset/property_store.h"
#include "provider/ranking/file_ranking.h"

namespace qv {
namespace {

class QvrankTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRankingClasses(tc.ctx());
    file = (tc.root() / "notes.txt").string();
    std::ofstream(file) << "notes";
  }
  int Run(std::vector<std::string_view> args) {
    out.str("");
    err.str("");
    return RunQvrank(args, tc.ctx(), out, err);
  }
  std::map<std::string, std::string> Fields() {
    std::map<std::string, std::string> m;
    std::istringstream in(out.str());
    std::string line;
    while (std::getline(in, line)) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
  }
  TestContext tc;
  std::string file;
  std::ostringstream out, err;
};

TEST_F(QvrankTest, VisitThenShowPrintsEveryFieldAndTheCurrentActivation) {
  ASSERT_EQ(Run({"show", file}), kExitOk);
  EXPECT_EQ(out.str(), "valid=0\n");
  tc.clock().SetNowDate(*ParseIsoDate("2025-12-09T12:00:00Z"));
  ASSERT_EQ(Run({"visit", file, "--start", "2025-12-09T10:00:00Z", "--end",
                 "2025-12-09T10:10:00Z", "--working", "300"}),
            kExitOk)
      << err.str();
  ASSERT_EQ(Run({"show", file}), kExitOk) << err.str();
  auto f = Fields();
  EXPECT_EQ(f["valid"], "1");
  EXPECT_EQ(f["working"], "300");
  EXPECT_EQ(f["active"], "600");
  EXPECT_EQ(f["visits"], "1");
  EXPECT_EQ(f["first"], "2025-12-09T10:00:00Z");
  EXPECT_EQ(f["lastend"], "2025-12-09T10:10:00Z");
  EXPECT_EQ(f["lastT"], "600");
  EXPECT_EQ(f["lastN"], "1500");  // working seconds x 5
  EXPECT_EQ(f["blendedend"], "0");
  EXPECT_EQ(f["searchkey"].size(), 38u);
  // 6600 s after the end: 2·1500·(√7200 − √6600)/600.
  EXPECT_NEAR(std::stod(f["activation"]), 5.0 * (std::sqrt(7200.0) - std::sqrt(6600.0)), 1e-3);
  EXPECT_EQ(f["bar"], std::to_string(ranking::ActivationScale(std::stod(f["activation"]))));
  ASSERT_EQ(Run({"delete", file}), kExitOk);
  ASSERT_EQ(Run({"show", file}), kExitOk);
  EXPECT_EQ(out.str(), "valid=0\n");
}

TEST_F(QvrankTest, ActivationAndScaleCommandsMatchTheClasses) {
  ASSERT_EQ(Run({"activation", "--at", "2025-01-01T01:00:00Z", "2025-01-01T00:00:00Z", "1", "100",
                 "0", "0", "0"}),
            kExitOk);
  EXPECT_NEAR(std::stod(out.str()), 0.016552, 1e-5);
  ASSERT_EQ(Run({"scale", "1"}), kExitOk);
  EXPECT_EQ(out.str(), "50\n");
  ASSERT_EQ(Run({"scale", "0.001"}), kExitOk);
  EXPECT_EQ(out.str(), "0\n");
}

TEST_F(QvrankTest, BadArgumentsSayWhatIsWrongAndFailuresPrintTheHresult) {
  EXPECT_EQ(Run({}), kExitUsage);
  EXPECT_EQ(Run({"frobnicate"}), kExitUsage);
  EXPECT_NE(err.str().find("--help"), std::string::npos);
  EXPECT_EQ(Run({"visit", file, "--start", "yesterday", "--end", "2025-01-01T00:00:00Z"}),
            kExitUsage);
  EXPECT_EQ(Run({"visit", file, "--start", "2025-01-01T00:00:10Z", "--end",
                 "2025-01-01T00:00:00Z"}),
            kExitUsage);
  EXPECT_EQ(Run({"visit", file, "--start", "2025-01-01T00:00:00Z"}), kExitUsage);
  EXPECT_EQ(Run({"visit", file, "--start", "2025-01-01T00:00:00Z", "--end",
                 "2025-01-01T00:01:00Z", "--working", "-3"}),
            kExitUsage);
  EXPECT_EQ(Run({"scale", "lots"}), kExitUsage);
  // A visit shorter than a second is refused by the arithmetic, and the HRESULT is shown.
  EXPECT_EQ(Run({"visit", file, "--start", "2025-01-01T00:00:00Z", "--end",
                 "2025-01-01T00:00:00.500Z"}),
            kExitFailed);
  EXPECT_NE(err.str().find("0x80070057"), std::string::npos);
  EXPECT_EQ(Run({"show", (tc.root() / "absent").string()}), kExitFailed);
  ASSERT_EQ(Run({"--help"}), kExitOk);
  EXPECT_NE(out.str().find("Usage: qvrank"), std::string::npos);
}

// A visit that records nothing is a failure with the reason, never "done".
TEST_F(QvrankTest, AVisitThatRecordsNothingFailsAndSaysWhy) {
  const auto visit = [&](const std::string& f) {
    return Run({"visit", f, "--start", "2025-01-01T00:00:00Z", "--end", "2025-01-01T00:02:00Z"});
  };
  EXPECT_EQ(visit((tc.root() / "absent.txt").string()), kExitFailed);
  EXPECT_NE(err.str().find("does not exist"), std::string::npos) << err.str();
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(visit("/dev/null"), kExitFailed);
  EXPECT_NE(err.str().find("not a regular file"), std::string::npos) << err.str();
  const std::string readOnly = (tc.root() / "ro.txt").string();
  std::ofstream(readOnly) << "x";
  ::chmod(readOnly.c_str(), 0444);
  EXPECT_EQ(visit(readOnly), kExitFailed);
  EXPECT_NE(err.str().find("read-only"), std::string::npos) << err.str();
  EXPECT_EQ(visit(""), kExitUsage);
  EXPECT_EQ(Run({"show", ""}), kExitUsage);
  EXPECT_EQ(Run({"delete", ""}), kExitUsage);
  EXPECT_EQ(visit(file), kExitOk) << err.str();
}

// Says what the ranking service was asked and answers as told.
class ListenerStub final : public IKivListener {
 public:
  HRESULT UpdatePending(const std::string* f, ULONG, ULONG, DATE, DATE, ULONG, ULONG, ULONG,
                        ULONG, const std::string*) override {
    files.push_back(f ? *f : "");
    return result;
  }
  HRESULT CfgVerify(const std::string*, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT DeleteStale(const std::string*) override { return E_NOTIMPL; }
  HRESULT OtlProfile(const std::string*, const std::string*, const std::string*) override {
    return E_NOTIMPL;
  }
  HRESULT OtlStopScope(const std::string*) override { return E_NOTIMPL; }
  std::vector<std::string> files;
  HRESULT result = S_OK;
};

TEST_F(QvrankTest, AVisitToALockedFileIsDeferredToTheRankingService) {
  const auto visit = [&] {
    return Run({"visit", file, "--start", "2025-01-01T00:00:00Z", "--end", "2025-01-01T00:02:00Z"});
  };
  std::unique_ptr<platform::PropertyStorage> holder;
  ASSERT_EQ(platform::PropertyStorage::Open(
                file, platform::PropertyStorage::Mode::ReadWriteExclusive, holder),
            S_OK);
  // No service to hand it to: the visit is lost, and that is a failure.
  EXPECT_EQ(visit(), kExitFailed);
  EXPECT_NE(err.str().find("0x80040154"), std::string::npos) << err.str();

  auto stub = std::make_shared<ListenerStub>();
  tc.classes().Register(CLSID_KivListener, "", "", [stub](std::shared_ptr<platform::ComObject>& o) {
    o = stub;
    return S_OK;
  });
  ASSERT_EQ(visit(), kExitOk) << err.str();
  EXPECT_NE(out.str().find("deferred: "), std::string::npos) << out.str();
  EXPECT_EQ(stub->files, std::vector<std::string>{file});
  // The service refusing or giving up is no success.
  stub->result = S_FALSE;
  EXPECT_EQ(visit(), kExitFailed);
  EXPECT_NE(err.str().find("gave up"), std::string::npos) << err.str();
  stub->result = E_ACCESSDENIED;
  EXPECT_EQ(visit(), kExitFailed);
  EXPECT_NE(err.str().find("ranking service failed: 0x80070005"), std::string::npos) << err.str();
  // Once the file is free the visit is recorded at once, not handed over.
  holder.reset();
  EXPECT_EQ(visit(), kExitOk);
  EXPECT_NE(out.str().find("ranked: "), std::string::npos) << out.str();
  EXPECT_EQ(stub->files.size(), 3u);
}

// A name with a line break cannot add a line of its own to the output.
TEST_F(QvrankTest, ShowPrintsFileNamesWithTheirControlCharactersEscaped) {
  const std::string forged = (tc.root() / "a\nvalid=1\nvisits=99\t\\.txt").string();
  std::ofstream(forged) << "x";
  ASSERT_EQ(Run({"visit", forged, "--start", "2025-01-01T00:00:00Z", "--end",
                 "2025-01-01T00:02:00Z"}),
            kExitOk)
      << err.str();
  EXPECT_EQ(out.str().find('\n'), out.str().size() - 1) << out.str();
  ASSERT_EQ(Run({"show", forged, file}), kExitOk) << err.str();
  std::istringstream lines(out.str());
  std::string line;
  int visitsLines = 0;
  while (std::getline(lines, line)) visitsLines += line.rfind("visits=", 0) == 0;
  EXPECT_EQ(visitsLines, 1) << out.str();
  EXPECT_NE(out.str().find("file=" + (tc.root() / "a\\x0Avalid=1\\x0Avisits=99\\x09\\\\.txt").string()),
            std::string::npos)
      << out.str();
}

TEST(QvrankProgram, HonoursQvRootAndRanksARealFile) {
  TempDir dir;
  const auto file = dir.path() / "doc.txt";
  std::ofstream(file) << "hello";
  const std::string root = (dir.path() / "root").string();
  const std::string cmd = std::string("QV_ROOT=") + root + " " + QVRANK_PATH + " visit " +
                          file.string() +
                          " --start 2025-01-01T00:00:00Z --end 2025-01-01T00:02:00Z > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string show = std::string("QV_ROOT=") + root + " " + QVRANK_PATH + " show " +
                           file.string() + " > " + (dir.path() / "out").string();
  ASSERT_EQ(std::system(show.c_str()), 0);
  std::ifstream in(dir.path() / "out");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("visits=1\n"), std::string::npos) << text.str();
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(root) / "registry"));
}

}  // namespace
}  // namespace qv
