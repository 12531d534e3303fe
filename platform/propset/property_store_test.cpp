#include "platform/propset/property_store.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using Mode = PropertyStorage::Mode;

constexpr Guid kRankingFmtid =
    MakeGuid(0x48CA09C3, 0x119B, 0x8534, 0x9A, 0x91, 0x87, 0x84, 0x80, 0x40, 0xE3, 0x51);
constexpr Guid kOtherFmtid =
    MakeGuid(0x00112233, 0x4455, 0x6677, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF);
constexpr uid_t kNobody = 65534;

PropertySet RankingLike(std::uint32_t visits) {
  PropertySet set;
  set.fmtid = kRankingFmtid;
  set.clsid = kRankingFmtid;
  set.codePage = kCodePageWindows1252;
  set.names[0] = "Quillon Vesper Ranking";
  set.values[2] = PropVariant::Clsid(kOtherFmtid);
  for (std::uint32_t id = 3; id <= 13; ++id) set.values[id] = PropVariant::UI4(visits + id);
  set.values[7] = PropVariant::Date(45000.25);
  return set;
}

// Runs `body` in a child process and returns its exit code (or -1 when it did not exit).
template <typename F>
int InChild(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class PropertyStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "qv-propset-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    file_ = dir_ / "report.txt";
    std::ofstream(file_) << "contents";
    std::unique_ptr<PropertyStorage> probe;
    if (PropertyStorage::Open(file_, Mode::Read, probe) == STG_E_INVALIDFUNCTION) {
      GTEST_SKIP() << "the temporary folder's file system keeps no user extended attributes";
    }
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::unique_ptr<PropertyStorage> OpenOk(Mode mode) {
    std::unique_ptr<PropertyStorage> s;
    EXPECT_EQ(PropertyStorage::Open(file_, mode, s), S_OK);
    return s;
  }
  HRESULT OpenResult(const fs::path& p, Mode mode) {
    std::unique_ptr<PropertyStorage> s;
    const HRESULT hr = PropertyStorage::Open(p, mode, s);
    EXPECT_EQ(s != nullptr, hr == S_OK);
    return hr;
  }

  fs::path dir_;
  fs::path file_;
};

TEST_F(PropertyStoreTest, OpenErrorsNameTheProblem) {
  for (Mode mode : {Mode::Read, Mode::ReadWriteExclusive}) {
    EXPECT_EQ(OpenResult(dir_ / "missing.txt", mode), STG_E_FILENOTFOUND);
    EXPECT_EQ(OpenResult(file_ / "below-a-file", mode), STG_E_PATHNOTFOUND);
    EXPECT_EQ(OpenResult(dir_, mode), STG_E_ACCESSDENIED);
  }
  // A FIFO neither blocks the open nor carries properties.
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(OpenResult(dir_ / "pipe", Mode::Read), STG_E_INVALIDFUNCTION);
}

