#include "provider/ranking/file_ranking.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <thread>

#include "context/registry_values.h"
#include "common/scope_hash.h"
#include "context/test_context.h"
#include "platform/fs/file_attributes.h"
#include "platform/propset/property_store.h"
#include "provider/ranking/ranking_record.h"

namespace qv {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
const DATE kEnd = *ParseIsoDate("2025-12-09T11:00:00Z");

// Records what the ranking service would have been asked to do.
class FakeListener final : public IKivListener {
 public:
  struct Call {
    std::string file, key;
    ULONG units, visits, working, active, scope, retry;
    DATE start, end;
  };
  HRESULT UpdatePending(const std::string* f, ULONG n, ULONG v, DATE s, DATE e, ULONG w, ULONG a,
                        ULONG scope, ULONG retry, const std::string* key) override {
    calls.push_back({f ? *f : "", key ? *key : "", n, v, w, a, scope, retry, s, e});
    return result;
  }
  HRESULT CfgVerify(const std::string*, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT DeleteStale(const std::string*) override { return E_NOTIMPL; }
  HRESULT OtlProfile(const std::string*, const std::string*, const std::string*) override {
    return E_NOTIMPL;
  }
  HRESULT OtlStopScope(const std::string*) override { return E_NOTIMPL; }
  std::vector<Call> calls;
  HRESULT result = MakeHr(0x00000000);
};

class FileRankingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterRankingClasses(tc.ctx());
    file = (tc.root() / "report.txt").string();
    Write(file, "quarterly report");
    ASSERT_EQ(fr.get_CurrentScope(&scope), S_OK);
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
  }
  HRESULT Update(const std::string& f, DATE end = kEnd, ULONG seconds = 120,
                 const std::string* key = nullptr, ULONG retry = 0) {
    return fr.UpdateRank(&f, seconds * 5, 1, end - seconds * kSecond, end, seconds * 10,
                         seconds * 10, scope, retry, key);
  }
  ranking::RankingSet Stored(Guid* key = nullptr) {
    VARIANT_BOOL valid = VARIANT_FALSE;
    ranking::RankingSet s;
    Guid k;
    EXPECT_EQ(fr.GetRankingSet(&file, &valid, &k, &s.scope, &s.workingTime, &s.activeTime,
                               &s.visits, &s.firstVisitStart, &s.last.end, &s.last.t, &s.last.n,
                               &s.blended.end, &s.blended.t, &s.blended.n),
              S_OK);
    EXPECT_EQ(valid, VARIANT_TRUE);
    if (key) *key = k;
    return s;
  }
  // Stores a set as another program would, past the ranking object.
  void StoreAsIs(const platform::PropertySet& ps) {
    std::unique_ptr<platform::PropertyStorage> st;
    ASSERT_EQ(platform::PropertyStorage::Open(
                  file, platform::PropertyStorage::Mode::ReadWriteExclusive, st),
              S_OK);
    ASSERT_EQ(st->Write(ps), S_OK);
  }
  bool HasRecord(const std::string& f) {
    return ::getxattr(f.c_str(), platform::PropertySetAttributeName(ranking::kRankingFmtid).c_str(),
                      nullptr, 0) >= 0;
  }
  std::shared_ptr<FakeListener> InstallListener() {
    auto listener = std::make_shared<FakeListener>();
    tc.classes().Register(CLSID_KivListener, "", "",
                          [listener](std::shared_ptr<platform::ComObject>& out) {
                            out = listener;
                            return S_OK;
                          });
    return listener;
  }

  TestContext tc;
  FileRanking fr{tc.ctx()};
  std::string file;
  ULONG scope = 0;
};

