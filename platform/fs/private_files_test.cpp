// Private folders and files come out 0700 and 0600 whatever the umask of the calling process.
#include "platform/fs/private_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "common/temp_dir.h"
#include "platform/fs/umask_guard.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;

TEST(PrivateFiles, FoldersAreTheUsersWhateverTheUmaskAndParentsAreLeftAlone) {
  TempDir dir;
  fs::create_directory(dir.path() / "shared");
  ::chmod((dir.path() / "shared").c_str(), 0755);
  for (const mode_t mask : {mode_t{022}, mode_t{0}, mode_t{0277}}) {
    SCOPED_TRACE(mask);
    UmaskGuard guard(mask);
    const fs::path deep = dir.path() / "shared" / ("m" + std::to_string(mask)) / "a" / "b";
    ASSERT_FALSE(CreatePrivateFolders(deep));
    EXPECT_EQ(ModeOf(deep.c_str()), 0700);
    EXPECT_EQ(ModeOf(deep.parent_path().c_str()), 0700);
    EXPECT_EQ(ModeOf(deep.parent_path().parent_path().c_str()), 0700);
    EXPECT_FALSE(CreatePrivateFolders(deep));  // existing: nothing to do
  }
  EXPECT_EQ(ModeOf((dir.path() / "shared").c_str()), 0755);

  std::ofstream(dir.path() / "file") << "x";
  EXPECT_EQ(CreatePrivateFolders(dir.path() / "file" / "sub"), std::errc::not_a_directory);
}

TEST(PrivateFiles, FilesAreMadeOrNarrowedToTheUserAndKeepTheirBytes) {
  TempDir dir;
  UmaskGuard guard(022);
  const fs::path fresh = dir.path() / "fresh.db";
  ASSERT_FALSE(CreatePrivateFile(fresh));
  EXPECT_EQ(ModeOf(fresh.c_str()), 0600);
  EXPECT_EQ(fs::file_size(fresh), 0u);

  const fs::path old = dir.path() / "old.db";
  std::ofstream(old) << "kept";
  ::chmod(old.c_str(), 0644);
  ASSERT_FALSE(CreatePrivateFile(old));
  EXPECT_EQ(ModeOf(old.c_str()), 0600);
  std::ifstream in(old);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept");

  fs::create_symlink(old, dir.path() / "link.db");
  EXPECT_TRUE(CreatePrivateFile(dir.path() / "link.db"));  // a link is not followed
}

TEST(PrivateFiles, TheRootIsMadePrivateAndALooseOneNarrowedAndSaidSo) {
  TempDir dir;
  UmaskGuard guard(022);
  bool narrowed = true;
  const fs::path root = dir.path() / "data" / "quillon-vesper";
  ASSERT_FALSE(EnsurePrivateRoot(root, narrowed));
  EXPECT_FALSE(narrowed);
  EXPECT_EQ(ModeOf(root.c_str()), 0700);

  ::chmod(root.c_str(), 0755);
  ASSERT_FALSE(EnsurePrivateRoot(root, narrowed));
  EXPECT_TRUE(narrowed);
  EXPECT_EQ(ModeOf(root.c_str()), 0700);
  ASSERT_FALSE(EnsurePrivateRoot(root, narrowed));
  EXPECT_FALSE(narrowed);

  std::ofstream(dir.path() / "plain") << "x";
  EXPECT_TRUE(EnsurePrivateRoot(dir.path() / "plain", narrowed));
}

TEST(PrivateFiles, ProgramsNarrowTheirUmask) {
  UmaskGuard guard(022);
  RestrictUmask();
  EXPECT_EQ(::umask(022), 077u);
}

}  // namespace
}  // namespace qv::platform
