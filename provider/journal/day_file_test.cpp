#include "provider/journal/day_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>
#include <thread>

#include "common/clock.h"
#include "common/temp_dir.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/day_file_writer.h"
#include "provider/journal/unique_fd.h"

namespace qv::journal {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A payload that looks like a property-set stream (byte order mark, version 0).
Bytes Payload(std::uint8_t fill, std::size_t size = 40) {
  Bytes p(size, fill);
  p[0] = 0xFE;
  p[1] = 0xFF;
  p[2] = 0;
  p[3] = 0;
  return p;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Walk {
  std::vector<Bytes> payloads;
  DayFileTail tail;
  std::size_t tailOffset;
  std::size_t skipped;
};

Walk WalkImage(const Bytes& image) {
  Walk w;
  DayFileReader reader(image, dayfile::kFileHeaderSize);
  DayFileRecord r;
  while (reader.Next(r)) w.payloads.emplace_back(r.payload.begin(), r.payload.end());
  w.tail = reader.tail();
  w.tailOffset = reader.tailOffset();
  w.skipped = reader.skippedBytes();
  return w;
}

Bytes ReadFile(const std::filesystem::path& p) {
  Bytes image;
  EXPECT_EQ(ReadDayFileImage(p, image), S_OK);
  return image;
}

void WriteFile(const std::filesystem::path& p, const Bytes& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(DayFileReader, ReadsRecordsInOrderAndEndsClean) {
  const Bytes a = Payload(1), b = Payload(2, 100), c = Payload(3, 4);
  const Bytes image = Concat({DayFileHeader(), EncodeDayFileRecord(a), EncodeDayFileRecord(b),
                              EncodeDayFileRecord(c)});
  EXPECT_EQ(CheckDayFileHeader(image), S_OK);
  const Walk w = WalkImage(image);
  EXPECT_EQ(w.payloads, (std::vector<Bytes>{a, b, c}));
  EXPECT_EQ(w.tail, DayFileTail::Clean);
  EXPECT_EQ(w.tailOffset, image.size());
  EXPECT_EQ(w.skipped, 0u);
}

TEST(DayFileReader, StopsAtATornTailCutAnywhereInTheLastRecord) {
  const Bytes a = Payload(1), b = Payload(2, 64);
  const Bytes whole = Concat({DayFileHeader(), EncodeDayFileRecord(a), EncodeDayFileRecord(b)});
  const std::size_t end_a = dayfile::kFileHeaderSize + dayfile::kRecordHeaderSize + a.size();
  for (std::size_t cut = end_a + 1; cut < whole.size(); ++cut) {
    const Walk w = WalkImage(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    ASSERT_EQ(w.payloads, std::vector<Bytes>{a}) << "cut at " << cut;
    EXPECT_EQ(w.tail, DayFileTail::Torn) << "cut at " << cut;
    EXPECT_EQ(w.tailOffset, end_a);
  }
  // Zeros where a record should be, as a crash after the file grew can leave them.
  Bytes zeros = Concat({DayFileHeader(), EncodeDayFileRecord(a), Bytes(300, 0)});
  EXPECT_EQ(WalkImage(zeros).tail, DayFileTail::Torn);
}

TEST(DayFileReader, SkipsDamageAndFindsTheRecordsBehindIt) {
  const Bytes a = Payload(1), b = Payload(2), c = Payload(3);
  Bytes damagedB = EncodeDayFileRecord(b);
  damagedB[20] ^= 0x40;  // a flipped bit in the payload: its CRC no longer matches
  const Bytes image = Concat({DayFileHeader(), EncodeDayFileRecord(a), damagedB,
                              EncodeDayFileRecord(c)});
  const Walk w = WalkImage(image);
  EXPECT_EQ(w.payloads, (std::vector<Bytes>{a, c}));
  EXPECT_EQ(w.skipped, damagedB.size());
  EXPECT_EQ(w.tail, DayFileTail::Clean);

  // A length field so large it points past the end, with good records behind it, is damage
  // and not a torn tail: the records behind must survive.
  Bytes badLength = EncodeDayFileRecord(b);
  badLength[2] = 0x0F;  // length about 1 MB
  const Bytes image2 = Concat({DayFileHeader(), EncodeDayFileRecord(a), badLength,
                               EncodeDayFileRecord(c)});
  const Walk w2 = WalkImage(image2);
  EXPECT_EQ(w2.payloads, (std::vector<Bytes>{a, c}));
  EXPECT_EQ(w2.tail, DayFileTail::Clean);

  // A complete record with a wrong CRC at the end is damage too.
  const Walk w3 = WalkImage(Concat({DayFileHeader(), EncodeDayFileRecord(a), damagedB}));
  EXPECT_EQ(w3.payloads, std::vector<Bytes>{a});
  EXPECT_EQ(w3.tail, DayFileTail::Damaged);
}

TEST(DayFileReader, TellsForeignFilesFromShortOnes) {
  const Bytes header = DayFileHeader();
  EXPECT_EQ(CheckDayFileHeader({}), S_FALSE);
  EXPECT_EQ(CheckDayFileHeader(std::span(header).first(3)), S_FALSE);
  const std::string text = "hello, not a journal";
  EXPECT_EQ(CheckDayFileHeader({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}),
            STG_E_INVALIDHEADER);
  Bytes otherVersion = header;
  otherVersion[4] = 2;
  EXPECT_EQ(CheckDayFileHeader(otherVersion), STG_E_INVALIDHEADER);
}

class DayFileAppenderTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ManualClock clock_;
  std::filesystem::path file_ = dir_.path() / "Journal.q6d";
};

TEST_F(DayFileAppenderTest, CreatesTheFileWithItsHeaderThenAppends) {
  DayFileAppender appender(clock_);
  bool created = false;
  ASSERT_EQ(appender.Append(file_, Payload(1), created), S_OK);
  EXPECT_TRUE(created);
  ASSERT_EQ(appender.Append(file_, Payload(2), created), S_OK);
  EXPECT_FALSE(created);
  const Walk w = WalkImage(ReadFile(file_));
  EXPECT_EQ(w.payloads, (std::vector<Bytes>{Payload(1), Payload(2)}));
  EXPECT_EQ(w.tail, DayFileTail::Clean);
}

TEST_F(DayFileAppenderTest, CutsATornTailAndAppendsRightBehindTheLastGoodRecord) {
  const Bytes good = Concat({DayFileHeader(), EncodeDayFileRecord(Payload(1))});
  const Bytes lost = EncodeDayFileRecord(Payload(2, 80));
  for (std::size_t cut = 1; cut < lost.size(); cut += 5) {
    WriteFile(file_, Concat({good, Bytes(lost.begin(), lost.begin() + static_cast<std::ptrdiff_t>(cut))}));
    DayFileAppender appender(clock_);
    bool created = true;
    ASSERT_EQ(appender.Append(file_, Payload(3), created), S_OK) << "cut at " << cut;
    EXPECT_FALSE(created);
    EXPECT_EQ(ReadFile(file_), Concat({good, EncodeDayFileRecord(Payload(3))})) << "cut at " << cut;
  }
}

TEST_F(DayFileAppenderTest, LeavesDamageInPlaceAndAppendsBehindIt) {
  Bytes damaged = EncodeDayFileRecord(Payload(2));
  damaged.back() ^= 1;
  const Bytes before = Concat({DayFileHeader(), EncodeDayFileRecord(Payload(1)), damaged});
  WriteFile(file_, before);
  DayFileAppender appender(clock_);
  bool created = false;
  ASSERT_EQ(appender.Append(file_, Payload(3), created), S_OK);
  const Bytes after = ReadFile(file_);
  EXPECT_EQ(Bytes(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(before.size())), before);
  const Walk w = WalkImage(after);
  EXPECT_EQ(w.payloads, (std::vector<Bytes>{Payload(1), Payload(3)}));
  EXPECT_EQ(w.skipped, damaged.size());
}

TEST_F(DayFileAppenderTest, RefusesAForeignFileAndLeavesItAlone) {
  const Bytes foreign = {'n', 'o', 't', ' ', 'o', 'u', 'r', 's', '!', '\n'};
  WriteFile(file_, foreign);
  DayFileAppender appender(clock_);
  bool created = false;
  EXPECT_EQ(appender.Append(file_, Payload(1), created), STG_E_INVALIDHEADER);
  Bytes image;
  ASSERT_EQ(ReadDayFileImage(file_, image), S_OK);
  EXPECT_EQ(image, foreign);
}

TEST_F(DayFileAppenderTest, RewritesAHeaderTornWhileTheFileWasCreated) {
  const Bytes header = DayFileHeader();
  WriteFile(file_, Bytes(header.begin(), header.begin() + 5));
  DayFileAppender appender(clock_);
  bool created = true;
  ASSERT_EQ(appender.Append(file_, Payload(1), created), S_OK);
  EXPECT_FALSE(created);
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads, std::vector<Bytes>{Payload(1)});
}

TEST_F(DayFileAppenderTest, SeesWhatOtherWritersAddedBetweenItsOwnAppends) {
  DayFileAppender mine(clock_), theirs(clock_);
  bool created = false;
  ASSERT_EQ(mine.Append(file_, Payload(1), created), S_OK);
  ASSERT_EQ(theirs.Append(file_, Payload(2), created), S_OK);
  // The other writer dies in the middle of a record.
  const Bytes torn = EncodeDayFileRecord(Payload(9, 50));
  {
    std::ofstream out(file_, std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(torn.data()), 20);
  }
  ASSERT_EQ(mine.Append(file_, Payload(3), created), S_OK);
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads,
            (std::vector<Bytes>{Payload(1), Payload(2), Payload(3)}));

  // The file is deleted (the day cleaned up) and written anew by someone else.
  std::filesystem::remove(file_);
  ASSERT_EQ(theirs.Append(file_, Payload(4), created), S_OK);
  ASSERT_EQ(mine.Append(file_, Payload(5), created), S_OK);
  const Walk w = WalkImage(ReadFile(file_));
  EXPECT_EQ(w.payloads, (std::vector<Bytes>{Payload(4), Payload(5)}));
  EXPECT_EQ(w.tail, DayFileTail::Clean);
}

TEST_F(DayFileAppenderTest, WaitsForTheWriterLockAndGivesUpAfterTheWait) {
  bool created = false;
  DayFileAppender first(clock_);
  ASSERT_EQ(first.Append(file_, Payload(1), created), S_OK);

  // Another writer holds the file. The manual clock stands still, so only the pauses count.
  UniqueFd holder(::open(file_.c_str(), O_RDWR));
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(holder.get(), F_OFD_SETLK, &lock), 0);

