// The Linux sources of running documents and of the Recent folder: files held open by a
// window's process and its children, the recent-files list's parser, and its inotify watch.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/temp_dir.h"
#include "platform/desktop/proc_running_documents.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/desktop/xbel.h"
#include "platform/desktop/xbel_recent_folder.h"

extern char** environ;

namespace qv::platform {
namespace {

using namespace std::chrono_literals;

bool Holds(const std::vector<RunningDocument>& docs, const std::string& path) {
  for (const auto& d : docs) {
    if (d.path == path) return true;
  }
  return false;
}

TEST(ProcRunningDocumentsTest, FilesOfTheWindowProcessAndItsChildren) {
  TempDir dir;
  const std::string mine = (dir.path() / "mine.txt").string();
  const std::string childs = (dir.path() / "childs.txt").string();
  std::ofstream(mine) << "a";
  std::ofstream(childs) << "b";
  SimDesktop desk;
  ProcRunningDocuments docs(desk);
  std::vector<RunningDocument> out;
  const int fd = ::open(mine.c_str(), O_RDONLY | O_CLOEXEC);
  const int fd2 = ::open(mine.c_str(), O_RDONLY | O_CLOEXEC);  // twice: one instance
  ASSERT_GE(fd, 0);
  ASSERT_EQ(docs.Enumerate(out), S_OK);
  EXPECT_FALSE(Holds(out, mine));  // no window yet

  WindowState s;
  s.pid = ::getpid();
  s.rect = {0, 0, 10, 10};
  desk.CreateWindow(s);
  // A child holds the other file open; it counts for the window too.
  pid_t child = 0;
  const std::string cmd = "exec sleep 30 < '" + childs + "'";
  const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
  ASSERT_EQ(::posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    ASSERT_EQ(docs.Enumerate(out), S_OK);
    seen = Holds(out, childs);
    if (!seen) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(std::count_if(out.begin(), out.end(), [&](auto& d) { return d.path == mine; }), 1);
  for (const auto& d : out) {
    EXPECT_FALSE(IsSystemPath(d.path)) << d.path;
    EXPECT_EQ(d.key, DocumentKey(d.path));
  }
  ::kill(child, SIGTERM);
  ::waitpid(child, nullptr, 0);
  ::close(fd);
  ::close(fd2);
  ASSERT_EQ(docs.Enumerate(out), S_OK);
  EXPECT_FALSE(Holds(out, mine));
  EXPECT_FALSE(Holds(out, childs));
}

TEST(ProcRunningDocumentsTest, UnreadableProcessTableFails) {
  SimDesktop desk;
  WindowState s;
  s.pid = ::getpid();
  desk.CreateWindow(s);
  ProcRunningDocuments docs(desk, "/nonexistent-proc");
  std::vector<RunningDocument> out;
  EXPECT_TRUE(Failed(docs.Enumerate(out)));
  EXPECT_NE(DocumentKey(""), 0u);
}

TEST(XbelTest, ReadsBookmarksAndSurvivesDamage) {
  const std::string text =
      "<?xml version=\"1.0\"?>\n<xbel version=\"1.0\" xmlns:bookmark=\"x\">\n"
      "  <bookmark href=\"file:///home/u/a%20b.txt\" added=\"2025-01-01T10:00:00Z\"\n"
      "      modified='2025-01-02T10:00:00Z' visited=\"2025-01-03T10:00:00Z\">\n"
      "    <info><metadata><bookmark:applications/></metadata></info>\n"
      "  </bookmark>\n"
      "  <bookmark href=\"file:///x/T&amp;C&#x20;&#233;.odt\" modified=\"m\"/>\n"
      "  <bookmark href=\"file:///bad&bogus;\"/>\n"
      "  <bookmark href=\"file:///cut";
  bool complete = true;
  const auto b = ParseXbel(text, &complete);
  EXPECT_FALSE(complete);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0].href, "file:///home/u/a%20b.txt");
  EXPECT_EQ(b[0].modified, "2025-01-02T10:00:00Z");
  EXPECT_EQ(b[0].visited, "2025-01-03T10:00:00Z");
  EXPECT_EQ(b[1].href, "file:///x/T&C \xC3\xA9.odt");
  EXPECT_TRUE(ParseXbel("").empty());
  EXPECT_TRUE(ParseXbel("<bookmark").empty());
}

TEST(XbelTest, FileUrlsToLocalPaths) {
  std::string p;
  ASSERT_TRUE(LocalPathFromFileUrl("file:///home/u/a%20b.txt", p));
  EXPECT_EQ(p, "/home/u/a b.txt");
  ASSERT_TRUE(LocalPathFromFileUrl("FILE://localhost/x", p));
  EXPECT_EQ(p, "/x");
  EXPECT_FALSE(LocalPathFromFileUrl("file://server/share/x", p));
  EXPECT_FALSE(LocalPathFromFileUrl("https://example.com/x", p));
  EXPECT_FALSE(LocalPathFromFileUrl("file:///a%2", p));
  EXPECT_FALSE(LocalPathFromFileUrl("file:///a%zz", p));
  EXPECT_FALSE(LocalPathFromFileUrl("file:///a%00b", p));
  EXPECT_FALSE(LocalPathFromFileUrl("file:///" + std::string(PATH_MAX, 'a'), p));
  ASSERT_TRUE(LocalPathFromFileUrl("file:///" + std::string(1000, 'a'), p));  // beyond 260
}

std::string Bookmark(const std::string& path, const std::string& stamp) {
  return "<bookmark href=\"file://" + path + "\" added=\"a\" modified=\"" + stamp +
         "\" visited=\"v\"></bookmark>\n";
}

void WriteList(const std::filesystem::path& dir, const std::string& body) {
  // The desktop writes a new file and renames it over the list.
  const auto tmp = dir / "recently-used.xbel.tmp";
  std::ofstream(tmp) << "<xbel version=\"1.0\">\n" << body << "</xbel>\n";
  std::filesystem::rename(tmp, dir / "recently-used.xbel");
}

HRESULT ReadSoon(XbelRecentFolder& f, RecentBatch& batch) {
  for (int i = 0; i < 50; ++i) {
    f.Wait(100ms);
    const HRESULT hr = f.Read(batch);
    if (hr != S_FALSE) return hr;
  }
  return S_FALSE;
}

TEST(XbelRecentFolderTest, NewAndRenewedBookmarksAreChanges) {
  TempDir dir;
  WriteList(dir.path(), Bookmark("/old/existing.txt", "1"));
  XbelRecentFolder folder(dir.path());
  ASSERT_EQ(folder.Open(), S_OK);
  RecentBatch batch;
  EXPECT_EQ(folder.Read(batch), S_FALSE);  // what was there before is not news

  WriteList(dir.path(), Bookmark("/old/existing.txt", "1") + Bookmark("/new/a%20b.txt", "1"));
  ASSERT_EQ(ReadSoon(folder, batch), S_OK);
  ASSERT_EQ(batch.changes.size(), 1u);
  EXPECT_EQ(batch.changes[0].action, kRecentActionAdded);
  EXPECT_EQ(batch.changes[0].name, "a b.txt.lnk");
  std::string target;
  ASSERT_EQ(folder.Resolve(batch.changes[0], target), S_OK);
  EXPECT_EQ(target, "/new/a b.txt");

  WriteList(dir.path(), Bookmark("/old/existing.txt", "2") + Bookmark("/new/a%20b.txt", "1"));
  ASSERT_EQ(ReadSoon(folder, batch), S_OK);
  ASSERT_EQ(batch.changes.size(), 1u);
  EXPECT_EQ(batch.changes[0].action, kRecentActionModified);
  EXPECT_EQ(batch.changes[0].name, "existing.txt.lnk");

  // A damaged list forgets nothing: the bookmark that reappears is not new.
  WriteList(dir.path(), "<bookmark href=");
  (void)ReadSoon(folder, batch);
  WriteList(dir.path(), Bookmark("/old/existing.txt", "2") + Bookmark("/new/a%20b.txt", "1"));
  ASSERT_EQ(ReadSoon(folder, batch), S_OK);
  EXPECT_TRUE(batch.changes.empty());

  // Wake ends a wait at once.
  const auto t0 = std::chrono::steady_clock::now();
  folder.Wake();
  folder.Wait(10s);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
}

TEST(XbelRecentFolderTest, MissingFolderCannotBeOpened) {
  XbelRecentFolder folder("/nonexistent/folder");
  EXPECT_TRUE(Failed(folder.Open()));
  RecentBatch batch;
  EXPECT_TRUE(Failed(folder.Read(batch)));
}

}  // namespace
}  // namespace qv::platform