TEST_F(FileRankingTest, FirstVisitKeepsThePreRankKeyAndLaterVisitsAccumulate) {
  std::string key;
  VARIANT_BOOL notFound = VARIANT_FALSE;
  ULONG preScope = 0;
  ASSERT_EQ(fr.PreRank(&file, &preScope, &key, &notFound), S_OK);
  EXPECT_EQ(preScope, scope);
  EXPECT_EQ(notFound, VARIANT_TRUE);
  ASSERT_TRUE(ParseGuid(key));

  ASSERT_EQ(Update(file, kEnd, 120, &key), S_OK);
  Guid stored;
  auto s = Stored(&stored);
  EXPECT_EQ(FormatGuid(stored), key);
  EXPECT_EQ(s.scope, ScopeHash("TESTHOST\\tester"));
  EXPECT_EQ(s.visits, 1u);
  EXPECT_EQ(s.workingTime, 120u);  // tenths in, whole seconds stored
  EXPECT_EQ(s.last.t, 120u);
  EXPECT_EQ(s.last.n, 600u);

  std::string again;
  ASSERT_EQ(fr.PreRank(&file, nullptr, &again, &notFound), S_OK);
  EXPECT_EQ(again, key);
  EXPECT_EQ(notFound, VARIANT_FALSE);
  // A key the caller already holds stays.
  std::string mine = "{00000000-0000-0000-0000-000000000001}";
  ASSERT_EQ(fr.PreRank(&file, nullptr, &mine, nullptr), S_OK);
  EXPECT_EQ(mine, "{00000000-0000-0000-0000-000000000001}");

  ASSERT_EQ(Update(file, kEnd + 0.01, 60, &mine), S_OK);
  s = Stored(&stored);
  EXPECT_EQ(FormatGuid(stored), key);  // an existing record keeps its key
  EXPECT_EQ(s.visits, 2u);
  EXPECT_EQ(s.workingTime, 180u);
  EXPECT_EQ(s.blended.end, kEnd);
}

