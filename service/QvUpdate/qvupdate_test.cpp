#include "service/QvUpdate/qvupdate.h"

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/program_run.h"
#include "context/test_context.h"
#include "provider/ranking/file_ranking.h"
#include "service/QvUpdate/exit_codes.h"

namespace qv::update {
namespace {


class QvUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRankingClasses(tc_.ctx());
    file_ = (tc_.root() / "notes.txt").string();
    std::ofstream(file_) << "notes";
    ASSERT_EQ(FileRanking(tc_.ctx()).get_CurrentScope(&scope_), S_OK);
  }
  std::vector<std::string> Args(std::string retry = "1") const {
    char scope[9];
    std::snprintf(scope, sizeof scope, "%x", scope_);
    // 46000.5 (2025-12-09 12:00 UTC) and a minute later.
    return {"QvUpdate", "\"" + file_ + "\"", "5", "1", "40e67610", "0", "40e67610",
            "5b05b06", "258", "258", scope, std::move(retry)};
  }
  HRESULT Run(const std::vector<std::string>& args) {
    std::vector<std::string_view> views(args.begin(), args.end());
    return RunUpdate(tc_.ctx(), views);
  }
  ULONG Visits() {
    VARIANT_BOOL valid = VARIANT_FALSE;
    ULONG visits = 0;
    FileRanking fr(tc_.ctx());
    if (fr.GetRankingSet(&file_, &valid, nullptr, nullptr, nullptr, nullptr, &visits, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != S_OK ||
        valid != VARIANT_TRUE) {
      return 0;
    }
    return visits;
  }

  TestContext tc_;
  std::string file_;
  ULONG scope_ = 0;
};

TEST_F(QvUpdateTest, WritesTheRecordThroughTheStore) {
  ASSERT_EQ(Run(Args()), S_OK);
  EXPECT_EQ(Visits(), 1u);
  EXPECT_TRUE(tc_.EventIds().empty());
}

TEST_F(QvUpdateTest, FailureIsLoggedWithTheWholeResult) {
  EXPECT_EQ(Run(Args("0")), E_INVALIDARG);
  tc_.classes().Unregister(CLSID_FileRanking);
  EXPECT_EQ(Run(Args()), REGDB_E_CLASSNOTREG);
  const auto events = tc_.eventLog().ReadAll();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].eventId, kEventUpdateFailed);
  EXPECT_EQ(events[0].strings.at(1), "0x80070057");
  EXPECT_EQ(events[1].strings.at(0), file_);
  EXPECT_EQ(events[1].strings.at(1), "0x80040154");
  EXPECT_EQ(events[1].strings.at(2), std::to_string(kExitClassNotAvailable));
  EXPECT_EQ(Visits(), 0u);
}

TEST(ExitCodeTest, EveryResultGetsADistinctSmallCode) {
  EXPECT_EQ(ExitCodeFor(S_OK), 0);
  EXPECT_EQ(ExitCodeFor(S_FALSE), 1);
  EXPECT_EQ(ExitCodeFor(E_INVALIDARG), 2);
  EXPECT_EQ(ExitCodeFor(STG_E_LOCKVIOLATION), kExitLocked);
  EXPECT_EQ(ExitCodeFor(HresultFromWin32(win32::ERROR_FILE_NOT_FOUND)), kExitNotFound);
  // An HRESULT whose low byte is 0 must not read as success once cut to 8 bits.
  EXPECT_EQ(ExitCodeFor(MakeHr(0x80070100)), kExitOtherError);
  EXPECT_EQ(ExitCodeFor(MakeHr(0x00040000)), kExitOtherSuccess);
}

int RunProgram(std::vector<std::string> args, const std::filesystem::path& root) {
  args.insert(args.begin(), QVUPDATE_PATH);
  return RunProgramToEnd(std::move(args), root).status;
}

TEST_F(QvUpdateTest, ProgramMapsItsResultToTheDocumentedExitCode) {
  EXPECT_EQ(RunProgram({"--help"}, tc_.root()), 0);
  std::vector<std::string> args = Args();
  args.erase(args.begin());
  args[10] = "0";
  EXPECT_EQ(RunProgram(args, tc_.root()), kExitBadArguments);
  ASSERT_EQ(tc_.EventIds(), std::vector<std::uint32_t>{kEventUpdateFailed});
  EXPECT_EQ(RunProgram({}, tc_.root()), kExitBadArguments);
}

}  // namespace
}  // namespace qv::update
