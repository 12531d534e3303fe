// The URL cache: entries, copies, groups, damage and concurrent writers; downloads into it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>

#include "common/clock.h"
#include "common/temp_dir.h"
#include "platform/urlcache/file_io.h"
#include "platform/urlcache/url_cache.h"
#include "platform/urlcache/url_cache_format.h"
#include "platform/urlcache/url_download.h"

namespace qv::platform {
namespace {
namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class UrlCacheTest : public ::testing::Test {
 protected:
  UrlCacheTest() : clock_(133'000'000'000'000'000ull), cache_(dir_.path(), clock_) {}

  fs::path Put(std::string_view url, std::string_view body, CommitOptions o = {}) {
    fs::path f;
    EXPECT_EQ(cache_.CreateEntryFile(url, "htm", f), 0);
    std::ofstream(f, std::ios::binary) << body;
    EXPECT_EQ(cache_.CommitEntry(url, f, o), 0);
    return f;
  }

  TempDir dir_;
  ManualClock clock_;
  UrlCache cache_;
};

TEST_F(UrlCacheTest, CommittedEntryComesBackWithItsCopyAndSyncTime) {
  CommitOptions o;
  o.headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
  o.originalUrl = "http://example.org/";
  const fs::path f = Put("http://example.org/a/page.html?x=1", "<html>hi", o);
  EXPECT_TRUE(cache_.Contains(f));
  EXPECT_NE(f.filename().string().find("page[1].htm"), std::string::npos);

  CacheEntry e;
  ASSERT_EQ(cache_.RetrieveEntryFile("http://example.org/a/page.html?x=1#frag", e), 0);
  EXPECT_EQ(e.url, "http://example.org/a/page.html?x=1");
  EXPECT_EQ(e.localFile, f);
  EXPECT_EQ(e.headers, o.headers);
  EXPECT_EQ(e.originalUrl, o.originalUrl);
  EXPECT_EQ(e.size, 8u);
  EXPECT_EQ(e.lastSync, clock_.Now());
  EXPECT_EQ(cache_.GetEntry("http://example.org/other", e), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(cache_.GetEntry("", e), win32::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(cache_.GetEntry(std::string(3000, 'a'), e), win32::ERROR_INVALID_PARAMETER);
}

TEST_F(UrlCacheTest, RecommitReplacesTheCopyAndKeepsGroups) {
  const fs::path first = Put("http://h/x", "one");
  CacheGroupId g = 0;
  ASSERT_EQ(cache_.CreateGroup("G", g), 0);
  ASSERT_EQ(cache_.AddEntryToGroup("http://h/x", g), 0);
  ASSERT_EQ(cache_.AddEntryToGroup("http://h/x", g), 0);  // once only
  clock_.Advance(std::chrono::seconds(5));
  const fs::path second = Put("http://h/x", "two!");
  CacheEntry e;
  ASSERT_EQ(cache_.RetrieveEntryFile("http://h/x", e), 0);
  EXPECT_EQ(e.localFile, second);
  EXPECT_EQ(Slurp(e.localFile), "two!");
  EXPECT_EQ(e.groups, std::vector<CacheGroupId>{g});
  EXPECT_EQ(e.lastSync, clock_.Now());
  EXPECT_FALSE(fs::exists(first));
  ASSERT_EQ(cache_.DeleteEntry("http://h/x"), 0);
  EXPECT_FALSE(fs::exists(second));
  EXPECT_EQ(cache_.DeleteEntry("http://h/x"), win32::ERROR_FILE_NOT_FOUND);
}

TEST_F(UrlCacheTest, CopiesOutsideTheCacheAreRefused) {
  const fs::path outside = dir_.path() / "outside.htm";
  std::ofstream(outside) << "x";
  EXPECT_EQ(cache_.CommitEntry("http://h/x", outside, {}), win32::ERROR_ACCESS_DENIED);
  EXPECT_EQ(cache_.CommitEntry("http://h/x", cache_.folder() / ".." / "outside.htm", {}),
            win32::ERROR_ACCESS_DENIED);
  fs::create_directories(cache_.folder());
  fs::create_symlink(outside, cache_.folder() / "link.htm");
  EXPECT_FALSE(cache_.Contains(cache_.folder() / "link.htm"));
  EXPECT_EQ(cache_.CommitEntry("http://h/x", cache_.folder() / "link.htm", {}),
            win32::ERROR_ACCESS_DENIED);
  fs::path f;
  EXPECT_EQ(cache_.CreateEntryFile("http://h/x", "../x", f), win32::ERROR_INVALID_PARAMETER);
}

TEST_F(UrlCacheTest, DamagedIndexFilesReadAsMissingAndAreNotTrusted) {
  Put("http://h/a", "a");
  std::vector<std::string> urls;
  ASSERT_EQ(cache_.EnumEntries(urls), 0);
  ASSERT_EQ(urls.size(), 1u);
  for (const auto& de : fs::directory_iterator(cache_.folder() / "Index.QV")) {
    if (de.path().extension() == ".qvc") {
      auto bytes = Slurp(de.path());
      std::ofstream(de.path(), std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    }
  }
  CacheEntry e;
  EXPECT_EQ(cache_.GetEntry("http://h/a", e), win32::ERROR_FILE_NOT_FOUND);
  Put("http://h/a", "again");
  ASSERT_EQ(cache_.GetEntry("http://h/a", e), 0);
  EXPECT_EQ(Slurp(e.localFile), "again");
}

TEST_F(UrlCacheTest, UrlsWhoseKeysCollideKeepEntriesOfTheirOwn) {
  // Plant another URL's entry under the name this URL's hash gives.
  const fs::path index = cache_.folder() / "Index.QV";
  fs::create_directories(index);
  urlcache_format::StoredEntry other;
  other.entry.url = "http://h/other";
  other.copy = "Content.QV/00/other.htm";
  const auto otherBytes = urlcache_format::SerializeEntry(other);
  ASSERT_EQ(ReplaceFile(index / urlcache_format::IndexFileName("http://h/a", 0), otherBytes), 0);

  Put("http://h/a", "mine");
  EXPECT_TRUE(fs::exists(index / urlcache_format::IndexFileName("http://h/a", 1)));
  CacheEntry e;
  ASSERT_EQ(cache_.GetEntry("http://h/a", e), 0);
  EXPECT_EQ(Slurp(e.localFile), "mine");
  EXPECT_EQ(Slurp(index / urlcache_format::IndexFileName("http://h/a", 0)),
            std::string(otherBytes.begin(), otherBytes.end()));

  // A third name taken, then the middle one freed: the last moves into the gap, so lookups
  // that stop at the first free name still find it.
  ASSERT_EQ(ReplaceFile(index / urlcache_format::IndexFileName("http://h/a", 2), otherBytes), 0);
  ASSERT_EQ(cache_.DeleteEntry("http://h/a"), 0);
  EXPECT_TRUE(fs::exists(index / urlcache_format::IndexFileName("http://h/a", 1)));
  EXPECT_FALSE(fs::exists(index / urlcache_format::IndexFileName("http://h/a", 2)));
  EXPECT_EQ(cache_.GetEntry("http://h/a", e), win32::ERROR_FILE_NOT_FOUND);
  Put("http://h/a", "again");
  EXPECT_TRUE(fs::exists(index / urlcache_format::IndexFileName("http://h/a", 2)));
  ASSERT_EQ(cache_.GetEntry("http://h/a", e), 0);
  EXPECT_EQ(Slurp(e.localFile), "again");
}

// Sets a file's modification time to `when` (FILETIME).
void Touch(const fs::path& file, FileTime when) {
  const timespec t[2] = {FileTimeToTimespec(when), FileTimeToTimespec(when)};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), t, 0), 0);
}

TEST(UrlCacheSweep, OpeningSweepsCopiesNoEntryNamesAndDeadTemporaryFiles) {
  TempDir dir;
  ManualClock clock(SystemClock().Now());
  const FileTime t0 = clock.Now();
  fs::path committed, abandoned, young, replacedOld;
  {
    UrlCache cache(dir.path(), clock);
    ASSERT_EQ(cache.CreateEntryFile("http://h/kept", "htm", committed), 0);
    ASSERT_EQ(cache.CommitEntry("http://h/kept", committed, {}), 0);
    ASSERT_EQ(cache.CreateEntryFile("http://h/crashed", "htm", abandoned), 0);
    ASSERT_EQ(cache.CreateEntryFile("http://h/writing", "htm", young), 0);
  }
  const fs::path index = dir.path() / "InternetCache" / "Index.QV";
  const fs::path deadTemp = index / ".tmp-0a1b2c3d-0.qvc-Ab12Cd";
  std::ofstream(deadTemp) << "half an index file";
  for (const auto& f : {committed, abandoned, deadTemp}) Touch(f, t0 - kOrphanAge - 1);
  clock.SetNow(t0 + kSweepInterval);
  Touch(young, clock.Now() - kFileTimeTicksPerSecond);

  UrlCache later(dir.path(), clock);
  EXPECT_TRUE(fs::exists(committed));
  EXPECT_FALSE(fs::exists(abandoned));
  EXPECT_TRUE(fs::exists(young));  // its writer may still commit it
  EXPECT_FALSE(fs::exists(deadTemp));
  CacheEntry e;
  ASSERT_EQ(later.RetrieveEntryFile("http://h/kept", e), 0);
  EXPECT_EQ(e.localFile, committed);

  // The next sweep waits for its interval; SweepOrphans does it at once.
  Touch(young, t0 - kOrphanAge);
  UrlCache soon(dir.path(), clock);
  EXPECT_TRUE(fs::exists(young));
  ASSERT_EQ(soon.SweepOrphans(), 0);
  EXPECT_FALSE(fs::exists(young));
  EXPECT_TRUE(fs::exists(committed));
}

TEST(UrlCacheSweep, AnIndexThatCannotBeReadSweepsNoCopy) {
  TempDir dir;
  ManualClock clock(SystemClock().Now());
  UrlCache cache(dir.path(), clock);
  fs::path copy;
  ASSERT_EQ(cache.CreateEntryFile("http://h/a", "htm", copy), 0);
  ASSERT_EQ(cache.CommitEntry("http://h/a", copy, {}), 0);
  Touch(copy, clock.Now() - 2 * kOrphanAge);
  // An index file that is a folder cannot be read: the entry it may be is not known.
  for (const auto& de : fs::directory_iterator(cache.folder() / "Index.QV")) {
    if (de.path().extension() == ".qvc") fs::rename(de.path(), cache.folder() / "moved.qvc");
  }
  fs::create_directory(cache.folder() / "Index.QV" / "0000-0.qvc");
  EXPECT_NE(cache.SweepOrphans(), 0);
  EXPECT_TRUE(fs::exists(copy));
}

TEST(UrlCacheFormat, CountsAreBoundedByTheBytes) {
  urlcache_format::StoredEntry s;
  s.entry.url = "http://h/";
  s.entry.groups = {1, 2, 3};
  s.copy = "Content.QV/00/a[1].htm";
  auto bytes = urlcache_format::SerializeEntry(s);
  urlcache_format::StoredEntry back;
  ASSERT_TRUE(urlcache_format::ParseEntry(bytes, back));
  EXPECT_EQ(back.entry, s.entry);
  // A group count far beyond the file must not be believed.
  bytes[bytes.size() - 3 * 8 - 1] = 0x7F;
  EXPECT_FALSE(urlcache_format::ParseEntry(bytes, back));
  bytes = urlcache_format::SerializeEntry(s);
  bytes[8 + 3] = 0x7F;  // URL length
  EXPECT_FALSE(urlcache_format::ParseEntry(bytes, back));
  urlcache_format::StoredGroups g;
  g.groups = {{4, "QuillonL2"}};
  auto gb = urlcache_format::SerializeGroups(g);
  urlcache_format::StoredGroups gback;
  ASSERT_TRUE(urlcache_format::ParseGroups(gb, gback));
  EXPECT_EQ(gback.groups[0].name, "QuillonL2");
  gb.pop_back();
  EXPECT_FALSE(urlcache_format::ParseGroups(gb, gback));
}

TEST_F(UrlCacheTest, GroupsAreFoundWithoutCaseAndDeletedWithOrWithoutEntries) {
  CacheGroupId a = 0, b = 0;
  ASSERT_EQ(cache_.FindOrCreateGroup("QuillonL2", a), 0);
  ASSERT_EQ(cache_.FindOrCreateGroup("quillonl2", b), 0);
  EXPECT_EQ(a, b);
  std::vector<CacheGroup> groups;
  ASSERT_EQ(cache_.EnumGroups(groups), 0);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].name, "QuillonL2");
  EXPECT_EQ(cache_.AddEntryToGroup("http://h/none", a), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(cache_.AddEntryToGroup("http://h/none", a + 100), win32::ERROR_FILE_NOT_FOUND);

  Put("http://h/1", "1");
  Put("http://h/2", "2");
  ASSERT_EQ(cache_.AddEntryToGroup("http://h/1", a), 0);
  ASSERT_EQ(cache_.AddEntryToGroup("http://h/2", a), 0);
  CacheGroupId keep = 0;
  ASSERT_EQ(cache_.CreateGroup("keep", keep), 0);
  ASSERT_EQ(cache_.AddEntryToGroup("http://h/2", keep), 0);
  ASSERT_EQ(cache_.DeleteGroup(keep, false), 0);
  CacheEntry e;
  ASSERT_EQ(cache_.GetEntry("http://h/2", e), 0);
  EXPECT_EQ(e.groups, std::vector<CacheGroupId>{a});
  ASSERT_EQ(cache_.DeleteGroup(a, true), 0);
  EXPECT_EQ(cache_.GetEntry("http://h/1", e), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(cache_.GetEntry("http://h/2", e), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(cache_.DeleteGroup(a, true), win32::ERROR_FILE_NOT_FOUND);
}

TEST_F(UrlCacheTest, ConcurrentProcessesLoseNoEntryAndMakeOneGroup) {
  constexpr int kProcs = 4, kEach = 15;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      UrlCache cache(dir_.path(), clock_);
      bool ok = true;
      for (int i = 0; i < kEach; ++i) {
        const std::string url = "http://h/" + std::to_string(p) + "/" + std::to_string(i);
        fs::path f;
        CacheGroupId g = 0;
        ok = ok && cache.CreateEntryFile(url, "htm", f) == 0;
        ok = ok && cache.CommitEntry(url, f, {}) == 0;
        ok = ok && cache.FindOrCreateGroup("QuillonL2", g) == 0;
        ok = ok && cache.AddEntryToGroup(url, g) == 0;
      }
      ::_exit(ok ? 0 : 1);
    }
    kids.push_back(pid);
  }
  for (pid_t pid : kids) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> urls;
  ASSERT_EQ(cache_.EnumEntries(urls), 0);
  EXPECT_EQ(urls.size(), static_cast<std::size_t>(kProcs * kEach));
  std::vector<CacheGroup> groups;
  ASSERT_EQ(cache_.EnumGroups(groups), 0);
  ASSERT_EQ(groups.size(), 1u);
  for (const auto& u : urls) {
    CacheEntry e;
    ASSERT_EQ(cache_.GetEntry(u, e), 0);
    EXPECT_EQ(e.groups, std::vector<CacheGroupId>{groups[0].id}) << u;
  }
}

TEST_F(UrlCacheTest, ExclusiveCreationLeavesTheFirstWritersFile) {
  fs::create_directories(dir_.path() / "x");
  const fs::path target = dir_.path() / "x" / "f.bin";
  const std::vector<std::uint8_t> a{'a'}, b{'b'};
  EXPECT_EQ(CreateFileExclusive(target, a), 0);
  EXPECT_EQ(CreateFileExclusive(target, b), win32::ERROR_FILE_EXISTS);
  EXPECT_EQ(Slurp(target), "a");
  int files = 0;
  for ([[maybe_unused]] const auto& de : fs::directory_iterator(dir_.path() / "x")) ++files;
  EXPECT_EQ(files, 1);  // no temporary file left behind
}

TEST_F(UrlCacheTest, DataUrlsDownloadIntoTheCache) {
  auto handlers = ProtocolHandlers::Default();
  fs::path file;
  int checks = 0;
  auto progress = [&] {
    ++checks;
    return S_OK;
  };
  ASSERT_EQ(DownloadToCacheFile(cache_, *handlers, "data:text/html;base64,PGI+aGk8L2I+",
                                progress, file),
            S_OK);
  EXPECT_EQ(Slurp(file), "<b>hi</b>");
  EXPECT_GE(checks, 2);
  CacheEntry e;
  ASSERT_EQ(cache_.GetEntry("data:text/html;base64,PGI+aGk8L2I+", e), 0);
  EXPECT_NE(e.headers.find("Content-Type: text/html"), std::string::npos);

  ASSERT_EQ(DownloadToCacheFile(cache_, *handlers, "data:,a%20b", progress, file), S_OK);
  EXPECT_EQ(Slurp(file), "a b");
  EXPECT_EQ(DownloadToCacheFile(cache_, *handlers, "gopher://x/", progress, file),
            INET_E_UNKNOWN_PROTOCOL);
  EXPECT_TRUE(file.empty());
  const auto abort = [] { return E_ABORT; };
  EXPECT_EQ(DownloadToCacheFile(cache_, *handlers, "data:,zzz", abort, file), E_ABORT);
  EXPECT_EQ(cache_.GetEntry("data:,zzz", e), win32::ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace qv::platform