  DayFileAppender impatient(clock_, std::chrono::milliseconds(60));
  EXPECT_EQ(impatient.Append(file_, Payload(2), created), STG_E_LOCKVIOLATION);
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads, std::vector<Bytes>{Payload(1)});

  // Released while a writer waits: the writer gets in.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    holder.Reset();
  });
  DayFileAppender patient(clock_, std::chrono::milliseconds(5000));
  EXPECT_EQ(patient.Append(file_, Payload(3), created), S_OK);
  release.join();
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads, (std::vector<Bytes>{Payload(1), Payload(3)}));
}

// `truncate -s 1T` on the day file: the next entry must neither read a terabyte nor be lost.
TEST_F(DayFileAppenderTest, SetsAHugeDamagedFileAsideAndStartsTheDayAnew) {
  constexpr off_t kHuge = off_t{1} << 40;
  DayFileAppender appender(clock_);
  bool created = false;
  ASSERT_EQ(appender.Append(file_, Payload(1), created), S_OK);
  if (::truncate(file_.c_str(), kHuge) != 0) GTEST_SKIP() << "no sparse 1 TiB files here";

  // The appender has checked this file before, and a fresh one has not.
  ASSERT_EQ(appender.Append(file_, Payload(2), created), S_OK);
  EXPECT_TRUE(created);
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads, std::vector<Bytes>{Payload(2)});
  std::filesystem::path aside = file_;
  aside += dayfile::kDamagedSuffix;
  EXPECT_EQ(std::filesystem::file_size(aside), static_cast<std::uintmax_t>(kHuge));

  ASSERT_EQ(::truncate(file_.c_str(), kHuge), 0);
  DayFileAppender fresh(clock_);
  ASSERT_EQ(fresh.Append(file_, Payload(3), created), S_OK);
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads, std::vector<Bytes>{Payload(3)});
  std::filesystem::path second = aside;
  second += "-2";
  EXPECT_EQ(std::filesystem::file_size(second), static_cast<std::uintmax_t>(kHuge));
  EXPECT_EQ(std::filesystem::file_size(aside), static_cast<std::uintmax_t>(kHuge));
}