TEST_F(FileRankingTest, StatisticsGiveActivationAndBarAtTheCurrentMoment) {
  ASSERT_EQ(Update(file), S_OK);
  tc.clock().SetNowDate(kEnd + 3600 * kSecond);
  VARIANT_BOOL valid = VARIANT_FALSE;
  std::string key;
  ULONG working = 0, active = 0, visits = 0, bar = 999;
  DATE first = 0, last = 0;
  float activation = -1;
  ASSERT_EQ(fr.GetStatistics(&file, &valid, &key, &working, &active, &visits, &first, &last,
                             &activation, &bar),
            S_OK);
  EXPECT_EQ(valid, VARIANT_TRUE);
  EXPECT_EQ(visits, 1u);
  EXPECT_EQ(last, kEnd);
  const double expected = 2.0 * 600 * (std::sqrt(3720.0) - 60.0) / 120;
  EXPECT_NEAR(activation, expected, 1e-4);
  EXPECT_EQ(bar, ranking::ActivationScale(expected));

  // Over 68 years later the elapsed time cannot be counted: activation and bar are 0.
  tc.clock().SetNowDate(kEnd + 30000);
  ASSERT_EQ(fr.GetStatistics(&file, &valid, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &activation, &bar),
            S_OK);
  EXPECT_EQ(activation, 0.0f);
  EXPECT_EQ(bar, 0u);
  EXPECT_EQ(fr.GetStatistics(&file, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            E_INVALIDARG);
}

TEST_F(FileRankingTest, FilesThatMayNotBeRankedAreLeftAlone) {
  // Read-only.
  const std::string ro = (tc.root() / "ro.txt").string();
  Write(ro, "x");
  ::chmod(ro.c_str(), 0444);
  EXPECT_EQ(fr.IsUpdateable(&ro), S_FALSE);
  EXPECT_EQ(Update(ro), S_FALSE);
  EXPECT_FALSE(HasRecord(ro));
  // A directory, a program, a relative path, a missing file.
  const std::string dir = tc.root().string();
  EXPECT_EQ(Update(dir), S_FALSE);
  const std::string exe = (tc.root() / "setup.EXE").string();
  Write(exe, "MZ");
  EXPECT_EQ(Update(exe), S_FALSE);
  EXPECT_FALSE(HasRecord(exe));
  const std::string relative = "report.txt";
  EXPECT_EQ(Update(relative), S_FALSE);
  const std::string missing = (tc.root() / "missing.txt").string();
  EXPECT_EQ(Update(missing), S_FALSE);
  EXPECT_EQ(fr.IsUpdateable(&missing), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
  const std::string empty;
  EXPECT_EQ(fr.IsUpdateable(&empty), E_INVALIDARG);
  EXPECT_EQ(fr.IsUpdateable(nullptr), E_INVALIDARG);
  EXPECT_EQ(fr.AccessCheck(&exe, VARIANT_FALSE), HresultFromWin32(win32::ERROR_UNSUPPORTED_TYPE));
  EXPECT_EQ(fr.AccessCheck(&file, VARIANT_TRUE), S_OK);
  // A pseudo file system is not a fixed disk.
  const std::string proc = "/proc/self/status";
  EXPECT_EQ(Update(proc), S_FALSE);
}

// Devices, FIFOs and sockets are refused from their stat alone: no method opens them
// (an inotify watch sees every open of the FIFO).
TEST_F(FileRankingTest, SpecialFilesAreNeverOpened) {
  const std::string fifo = (tc.root() / "pipe.txt").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);

  const std::string socketPath = (tc.root() / "sock.txt").string();
  const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof addr.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), addr.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);

  for (const std::string& special : {fifo, socketPath, std::string("/dev/null")}) {
    SCOPED_TRACE(special);
    EXPECT_FALSE(IsRankableFile(special));
    EXPECT_EQ(Update(special), S_FALSE);
    EXPECT_EQ(fr.IsUpdateable(&special), S_FALSE);
    EXPECT_EQ(fr.AccessCheck(&special, VARIANT_FALSE),
              HresultFromWin32(win32::ERROR_UNSUPPORTED_TYPE));
    VARIANT_BOOL valid = VARIANT_TRUE;
    EXPECT_EQ(fr.GetRankingSet(&special, &valid, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              STG_E_INVALIDFUNCTION);
    EXPECT_EQ(fr.GetStatistics(&special, &valid, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              STG_E_INVALIDFUNCTION);
    EXPECT_EQ(fr.DeleteRank(&special), STG_E_INVALIDFUNCTION);
    std::string key;
    ULONG s = 0;
    EXPECT_EQ(fr.PreRank(&special, &s, &key, nullptr), S_FALSE);
  }
  char events[4096];
  EXPECT_LT(::read(watch, events, sizeof events), 0) << "the FIFO was opened";
  ::close(watch);
  ::close(sock);
}

TEST_F(FileRankingTest, NoDumpFlagMeansNotContentIndexed) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  const bool supported = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                         (flags |= FS_NODUMP_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  ::close(fd);
  if (!supported) GTEST_SKIP() << "this file system has no inode flags";
  EXPECT_EQ(fr.IsUpdateable(&file), S_FALSE);
  EXPECT_EQ(Update(file), S_FALSE);
}

TEST_F(FileRankingTest, ALockedFileGoesToTheRankingServiceUnchanged) {
  std::unique_ptr<platform::PropertyStorage> holder;
  ASSERT_EQ(platform::PropertyStorage::Open(
                file, platform::PropertyStorage::Mode::ReadWriteExclusive, holder),
            S_OK);
  // Without the service the creation failure comes back.
  EXPECT_EQ(Update(file), REGDB_E_CLASSNOTREG);

  auto listener = InstallListener();
  listener->result = MakeHr(0x00000000);
  const std::string key = "{11111111-2222-3333-4444-555555555555}";
  ASSERT_EQ(Update(file, kEnd, 90, &key, 3), S_OK);
  ASSERT_EQ(listener->calls.size(), 1u);
  const auto& c = listener->calls[0];
  EXPECT_EQ(c.file, file);
  EXPECT_EQ(c.key, key);
  EXPECT_EQ(c.retry, 3u);
  EXPECT_EQ(c.units, 450u);
  EXPECT_EQ(c.working, 900u);
  EXPECT_EQ(c.scope, scope);
  EXPECT_EQ(c.end, kEnd);
  listener->result = E_OUTOFMEMORY;
  EXPECT_EQ(Update(file), E_OUTOFMEMORY);  // the service's answer is the answer
  EXPECT_FALSE(HasRecord(file));

  // Readers are never blocked by the writer's lock.
  holder.reset();
  ASSERT_EQ(Update(file), S_OK);
  ASSERT_EQ(platform::PropertyStorage::Open(
                file, platform::PropertyStorage::Mode::ReadWriteExclusive, holder),
            S_OK);
  EXPECT_EQ(Stored().visits, 1u);
}

TEST_F(FileRankingTest, OnlyLockAndShareViolationsAreDeferred) {
  EXPECT_EQ(fr.IsLockViolation(static_cast<ULONG>(STG_E_LOCKVIOLATION)), S_OK);
  EXPECT_EQ(fr.IsLockViolation(static_cast<ULONG>(STG_E_SHAREVIOLATION)), S_OK);
  EXPECT_EQ(fr.IsLockViolation(static_cast<ULONG>(STG_E_ACCESSDENIED)), S_OK);
  EXPECT_EQ(fr.IsLockViolation(static_cast<ULONG>(E_ACCESSDENIED)), S_FALSE);
  EXPECT_EQ(fr.IsLockViolation(0), S_FALSE);
}

TEST_F(FileRankingTest, SearchKeysSwitchedOffStoreTheNullGuid) {
  ASSERT_EQ(Update(file), S_OK);
  tc.registry().SetValue(platform::Hive::LocalMachine, kFilesKey, "NoSearchKeys",
                         platform::RegValue::Dword(1));
  std::string key;
  ULONG s = 0;
  ASSERT_EQ(fr.PreRank(&file, &s, &key, nullptr), S_OK);
  EXPECT_TRUE(key.empty());
  EXPECT_EQ(s, scope);
  ASSERT_EQ(Update(file, kEnd + 0.01), S_OK);
  Guid stored;
  EXPECT_EQ(Stored(&stored).visits, 2u);
  EXPECT_TRUE(stored.IsNull());
}

// A caller makes one object per visit through the class factory; what those objects keep
// for each other must still follow the settings.
TEST_F(FileRankingTest, StatisticsSwitchTakesEffectBetweenUpdatesOfOneObjectOrOfMany) {
  auto made = [&] {
    std::shared_ptr<IKivFileRanking> one;
    EXPECT_EQ(tc.ctx().classes.CreateInstance(CLSID_FileRanking, one), S_OK);
    return one;
  };
  for (const bool many : {false, true}) {
    SCOPED_TRACE(many ? "an object per update" : "one object");
    file = (tc.root() / (many ? "many.txt" : "one.txt")).string();
    Write(file, "switched");
    auto update = [&](DATE end) {
      return (many ? made().get() : &fr)
          ->UpdateRank(&file, 600, 1, end - 120 * kSecond, end, 1200, 1200, scope, 0, nullptr);
    };
    ASSERT_EQ(update(kEnd), S_OK);
    EXPECT_EQ(Stored().visits, 1u);
    auto& reg = tc.registry();
    ASSERT_EQ(reg.SetValue(platform::Hive::LocalMachine, kVesperKey, "DisableStatistics",
                           platform::RegValue::Dword(1)),
              0);
    ASSERT_EQ(update(kEnd + 0.01), S_OK);
    EXPECT_EQ(Stored().visits, 0u);
    EXPECT_EQ(Stored().workingTime, 0u);
    ASSERT_EQ(reg.DeleteValue(platform::Hive::LocalMachine, kVesperKey, "DisableStatistics"), 0);
    ASSERT_EQ(update(kEnd + 0.02), S_OK);
    EXPECT_EQ(Stored().visits, 1u);
  }
}

// The objects of one process share what they learn, and updates from several threads at once
// each count.
TEST_F(FileRankingTest, ObjectsOfTheClassFactoryUpdateFromManyThreads) {
  auto make = [&] {
    std::shared_ptr<IKivFileRanking> made;
    EXPECT_EQ(tc.ctx().classes.CreateInstance(CLSID_FileRanking, made), S_OK);
    return made;
  };
  auto update = [&](const std::string& f, DATE end) {
    return make()->UpdateRank(&f, 600, 1, end - 120 * kSecond, end, 1200, 1200, scope, 0,
                              nullptr);
  };
  auto& reg = tc.registry();
  constexpr int kThreads = 4, kVisits = 25;
  std::vector<std::string> files;
  for (int t = 0; t < kThreads; ++t) {
    files.push_back((tc.root() / ("thread" + std::to_string(t) + ".txt")).string());
    Write(files.back(), "visited from a thread");
  }
  std::vector<std::thread> threads;
  std::atomic<int> failed = 0;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int v = 0; v < kVisits; ++v) failed += update(files[t], kEnd + 0.02 + v * 0.001) != S_OK;
    });
  }
  // The hive changes under them: each change is read again, by whichever thread comes first.
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(reg.SetValue(platform::Hive::LocalMachine, kVesperKey, "Unrelated",
                           platform::RegValue::Dword(static_cast<std::uint32_t>(i))),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failed, 0);
  for (const auto& f : files) {
    VARIANT_BOOL valid = VARIANT_FALSE;
    ULONG visits = 0;
    ASSERT_EQ(make()->GetRankingSet(&f, &valid, nullptr, nullptr, nullptr, nullptr, &visits,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr),
              S_OK);
    EXPECT_EQ(valid, VARIANT_TRUE);
    EXPECT_EQ(visits, static_cast<ULONG>(kVisits)) << f;
  }
}

