#include "platform/process/named_event.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "common/temp_dir.h"

namespace qv::platform {
namespace {

constexpr std::string_view kName = "Local\\QV-TEST-EVENT";

TEST(NamedEvent, OpenersSeeTheCreatorsStateUntilItGoes) {
  TempDir dir;
  std::unique_ptr<NamedEvent> opened;
  EXPECT_EQ(NamedEvent::Open(dir.path(), kName, opened), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));

  std::unique_ptr<NamedEvent> created;
  ASSERT_EQ(NamedEvent::Create(dir.path(), kName, true, created), S_OK);
  struct stat st {};
  ASSERT_EQ(::stat((dir.path() / "QV-TEST-EVENT.event").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_EQ(NamedEvent::Open(dir.path(), kName, opened), S_OK);
  EXPECT_TRUE(opened->IsSet());
  EXPECT_EQ(created->Reset(), S_OK);
  EXPECT_FALSE(opened->IsSet());
  EXPECT_EQ(created->Set(), S_OK);
  EXPECT_TRUE(opened->IsSet());
  // A second creator in the session is refused while the first lives.
  std::unique_ptr<NamedEvent> second;
  EXPECT_EQ(NamedEvent::Create(dir.path(), kName, false, second),
            HresultFromWin32(win32::ERROR_ALREADY_EXISTS));

  EXPECT_TRUE(opened->Alive());
  created.reset();
  EXPECT_FALSE(opened->Alive());
  EXPECT_FALSE(opened->IsSet());
  std::unique_ptr<NamedEvent> again;
  EXPECT_EQ(NamedEvent::Open(dir.path(), kName, again), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
}

TEST(NamedEvent, AFileLeftByADeadCreatorIsNoEvent) {
  TempDir dir;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::unique_ptr<NamedEvent> e;
    if (NamedEvent::Create(dir.path(), kName, true, e) != S_OK) ::_exit(1);
    (void)e.release();  // dies holding it, as a crash would
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "QV-TEST-EVENT.event"));
  std::unique_ptr<NamedEvent> opened;
  EXPECT_EQ(NamedEvent::Open(dir.path(), kName, opened), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
  // And a new creator takes the name over.
  std::unique_ptr<NamedEvent> created;
  EXPECT_EQ(NamedEvent::Create(dir.path(), kName, false, created), S_OK);
}

TEST(NamedEvent, NamesThatLeaveTheFolderAreRefused) {
  TempDir dir;
  std::unique_ptr<NamedEvent> e;
  EXPECT_EQ(NamedEvent::Create(dir.path(), "Local\\a/b", true, e), E_INVALIDARG);
  EXPECT_EQ(NamedEvent::Create(dir.path(), "Local\\..", true, e), E_INVALIDARG);
  EXPECT_EQ(NamedEvent::Create(dir.path(), "Local\\", true, e), E_INVALIDARG);
  // A link planted under the name is not followed.
  std::filesystem::create_symlink(dir.path() / "elsewhere", dir.path() / "X.event");
  EXPECT_TRUE(Failed(NamedEvent::Create(dir.path(), "Local\\X", true, e)));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "elsewhere"));
}

}  // namespace
}  // namespace qv::platform