// A writer waiting for the lock while the file is moved away writes to the file that then
// bears the name, not to the one it had opened.
TEST_F(DayFileAppenderTest, AWriterWaitingWhileTheFileIsReplacedWritesToTheNewOne) {
  bool created = false;
  DayFileAppender first(clock_);
  ASSERT_EQ(first.Append(file_, Payload(1), created), S_OK);
  UniqueFd holder(::open(file_.c_str(), O_RDWR));
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(holder.get(), F_OFD_SETLK, &lock), 0);
  UniqueFd opens(::inotify_init1(IN_CLOEXEC));
  ASSERT_TRUE(opens);
  ASSERT_GE(::inotify_add_watch(opens.get(), file_.c_str(), IN_OPEN), 0);

  HRESULT waited = E_FAIL;
  std::thread writer([&] {
    DayFileAppender patient(clock_, std::chrono::milliseconds(20'000));
    bool made = false;
    waited = patient.Append(file_, Payload(2), made);
  });
  // Once the writer has the old file open, it is moved away and the lock released.
  pollfd pfd{opens.get(), POLLIN, 0};
  const bool sawOpen = ::poll(&pfd, 1, 10'000) == 1;
  const auto moved = dir_.path() / "moved.q6d";
  std::filesystem::rename(file_, moved);
  holder.Reset();
  writer.join();
  ASSERT_TRUE(sawOpen);
  EXPECT_EQ(waited, S_OK);
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads, std::vector<Bytes>{Payload(2)});
  EXPECT_EQ(WalkImage(ReadFile(moved)).payloads, std::vector<Bytes>{Payload(1)});
}

// A record is synced before Append returns; one that cannot be synced is taken back.
TEST_F(DayFileAppenderTest, SyncsEachRecordAndTakesBackOneThatCannotBeSynced) {
  std::vector<std::uintmax_t> sizesAtSync;
  bool failSync = false;
  DayFileAppender appender(clock_, kWriterLockWait, [&](int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      sizesAtSync.push_back(static_cast<std::uintmax_t>(st.st_size));
      if (failSync) {
        errno = EIO;
        return -1;
      }
    }
    return 0;
  });
  bool created = false;
  ASSERT_EQ(appender.Append(file_, Payload(1), created), S_OK);
  const auto afterFirst = std::filesystem::file_size(file_);
  EXPECT_EQ(sizesAtSync, std::vector<std::uintmax_t>{afterFirst});
  failSync = true;
  EXPECT_EQ(appender.Append(file_, Payload(2), created), HresultFromErrno(EIO));
  EXPECT_EQ(std::filesystem::file_size(file_), afterFirst);
  failSync = false;
  ASSERT_EQ(appender.Append(file_, Payload(3), created), S_OK);
  EXPECT_EQ(WalkImage(ReadFile(file_)).payloads, (std::vector<Bytes>{Payload(1), Payload(3)}));
}

TEST_F(DayFileAppenderTest, RejectsEmptyAndOversizedPayloads) {
  DayFileAppender appender(clock_);
  bool created = false;
  EXPECT_EQ(appender.Append(file_, {}, created), E_INVALIDARG);
  EXPECT_EQ(appender.Append(file_, Payload(1, dayfile::kMaxPayload + 1), created), E_INVALIDARG);
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(DayFileAppenderTest, ReportsMissingFilesAndFolders) {
  Bytes image;
  EXPECT_EQ(ReadDayFileImage(file_, image), STG_E_FILENOTFOUND);
  EXPECT_EQ(ReadDayFileImage(dir_.path() / "2005" / "7" / "26" / "Journal.q6d", image),
            STG_E_PATHNOTFOUND);
  DayFileAppender appender(clock_);
  bool created = false;
  EXPECT_EQ(appender.Append(dir_.path() / "missing" / "Journal.q6d", Payload(1), created),
            STG_E_PATHNOTFOUND);
}

}  // namespace
}  // namespace qv::journal