TEST_F(FileRankingTest, AnotherUsersRecordIsNotValidAndIsStartedAfresh) {
  ASSERT_EQ(Update(file), S_OK);
  ASSERT_EQ(Update(file, kEnd + 0.01), S_OK);
  Guid oldKey;
  Stored(&oldKey);
  tc.registry().SetValue(platform::Hive::CurrentUser, kVesperKey, "Identity",
                         platform::RegValue::Sz("OTHER\\user"));
  VARIANT_BOOL valid = VARIANT_TRUE;
  ULONG visits = 77;
  ASSERT_EQ(fr.GetRankingSet(&file, &valid, nullptr, nullptr, nullptr, nullptr, &visits, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(valid, VARIANT_FALSE);
  EXPECT_EQ(visits, 77u);  // outputs untouched
  std::string key;
  ASSERT_EQ(fr.get_CurrentScope(&scope), S_OK);
  ASSERT_EQ(fr.PreRank(&file, nullptr, &key, nullptr), S_OK);
  EXPECT_NE(key, FormatGuid(oldKey));
  ASSERT_EQ(Update(file, kEnd + 0.02, 120, &key), S_OK);
  Guid newKey;
  const auto s = Stored(&newKey);
  EXPECT_EQ(s.visits, 1u);
  EXPECT_EQ(s.scope, ScopeHash("OTHER\\user"));
  EXPECT_EQ(FormatGuid(newKey), key);
}

TEST_F(FileRankingTest, DamagedRecordsAndBadKeysAreRebuiltWithAWarning) {
  const std::string attr = platform::PropertySetAttributeName(ranking::kRankingFmtid);
  ASSERT_EQ(::setxattr(file.c_str(), attr.c_str(), "garbage", 7, 0), 0);
  VARIANT_BOOL valid;
  EXPECT_TRUE(Failed(fr.GetRankingSet(&file, &valid, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr)));
  const std::string bad = "not-a-guid";
  ASSERT_EQ(Update(file, kEnd, 120, &bad), S_OK);
  Guid key;
  EXPECT_EQ(Stored(&key).visits, 1u);
  EXPECT_FALSE(key.IsNull());
  EXPECT_EQ(tc.EventIds(), (std::vector<std::uint32_t>{kEventRecordReadFailed, kEventBadSearchKey}));
  const auto events = tc.eventLog().ReadAll();
  EXPECT_EQ(events[0].type, platform::EventType::Warning);
  EXPECT_EQ(events[0].strings.at(0), file);

  // A record with a property of the wrong type counts as absent and is replaced.
  auto ps = ranking::MakeRankingPropertySet(key, Stored());
  ps.values[ranking::kPidVisits] = platform::PropVariant::I4(5);
  ASSERT_NO_FATAL_FAILURE(StoreAsIs(ps));
  EXPECT_EQ(fr.GetRankingSet(&file, &valid, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            E_FAIL);
  ASSERT_EQ(Update(file, kEnd + 0.01), S_OK);
  EXPECT_EQ(Stored().visits, 1u);

  // Our record's bytes under another set's identifier inside: damaged, and rebuilt.
  ASSERT_EQ(Update(file, kEnd + 0.02), S_OK);
  ASSERT_EQ(Stored().visits, 2u);
  platform::PropertySet foreign = ranking::MakeRankingPropertySet(key, Stored());
  foreign.fmtid = Guid{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  const auto bytes = platform::SerializePropertySet(foreign);
  ASSERT_EQ(::setxattr(file.c_str(), attr.c_str(), bytes.data(), bytes.size(), 0), 0);
  ASSERT_EQ(Update(file, kEnd + 0.03), S_OK);
  EXPECT_EQ(Stored().visits, 1u);
  EXPECT_EQ(tc.EventIds(), (std::vector<std::uint32_t>{kEventRecordReadFailed, kEventBadSearchKey,
                                                       kEventRecordReadFailed}));
}

TEST_F(FileRankingTest, ARecordLaidOutByAnotherProgramIsReadAndCarriedOn) {
  ASSERT_EQ(Update(file), S_OK);
  Guid key;
  ranking::RankingSet first = Stored(&key);
  // The same record with a property of its own added, as another program may keep it.
  auto ps = ranking::MakeRankingPropertySet(key, first);
  ps.values[40] = platform::PropVariant::Lpstr("kept by another program");
  ASSERT_NO_FATAL_FAILURE(StoreAsIs(ps));
  ASSERT_EQ(Update(file, kEnd + 0.01, 60), S_OK);
  Guid again;
  ranking::RankingSet second = Stored(&again);
  EXPECT_EQ(again, key);
  EXPECT_EQ(second.visits, 2u);
  EXPECT_EQ(second.workingTime, first.workingTime + 60);

  // One larger than a first read takes, then an ordinary one, by the same object.
  ps = ranking::MakeRankingPropertySet(key, second);
  ps.values[41] = platform::PropVariant::Blob(std::vector<std::uint8_t>(3000, 0x5A));
  ASSERT_NO_FATAL_FAILURE(StoreAsIs(ps));
  ASSERT_EQ(Update(file, kEnd + 0.02, 60), S_OK);
  EXPECT_EQ(Stored().visits, 3u);
  ASSERT_EQ(Update(file, kEnd + 0.03, 60), S_OK);
  second = Stored(&again);
  EXPECT_EQ(again, key);
  EXPECT_EQ(second.visits, 4u);
  EXPECT_EQ(second.workingTime, first.workingTime + 180);
  EXPECT_TRUE(tc.EventIds().empty());
}

TEST_F(FileRankingTest, DeleteRankRemovesTheRecordAndToleratesItsAbsence) {
  EXPECT_EQ(fr.DeleteRank(&file), S_OK);
  ASSERT_EQ(Update(file), S_OK);
  EXPECT_TRUE(HasRecord(file));
  EXPECT_EQ(fr.DeleteRank(&file), S_OK);
  EXPECT_FALSE(HasRecord(file));
  VARIANT_BOOL valid;
  EXPECT_EQ(fr.GetRankingSet(&file, &valid, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            STG_E_FILENOTFOUND);
  EXPECT_EQ(fr.DeleteRank(nullptr), E_INVALIDARG);
  const std::string missing = (tc.root() / "missing").string();
  EXPECT_EQ(fr.DeleteRank(&missing), STG_E_FILENOTFOUND);
}

TEST_F(FileRankingTest, ModificationTimeMovesForwardAtMostTwoSeconds) {
  // A file last changed a year ago.
  const FileTime yearAgo = *DateToFileTime(kEnd - 365);
  ASSERT_EQ(platform::SetLastWriteTime(file, yearAgo), S_OK);
  ASSERT_EQ(Update(file), S_OK);
  platform::FileAttributes a;
  ASSERT_EQ(platform::GetFileAttributes(file, a), S_OK);
  EXPECT_EQ(a.lastWrite, yearAgo + kModificationSlack);

  // A file changed a moment ago moves no further than the moment of the property write.
  Write(file, "edited just now");
  platform::FileAttributes before;
  ASSERT_EQ(platform::GetFileAttributes(file, before), S_OK);
  ASSERT_EQ(Update(file, kEnd + 0.01), S_OK);
  ASSERT_EQ(platform::GetFileAttributes(file, a), S_OK);
  EXPECT_GE(a.lastWrite, before.lastWrite);
  EXPECT_LE(a.lastWrite, before.lastWrite + kModificationSlack);
  EXPECT_LE(a.lastWrite, a.lastChange);  // never past the write itself

  // The bound that lets an update skip its stat comes before the stamp of the next change,
  // and not by much.
  const FileTime bound = platform::ChangeTimeLowerBound();
  Write(file, "edited again");
  ASSERT_EQ(platform::GetFileAttributes(file, a), S_OK);
  EXPECT_LE(bound, a.lastChange);
  EXPECT_GT(bound + 3 * kFileTimeTicksPerSecond, a.lastChange);
}

TEST_F(FileRankingTest, InvalidVisitsAreRefusedAndWriteNothing) {
  const std::string f = file;
  EXPECT_EQ(fr.UpdateRank(&f, 5, 1, kEnd, kEnd, 10, 10, scope, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(fr.UpdateRank(&f, 5, 1, 0.0, std::numeric_limits<double>::quiet_NaN(), 10, 10, scope,
                          0, nullptr),
            E_INVALIDARG);
  EXPECT_FALSE(HasRecord(f));
  EXPECT_EQ(fr.UpdateRank(nullptr, 5, 1, kEnd - 1, kEnd, 10, 10, scope, 0, nullptr), S_FALSE);
}

TEST(FileRankingClasses, AreCreatedByClassIdAndProgId) {
  TestContext tc;
  RegisterRankingClasses(tc.ctx());
  std::shared_ptr<IKivFileRanking> fr;
  EXPECT_EQ(tc.classes().CreateInstance(CLSID_FileRanking, fr), S_OK);
  Guid clsid;
  ASSERT_EQ(tc.classes().ClsidFromProgId("Pelion.BaseActivation", clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_BaseActivation);
  std::shared_ptr<IKivFileRanking> wrong;
  EXPECT_EQ(tc.classes().CreateInstance(CLSID_BaseActivation, wrong), E_NOINTERFACE);
}

}  // namespace
}  // namespace qv
