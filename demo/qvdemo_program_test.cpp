// The demo run as a user would with --keep: it finishes, its mail search finds the mail by a
// word of its body, and the folder it names keeps the state and the user's files for the
// tools; a folder with something in it already is refused and left alone.
#include <gtest/gtest.h>

#include <fstream>

#include "common/program_run.h"
#include "common/temp_dir.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

TEST(QvDemoProgram, KeepsItsFolderAndFindsTheMail) {
  TempDir dir;
  const fs::path kept = dir.path() / "demo";
  const ProgramOutput o = RunProgramToEnd({QVDEMO_PATH, "--keep", kept.string()}, dir.path() / "unused");
  ASSERT_EQ(o.status, 0) << o.err;
  // The mail search's row is the shortcut of a message in the store's folder.
  const auto search = o.out.find("--catalogs email");
  ASSERT_NE(search, std::string::npos) << o.out;
  const std::string after = o.out.substr(search);
  EXPECT_NE(after.find((kept / "root").string()), std::string::npos) << after;
  EXPECT_NE(after.find(".q6e"), std::string::npos) << after;
  for (const char* sub : {"root", "Documents", "Mail"}) {
    EXPECT_TRUE(fs::is_directory(kept / sub)) << sub;
  }
  EXPECT_EQ(fs::status(kept).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(QvDemoProgram, RefusesAFolderInUse) {
  TempDir dir;
  std::ofstream(dir.path() / "precious.txt") << "mine";
  const ProgramOutput o = RunProgramToEnd({QVDEMO_PATH, "--keep", dir.path().string()},
                                          dir.path() / "unused");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("--keep"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path() / "root"));
  EXPECT_TRUE(fs::exists(dir.path() / "precious.txt"));
  EXPECT_EQ(RunProgramToEnd({QVDEMO_PATH, "--keep"}, dir.path() / "unused").status, 1);
}

}  // namespace
}  // namespace qv
