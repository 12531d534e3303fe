#include "platform/scheduler/job_table.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace qv::platform {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

SystemTime At(std::int64_t ms) { return SystemTime(std::chrono::milliseconds(ms)); }

ScheduledJob Job(std::int64_t ms, std::vector<std::string> args = {"/opt/qv/QvUpdate", "1"}) {
  return ScheduledJob{At(ms), 1000, std::move(args)};
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

class JobTableTest : public ::testing::Test {
 protected:
  TempDir dir_;
  JobTable table_{JobTable::FolderUnder(dir_.path())};
};

TEST_F(JobTableTest, AwkwardArgumentsSurviveTheRoundTrip) {
  // Names on Linux may hold blanks, quotes, line feeds, percent signs and any high bytes.
  const ScheduledJob job =
      Job(1'700'000'000'123, {"/opt/q v/QvUpdate", "\"a b\nc%20\"d\"", "\t\x7f", "\xc3\xa9\xff"});
  ASSERT_EQ(table_.Add(job), S_OK);
  ASSERT_EQ(table_.Add(Job(5)), S_OK);
  std::vector<ScheduledJob> jobs;
  JobTableDamage damage;
  ASSERT_EQ(table_.List(jobs, &damage), S_OK);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0], job);
  EXPECT_EQ(jobs[1], Job(5));
  EXPECT_EQ(damage.badLines, 0u);
  // One job per line, whatever the arguments hold.
  const std::string text = ReadText(table_.path());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST_F(JobTableTest, StoreIsPrivateWhateverTheUmask) {
  const mode_t old = ::umask(0);
  const HRESULT hr = table_.Add(Job(1));
  ::umask(old);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(fs::status(table_.path()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(table_.path().parent_path()).permissions(), fs::perms::owner_all);
}

TEST_F(JobTableTest, RefusesJobsItCannotStoreAndStopsWhenFull) {
  EXPECT_EQ(table_.Add(Job(1, {})), E_INVALIDARG);
  EXPECT_EQ(table_.Add(Job(1, {"relative/prog"})), E_INVALIDARG);
  EXPECT_EQ(table_.Add(Job(1, {"/p", ""})), E_INVALIDARG);
  EXPECT_EQ(table_.Add(Job(1, {"/p", std::string("a\0b", 3)})), E_INVALIDARG);
  EXPECT_EQ(table_.Add(Job(1, {"/p", std::string(kMaxJobLineBytes, 'x')})), E_INVALIDARG);
  EXPECT_FALSE(fs::exists(table_.path()));

  std::vector<ScheduledJob> many(kMaxJobs, Job(7));
  WriteText((fs::create_directories(table_.path().parent_path()), table_.path()),
            FormatJobTable(many));
  EXPECT_EQ(table_.Add(Job(8)), HresultFromWin32(kErrorJobTableFull));
  std::vector<ScheduledJob> jobs;
  ASSERT_EQ(table_.List(jobs), S_OK);
  EXPECT_EQ(jobs.size(), kMaxJobs);
}

TEST_F(JobTableTest, TakeDueRemovesOnlyWhatIsDueAndGivesTheNextTime) {
  ASSERT_EQ(table_.Add(Job(3000, {"/p", "late"})), S_OK);
  ASSERT_EQ(table_.Add(Job(2000, {"/p", "b"})), S_OK);
  ASSERT_EQ(table_.Add(Job(1000, {"/p", "a"})), S_OK);
  ASSERT_EQ(table_.Add(Job(5000, {"/p", "later"})), S_OK);
  std::vector<ScheduledJob> due;
  std::optional<SystemTime> next;
  ASSERT_EQ(table_.TakeDue(At(2000), due, next), S_OK);
  ASSERT_EQ(due.size(), 2u);
  EXPECT_EQ(due[0].argv[1], "a");  // oldest first
  EXPECT_EQ(due[1].argv[1], "b");
  EXPECT_EQ(next, At(3000));
  // Taken jobs are gone from the stored table, not only from this object.
  JobTable other(JobTable::FolderUnder(dir_.path()));
  ASSERT_EQ(other.TakeDue(At(2000), due, next), S_OK);
  EXPECT_TRUE(due.empty());
  ASSERT_EQ(other.TakeDue(At(10'000), due, next), S_OK);
  EXPECT_EQ(due.size(), 2u);
  EXPECT_FALSE(next.has_value());
}

TEST_F(JobTableTest, DamagedLinesAreDroppedAloneAndSavedForInspection) {
  ASSERT_EQ(table_.Add(Job(1000, {"/p", "first"})), S_OK);
  ASSERT_EQ(table_.Add(Job(2000, {"/p", "second"})), S_OK);
  ASSERT_EQ(table_.Add(Job(3000, {"/p", "third"})), S_OK);
  std::string text = ReadText(table_.path());
  const std::size_t second = text.find("second");
  ASSERT_NE(second, std::string::npos);
  text[second] = 'S';  // one flipped byte: the checksum no longer matches
  text += "garbage without a checksum\n1 2 /p";  // and a torn tail
  WriteText(table_.path(), text);

  std::vector<ScheduledJob> due;
  std::optional<SystemTime> next;
  JobTableDamage damage;
  ASSERT_EQ(table_.TakeDue(At(1000), due, next, &damage), S_OK);
  EXPECT_EQ(damage.badLines, 3u);
  ASSERT_FALSE(damage.savedCopy.empty());
  EXPECT_EQ(ReadText(damage.savedCopy), text);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].argv[1], "first");
  EXPECT_EQ(next, At(3000));

  // The table was rewritten without the damage, so it is reported once.
  std::vector<ScheduledJob> jobs;
  ASSERT_EQ(table_.List(jobs, &damage), S_OK);
  EXPECT_EQ(damage.badLines, 0u);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].argv[1], "third");
}