TEST_F(PropertyStoreTest, OpenOfAKnownFileRefusesOneSwappedInSinceAndReportsItsFlags) {
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  const PropertyStorage::KnownFile known{static_cast<std::uint64_t>(st.st_dev),
                                         static_cast<std::uint64_t>(st.st_ino)};
  std::unique_ptr<PropertyStorage> s;
  ASSERT_EQ(PropertyStorage::Open(file_, Mode::ReadWriteExclusive, known, s), S_OK);
  if (s->inodeFlags()) {
    EXPECT_FALSE(s->inodeFlags()->noDump);
  }
  s.reset();

  // The no-dump flag, where the file system has it, shows without another call.
  const int fd = ::open(file_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  const bool noDumpSet = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                         (flags |= FS_NODUMP_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  ::close(fd);
  ASSERT_EQ(PropertyStorage::Open(file_, Mode::Read, known, s), S_OK);
  if (noDumpSet && s->inodeFlags()) {
    EXPECT_TRUE(s->inodeFlags()->noDump);
  }
  s.reset();

  // Another file renamed over the name after the caller looked at it.
  const fs::path other = dir_ / "other.txt";
  std::ofstream(other) << "other contents";
  fs::rename(other, file_);
  EXPECT_EQ(PropertyStorage::Open(file_, Mode::ReadWriteExclusive, known, s),
            STG_E_SHAREVIOLATION);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(PropertyStorage::Open(file_, Mode::Read, known, s), STG_E_SHAREVIOLATION);
}

TEST_F(PropertyStoreTest, FileSystemWithoutUserAttributesIsInvalidFunction) {
  // procfs keeps no user extended attributes.
  EXPECT_EQ(OpenResult("/proc/self/status", Mode::Read), STG_E_INVALIDFUNCTION);
}

TEST_F(PropertyStoreTest, FileWithoutTheSet) {
  auto writer = OpenOk(Mode::ReadWriteExclusive);
  PropertySet out;
  EXPECT_EQ(writer->Read(kRankingFmtid, out), STG_E_FILENOTFOUND);
  EXPECT_EQ(writer->Remove(kRankingFmtid), STG_E_FILENOTFOUND);
}

TEST_F(PropertyStoreTest, WriteThenReadBackFromAnotherOpen) {
  const PropertySet set = RankingLike(1);
  {
    auto writer = OpenOk(Mode::ReadWriteExclusive);
    ASSERT_EQ(writer->Write(set), S_OK);
    PropertySet same;
    ASSERT_EQ(writer->Read(kRankingFmtid, same), S_OK);
    EXPECT_EQ(same, set);
  }
  auto reader = OpenOk(Mode::Read);
  PropertySet back;
  ASSERT_EQ(reader->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, set);

  // The attribute holds exactly the standard stream, under the FMTID's registry form.
  const std::string name = PropertySetAttributeName(kRankingFmtid);
  EXPECT_EQ(name, "user.quillon.{48CA09C3-119B-8534-9A91-87848040E351}");
  std::vector<std::uint8_t> raw(4096);
  const ssize_t n = ::getxattr(file_.c_str(), name.c_str(), raw.data(), raw.size());
  ASSERT_GT(n, 0);
  raw.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(raw, SerializePropertySet(set));
}

TEST_F(PropertyStoreTest, WriteReplacesTheWholeSetAndRemoveTakesOnlyItsOwn) {
  auto writer = OpenOk(Mode::ReadWriteExclusive);
  ASSERT_EQ(writer->Write(RankingLike(1)), S_OK);
  PropertySet smaller;
  smaller.fmtid = kRankingFmtid;
  smaller.values[4] = PropVariant::Lpwstr("only me");
  ASSERT_EQ(writer->Write(smaller), S_OK);
  PropertySet other = RankingLike(2);
  other.fmtid = kOtherFmtid;
  ASSERT_EQ(writer->Write(other), S_OK);

  PropertySet back;
  ASSERT_EQ(writer->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, smaller);

  ASSERT_EQ(writer->Remove(kRankingFmtid), S_OK);
  EXPECT_EQ(writer->Read(kRankingFmtid, back), STG_E_FILENOTFOUND);
  EXPECT_EQ(writer->Remove(kRankingFmtid), STG_E_FILENOTFOUND);
  ASSERT_EQ(writer->Read(kOtherFmtid, back), S_OK);
  EXPECT_EQ(back, other);
}

TEST_F(PropertyStoreTest, ReadModeRefusesChanges) {
  ASSERT_EQ(OpenOk(Mode::ReadWriteExclusive)->Write(RankingLike(1)), S_OK);
  auto reader = OpenOk(Mode::Read);
  EXPECT_EQ(reader->Write(RankingLike(2)), STG_E_ACCESSDENIED);
  EXPECT_EQ(reader->Remove(kRankingFmtid), STG_E_ACCESSDENIED);
  PropertySet back;
  ASSERT_EQ(reader->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, RankingLike(1));
}

TEST_F(PropertyStoreTest, SecondWriterMeetsTheLockReadersDoNot) {
  auto first = OpenOk(Mode::ReadWriteExclusive);
  ASSERT_EQ(first->Write(RankingLike(1)), S_OK);
  // OFD locks belong to the open file description: a second open conflicts even here.
  EXPECT_EQ(OpenResult(file_, Mode::ReadWriteExclusive), STG_E_LOCKVIOLATION);

  auto reader = OpenOk(Mode::Read);
  PropertySet back;
  ASSERT_EQ(reader->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, RankingLike(1));
  // A reader holds no lock, so it does not keep a writer out.
  first.reset();
  auto second = OpenOk(Mode::ReadWriteExclusive);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Write(RankingLike(2)), S_OK);
  ASSERT_EQ(reader->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, RankingLike(2));
}

TEST_F(PropertyStoreTest, WriterInAnotherProcessHoldsTheLockUntilItCloses) {
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Keep only our own ends, so that the parent's close reaches us as end of file.
    ::close(ready[0]);
    ::close(release[1]);
    std::unique_ptr<PropertyStorage> s;
    const char ok = PropertyStorage::Open(file_, Mode::ReadWriteExclusive, s) == S_OK &&
                            s->Write(RankingLike(7)) == S_OK
                        ? 'y'
                        : 'n';
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(release[0], &c, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, 'y');

  EXPECT_EQ(OpenResult(file_, Mode::ReadWriteExclusive), STG_E_LOCKVIOLATION);
  auto reader = OpenOk(Mode::Read);
  PropertySet back;
  ASSERT_EQ(reader->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, RankingLike(7));

  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(ready[0]);
  EXPECT_EQ(OpenResult(file_, Mode::ReadWriteExclusive), S_OK);

  // And the other way round: our lock keeps the child out.
  auto writer = OpenOk(Mode::ReadWriteExclusive);
  const int code = InChild([&] {
    std::unique_ptr<PropertyStorage> s;
    return PropertyStorage::Open(file_, Mode::ReadWriteExclusive, s) == STG_E_LOCKVIOLATION ? 0
                                                                                            : 1;
  });
  EXPECT_EQ(code, 0);
}

TEST_F(PropertyStoreTest, ReadOnlyFileRefusesTheWriterNotTheReader) {
  ASSERT_EQ(OpenOk(Mode::ReadWriteExclusive)->Write(RankingLike(3)), S_OK);
  fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto check = [&]() -> int {
    std::unique_ptr<PropertyStorage> s;
    if (PropertyStorage::Open(file_, Mode::ReadWriteExclusive, s) != STG_E_ACCESSDENIED) return 1;
    if (PropertyStorage::Open(file_, Mode::Read, s) != S_OK) return 2;
    PropertySet back;
    if (s->Read(kRankingFmtid, back) != S_OK || back != RankingLike(3)) return 3;
    return 0;
  };
  if (::geteuid() != 0) {
    EXPECT_EQ(check(), 0);
    return;
  }
  // Permissions do not bind root: check as an unprivileged user in a child.
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  const int code = InChild([&] {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 9;
    return check();
  });
  EXPECT_EQ(code, 0);
}

TEST_F(PropertyStoreTest, DamagedAttributeIsReportedNotTrusted) {
  auto writer = OpenOk(Mode::ReadWriteExclusive);
  const std::string name = PropertySetAttributeName(kRankingFmtid);
  const char junk[] = "not a property set at all, just words";
  ASSERT_EQ(::fsetxattr(writer->fd(), name.c_str(), junk, sizeof junk, 0), 0);
  PropertySet back;
  EXPECT_EQ(writer->Read(kRankingFmtid, back), STG_E_INVALIDHEADER);

  // A well-formed set filed under another FMTID's name.
  PropertySet other = RankingLike(1);
  other.fmtid = kOtherFmtid;
  const auto bytes = SerializePropertySet(other);
  ASSERT_EQ(::fsetxattr(writer->fd(), name.c_str(), bytes.data(), bytes.size(), 0), 0);
  EXPECT_EQ(writer->Read(kRankingFmtid, back), STG_E_DOCFILECORRUPT);
  // The next write repairs it.
  ASSERT_EQ(writer->Write(RankingLike(2)), S_OK);
  ASSERT_EQ(writer->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, RankingLike(2));
}

TEST_F(PropertyStoreTest, LargerSetsAreReadWholeOrRefusedWhole) {
  auto writer = OpenOk(Mode::ReadWriteExclusive);
  PropertySet set = RankingLike(1);
  set.values[20] = PropVariant::Blob(std::vector<std::uint8_t>(3500, 0x5A));  // > first buffer
  ASSERT_EQ(writer->Write(set), S_OK);
  PropertySet back;
  ASSERT_EQ(writer->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, set);
  // The unparsed stream too, into a buffer that held a small set before and one that held
  // a larger one.
  const std::string name = PropertySetAttributeName(kRankingFmtid);
  const std::vector<std::uint8_t> stream = SerializePropertySet(set);
  std::vector<std::uint8_t> raw(10, 0xEE);
  ASSERT_EQ(writer->ReadStream(name, raw), S_OK);
  EXPECT_EQ(raw, stream);
  ASSERT_EQ(writer->WriteStream(name, SerializePropertySet(RankingLike(2))), S_OK);
  ASSERT_EQ(writer->ReadStream(name, raw), S_OK);
  EXPECT_EQ(raw, SerializePropertySet(RankingLike(2)));
  EXPECT_EQ(writer->ReadStream(PropertySetAttributeName(kOtherFmtid), raw), STG_E_FILENOTFOUND);
  EXPECT_TRUE(raw.empty());
  EXPECT_EQ(OpenOk(Mode::Read)->WriteStream(name, stream), STG_E_ACCESSDENIED);
  ASSERT_EQ(writer->WriteStream(name, stream), S_OK);

  // Beyond what the file system keeps for one attribute (ext4: one block), the write fails
  // and the stored set stays as it was.
  PropertySet huge = set;
  huge.values[20] = PropVariant::Blob(std::vector<std::uint8_t>(256 * 1024, 0x33));
  const HRESULT hr = writer->Write(huge);
  ASSERT_TRUE(hr == S_OK || hr == STG_E_MEDIUMFULL) << FormatHresult(hr);
  ASSERT_EQ(writer->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, hr == S_OK ? huge : set);

  // What the reader would refuse is never written.
  PropertySet tooMany;
  tooMany.fmtid = kRankingFmtid;
  for (std::uint32_t id = 2; id < kMaxPropertiesPerSet + 2; ++id) {
    tooMany.values[id] = PropVariant::UI4(id);
  }
  EXPECT_EQ(writer->Write(tooMany), STG_E_INVALIDPARAMETER);
  PropertySet oversized;
  oversized.fmtid = kRankingFmtid;
  oversized.values[2] = PropVariant::Blob(std::vector<std::uint8_t>(kMaxPropertySetStream, 1));
  EXPECT_EQ(writer->Write(oversized), STG_E_INVALIDPARAMETER);
  ASSERT_EQ(writer->Read(kRankingFmtid, back), S_OK);
  EXPECT_EQ(back, hr == S_OK ? huge : set);
}

}  // namespace
}  // namespace qv::platform