TEST(JobTableTextTest, ReaderAcceptsOnlyWhatTheWriterWrites) {
  const std::string good = FormatJobTable(std::vector<ScheduledJob>{Job(1, {"/p", "a b"})});
  EXPECT_EQ(ParseJobTable(good).badLines, 0u);
  EXPECT_EQ(ParseJobTable(good).jobs.size(), 1u);
  // Header of another version: no job is made of it, the lines after it still count.
  std::string other = good;
  other.replace(0, kJobTableHeader.size(), "QvJobs 9");
  EXPECT_EQ(ParseJobTable(other).jobs.size(), 1u);
  EXPECT_EQ(ParseJobTable(other).badLines, 1u);
  // Non-canonical escapes would let two texts mean one job; they are refused.
  for (std::string_view bad : {"%61", "%2", "%2g", "%00", "%20%"}) {
    std::string line = "1 1000 /p " + std::string(bad);
    // A correct checksum, so that only the escape is at fault.
    std::uint32_t h = 2166136261u;
    for (unsigned char c : line) h = (h ^ c) * 16777619u;
    char sum[9];
    std::snprintf(sum, sizeof sum, "%08x", h);
    const auto parsed = ParseJobTable(std::string(kJobTableHeader) + "\n" + line + " " + sum + "\n");
    EXPECT_EQ(parsed.badLines, 1u) << bad;
  }
}

TEST_F(JobTableTest, JobWrittenBeforeAKillIsThereAfterIt) {
  // A child adds a job and is killed while it waits; the table is read afresh afterwards.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(ready[0]);
    JobTable table(JobTable::FolderUnder(dir_.path()));
    const char ok = table.Add(Job(42, {"/p", "kept"})) == S_OK ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(ok, 'y');
  std::vector<ScheduledJob> jobs;
  ASSERT_EQ(table_.List(jobs), S_OK);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].argv[1], "kept");
  EXPECT_FALSE(fs::exists(table_.path().string() + ".tmp"));
}

}  // namespace
}  // namespace qv::platform
