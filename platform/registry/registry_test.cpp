#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/hresult.h"
#include "common/temp_dir.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/reg_names.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
constexpr std::string_view kVesper = "Software\\Quillon\\Vesper";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& p, std::string_view text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir_;
  Registry reg_{dir_.path()};
  fs::path Hkcu() const { return reg_.HivePath(Hive::CurrentUser); }
};

TEST_F(RegistryTest, EveryTypeSurvivesTheFile) {
  const std::vector<std::pair<std::string, RegValue>> values = {
      {"Timeout", RegValue::Dword(30)},
      {"Max", RegValue::Dword(0xFFFFFFFF)},
      {"Identity", RegValue::Sz("host\\user \"quoted\"")},
      {"Unicode", RegValue::Sz("Grüße 日本 \U0001F600")},
      {"Empty", RegValue::Sz("")},
      {"Lines", RegValue::Sz("one\ntwo")},
      {"Path", RegValue::ExpandSz("%HOME%\\.cache")},
      {"List", RegValue::MultiSz({"a", "b c", "ü"})},
      {"NoStrings", RegValue::MultiSz({})},
      {"Blob", RegValue::Binary({1, 2, 3, 0, 255})},
      {"", RegValue::Sz("default value")},
  };
  for (const auto& [name, v] : values) ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, kVesper, name, v), 0);
  // A fresh instance has no cache: everything comes from the file.
  Registry other(dir_.path());
  for (const auto& [name, v] : values) {
    RegValue got;
    ASSERT_EQ(other.GetValue(Hive::CurrentUser, kVesper, name, got), 0) << name;
    EXPECT_EQ(got, v) << name;
  }
  std::vector<std::pair<std::string, RegValue>> listed;
  ASSERT_EQ(other.EnumValues(Hive::CurrentUser, kVesper, listed), 0);
  EXPECT_EQ(listed, values);
  EXPECT_NE(ReadFile(Hkcu()).find("\"Timeout\"=dword:0000001e"), std::string::npos);
}

TEST_F(RegistryTest, SetValueStoresOnlyWhatTheTypeUses) {
  RegValue v = RegValue::Dword(5);
  v.text = "stray";
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "K", "n", v), 0);
  RegValue got;
  ASSERT_EQ(reg_.GetValue(Hive::CurrentUser, "K", "n", got), 0);
  EXPECT_EQ(got, RegValue::Dword(5));
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, kVesper, "InactivityTimeout", RegValue::Dword(1)), 0);
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "SOFTWARE\\quillon\\VESPER", "inactivitytimeout",
                          RegValue::Dword(2)),
            0);
  RegValue got;
  ASSERT_EQ(reg_.GetValue(Hive::CurrentUser, "software\\QUILLON\\vesper", "INACTIVITYTIMEOUT", got), 0);
  EXPECT_EQ(got, RegValue::Dword(2));
  std::vector<std::string> keys;
  ASSERT_EQ(reg_.EnumKeys(Hive::CurrentUser, "software", keys), 0);
  EXPECT_EQ(keys, std::vector<std::string>{"Quillon"});
  std::vector<std::pair<std::string, RegValue>> values;
  ASSERT_EQ(reg_.EnumValues(Hive::CurrentUser, kVesper, values), 0);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].first, "InactivityTimeout");
  EXPECT_TRUE(reg_.KeyExists(Hive::CurrentUser, "SoftWare\\Quillon"));
  // Non-ASCII letters are not folded.
  ASSERT_EQ(reg_.CreateKey(Hive::CurrentUser, "Ä"), 0);
  EXPECT_FALSE(reg_.KeyExists(Hive::CurrentUser, "ä"));
}

TEST_F(RegistryTest, EnumerationKeepsStoredOrder) {
  for (std::string_view k : {"Zeta", "alpha", "Mid"}) ASSERT_EQ(reg_.CreateKey(Hive::CurrentUser, std::string("Top\\") + std::string(k)), 0);
  for (std::string_view n : {"z", "a", "m"}) {
    ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "Top", n, RegValue::Dword(1)), 0);
  }
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "Top", "Z", RegValue::Dword(9)), 0);  // keeps place
  ASSERT_EQ(reg_.DeleteValue(Hive::CurrentUser, "Top", "a"), 0);
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "Top", "a", RegValue::Dword(2)), 0);  // goes last
  std::vector<std::string> keys;
  ASSERT_EQ(reg_.EnumKeys(Hive::CurrentUser, "Top", keys), 0);
  EXPECT_EQ(keys, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  std::vector<std::pair<std::string, RegValue>> values;
  ASSERT_EQ(reg_.EnumValues(Hive::CurrentUser, "Top", values), 0);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0], (std::pair<std::string, RegValue>{"z", RegValue::Dword(9)}));
  EXPECT_EQ(values[1].first, "m");
  EXPECT_EQ(values[2].first, "a");
}

TEST_F(RegistryTest, DeleteKeyTakesEverythingBelowIt) {
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "A\\B\\C", "v", RegValue::Dword(1)), 0);
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "A\\B", "w", RegValue::Dword(1)), 0);
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "A2", "x", RegValue::Dword(1)), 0);
  ASSERT_EQ(reg_.DeleteKey(Hive::CurrentUser, "a\\b"), 0);
  EXPECT_TRUE(reg_.KeyExists(Hive::CurrentUser, "A"));
  EXPECT_FALSE(reg_.KeyExists(Hive::CurrentUser, "A\\B"));
  EXPECT_FALSE(reg_.KeyExists(Hive::CurrentUser, "A\\B\\C"));
  // Recreating the key does not bring anything back.
  ASSERT_EQ(reg_.CreateKey(Hive::CurrentUser, "A\\B"), 0);
  RegValue got;
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, "A\\B", "w", got), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, "A2", "x", got), 0);

  EXPECT_EQ(reg_.DeleteKey(Hive::CurrentUser, "Missing"), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.DeleteKey(Hive::CurrentUser, "A\\Missing\\Deeper"), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.DeleteKey(Hive::CurrentUser, ""), win32::ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg_.DeleteValue(Hive::CurrentUser, "A2", "nope"), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.DeleteValue(Hive::CurrentUser, "Nope", "x"), win32::ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, MissingThingsAndBadNames) {
  RegValue got;
  std::vector<std::string> keys;
  // No registry folder at all yet.
  EXPECT_EQ(reg_.GetValue(Hive::LocalMachine, kVesper, "x", got), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_.EnumKeys(Hive::LocalMachine, kVesper, keys), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(reg_.KeyExists(Hive::LocalMachine, ""));
  EXPECT_EQ(reg_.EnumKeys(Hive::LocalMachine, "", keys), 0);

  ASSERT_EQ(reg_.SetValue(Hive::LocalMachine, kVesper, "x", RegValue::Dword(1)), 0);
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, kVesper, "x", got), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(fs::exists(dir_.path() / "registry" / "HKEY_LOCAL_MACHINE.reg"));
  EXPECT_FALSE(fs::exists(Hkcu()));

  for (std::string_view bad : {"\\Software", "Software\\", "Software\\\\Quillon", "a\nb"}) {
    EXPECT_EQ(reg_.SetValue(Hive::CurrentUser, bad, "x", RegValue::Dword(1)),
              win32::ERROR_INVALID_PARAMETER) << bad;
    EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, bad, "x", got), win32::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(reg_.KeyExists(Hive::CurrentUser, bad));
  }
  EXPECT_EQ(reg_.CreateKey(Hive::CurrentUser, std::string(256, 'k')),
            win32::ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(reg_.CreateKey(Hive::CurrentUser, std::string(255, 'k')), 0);
  EXPECT_EQ(reg_.SetValue(Hive::CurrentUser, "K", std::string(16384, 'v'), RegValue::Dword(1)),
            win32::ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(reg_.SetValue(Hive::CurrentUser, "K", std::string(16383, 'v'), RegValue::Dword(1)), 0);
  EXPECT_EQ(reg_.SetValue(Hive::CurrentUser, "K", "x", RegValue::Sz("\xFF")),
            win32::ERROR_INVALID_PARAMETER);
  // Nothing rejected above reached the file.
  std::string text = ReadFile(Hkcu());
  EXPECT_EQ(text.find("Software"), std::string::npos);
}

TEST_F(RegistryTest, CorruptHiveIsReportedAndNeverOverwritten) {
  const std::string broken =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n"
      "\"Keep\"=\"precious\"\n\"Bad\"=dword:zz\n";
  WriteFile(Hkcu(), broken);
  RegValue got;
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, "Software", "Keep", got), win32::ERROR_BADDB);
  EXPECT_EQ(reg_.SetValue(Hive::CurrentUser, "Software", "New", RegValue::Dword(1)),
            win32::ERROR_BADDB);
  EXPECT_EQ(reg_.DeleteKey(Hive::CurrentUser, "Software"), win32::ERROR_BADDB);
  EXPECT_EQ(reg_.DeleteValue(Hive::CurrentUser, "Software", "Keep"), win32::ERROR_BADDB);
  EXPECT_EQ(reg_.CreateKey(Hive::CurrentUser, "Other"), win32::ERROR_BADDB);
  EXPECT_FALSE(reg_.KeyExists(Hive::CurrentUser, "Software"));
  std::string detail;
  EXPECT_EQ(reg_.CheckHive(Hive::CurrentUser, detail), win32::ERROR_BADDB);
  EXPECT_NE(detail.find("line 5"), std::string::npos) << detail;
  EXPECT_EQ(ReadFile(Hkcu()), broken);
  // Other hives are unaffected.
  EXPECT_EQ(reg_.SetValue(Hive::LocalMachine, "Software", "New", RegValue::Dword(1)), 0);
  // Once repaired, the hive works again.
  WriteFile(Hkcu(), broken.substr(0, broken.find("\"Bad\"")));
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, "Software", "Keep", got), 0);
  EXPECT_EQ(got, RegValue::Sz("precious"));
}

TEST_F(RegistryTest, OversizedHiveIsRefusedBeforeParsing) {
  std::string huge = "Windows Registry Editor Version 5.00\n";
  huge.resize(kMaxHiveBytes + 1, '\n');
  WriteFile(Hkcu(), huge);
  RegValue got;
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, "K", "x", got), win32::ERROR_BADDB);
  EXPECT_EQ(reg_.SetValue(Hive::CurrentUser, "K", "x", RegValue::Dword(1)), win32::ERROR_BADDB);
  std::string detail;
  reg_.CheckHive(Hive::CurrentUser, detail);
  EXPECT_NE(detail.find("larger than"), std::string::npos) << detail;
  EXPECT_EQ(fs::file_size(Hkcu()), huge.size());
}

TEST_F(RegistryTest, HivePathThatIsNotAFileIsAnError) {
  fs::create_directories(Hkcu());
  RegValue got;
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, "K", "x", got), win32::ERROR_BADDB);
  EXPECT_NE(reg_.SetValue(Hive::CurrentUser, "K", "x", RegValue::Dword(1)), 0);
  // A file where the registry folder should be.
  TempDir other;
  WriteFile(other.path() / "registry", "not a folder");
  Registry reg(other.path());
  EXPECT_NE(reg.SetValue(Hive::CurrentUser, "K", "x", RegValue::Dword(1)), 0);
}

TEST_F(RegistryTest, LeftoverTempFileOfACrashedWriterIsHarmless) {
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, kVesper, "Before", RegValue::Dword(1)), 0);
  const fs::path stale = Hkcu().string() + ".tmp-Ab12Cd";
  WriteFile(stale, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Softw");
  Registry reader(dir_.path());
  RegValue got;
  ASSERT_EQ(reader.GetValue(Hive::CurrentUser, kVesper, "Before", got), 0);
  EXPECT_EQ(got, RegValue::Dword(1));
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, kVesper, "After", RegValue::Dword(2)), 0);
  EXPECT_FALSE(fs::exists(stale));  // the next writer clears it away
  ASSERT_EQ(reader.GetValue(Hive::CurrentUser, kVesper, "After", got), 0);
  for (const auto& e : fs::directory_iterator(dir_.path() / "registry")) {
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
  }
}

TEST_F(RegistryTest, UnchangedWriteLeavesTheFileAlone) {
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, kVesper, "x", RegValue::Dword(1)), 0);
  struct stat before {}, after {};
  ASSERT_EQ(::stat(Hkcu().c_str(), &before), 0);
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "SOFTWARE\\Quillon\\Vesper", "X", RegValue::Dword(1)), 0);
  ASSERT_EQ(reg_.CreateKey(Hive::CurrentUser, kVesper), 0);
  ASSERT_EQ(::stat(Hkcu().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(RegistryTest, ReadersSeeEveryRewriteEvenWithEqualSizeAndTime) {
  Registry reader(dir_.path());
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "K", "v", RegValue::Dword(1)), 0);
  RegValue got;
  ASSERT_EQ(reader.GetValue(Hive::CurrentUser, "K", "v", got), 0);
  EXPECT_EQ(got.dword, 1u);
  struct stat st {};
  ASSERT_EQ(::stat(Hkcu().c_str(), &st), 0);
  // An editor rewrites the file in place with the same size and time stamps.
  std::string text = ReadFile(Hkcu());
  const std::size_t pos = text.find("dword:00000001");
  ASSERT_NE(pos, std::string::npos);
  text[pos + 13] = '7';
  WriteFile(Hkcu(), text);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, Hkcu().c_str(), times, 0), 0);
  ASSERT_EQ(reader.GetValue(Hive::CurrentUser, "K", "v", got), 0);
  EXPECT_EQ(got.dword, 7u);
}

TEST_F(RegistryTest, ExportGivesTheKeyAndWhatIsBelow) {
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, kVesper, "a", RegValue::Dword(1)), 0);
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "Software\\Quillon\\Vesper\\Files", "b", RegValue::Sz("x")), 0);
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, "Software\\Other", "c", RegValue::Dword(3)), 0);
  std::string text;
  ASSERT_EQ(reg_.Export(Hive::CurrentUser, "software\\quillon\\vesper", text), 0);
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Quillon\\Vesper]\n\"a\"=dword:00000001\n\n"
            "[HKEY_CURRENT_USER\\Software\\Quillon\\Vesper\\Files]\n\"b\"=\"x\"\n\n");
  ASSERT_EQ(reg_.Export(Hive::CurrentUser, "", text), 0);
  EXPECT_EQ(text, ReadFile(Hkcu()));
  EXPECT_EQ(reg_.Export(Hive::CurrentUser, "Nope", text), win32::ERROR_FILE_NOT_FOUND);
}

// Several processes write different values into one key at once: every value lands, and a
// reader meanwhile never sees a torn file.
TEST_F(RegistryTest, ConcurrentWritersFromSeveralProcessesLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 25;
  ASSERT_EQ(reg_.SetValue(Hive::CurrentUser, kVesper, "Seed", RegValue::Dword(0)), 0);
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Registry reg(dir_.path());
      int failures = 0;
      for (int i = 0; i < kValuesEach; ++i) {
        const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
        failures += reg.SetValue(Hive::CurrentUser, kVesper, name, RegValue::Dword(i)) != 0;
        // Keys too, each writer its own.
        failures += reg.CreateKey(Hive::CurrentUser, std::string(kVesper) + "\\K" +
                                                         std::to_string(w) + "_" + std::to_string(i)) != 0;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    pids.push_back(pid);
  }
  int readFailures = 0;
  bool running = true;
  while (running) {
    RegValue got;
    readFailures += reg_.GetValue(Hive::CurrentUser, kVesper, "Seed", got) != 0;
    running = false;
    for (pid_t& pid : pids) {
      if (pid == 0) continue;
      int status = 0;
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == 0) {
        running = true;
      } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        pid = 0;
      }
    }
  }
  EXPECT_EQ(readFailures, 0);
  Registry fresh(dir_.path());
  std::vector<std::pair<std::string, RegValue>> values;
  ASSERT_EQ(fresh.EnumValues(Hive::CurrentUser, kVesper, values), 0);
  EXPECT_EQ(values.size(), 1u + kWriters * kValuesEach);
  std::vector<std::string> keys;
  ASSERT_EQ(fresh.EnumKeys(Hive::CurrentUser, kVesper, keys), 0);
  EXPECT_EQ(keys.size(), static_cast<std::size_t>(kWriters * kValuesEach));
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValuesEach; ++i) {
      RegValue got;
      ASSERT_EQ(fresh.GetValue(Hive::CurrentUser, kVesper,
                               "w" + std::to_string(w) + "_" + std::to_string(i), got),
                0);
      EXPECT_EQ(got, RegValue::Dword(i));
    }
  }
}

TEST(RegistryNames, HiveNamesParseInEveryForm) {
  Hive h;
  ASSERT_TRUE(ParseHiveName("hklm", h));
  EXPECT_EQ(h, Hive::LocalMachine);
  ASSERT_TRUE(ParseHiveName("HKEY_CURRENT_USER", h));
  EXPECT_EQ(h, Hive::CurrentUser);
  ASSERT_TRUE(ParseHiveName("Hkey_Classes_Root", h));
  EXPECT_EQ(h, Hive::ClassesRoot);
  EXPECT_FALSE(ParseHiveName("HKU", h));
  EXPECT_FALSE(ParseHiveName("", h));
  EXPECT_EQ(HiveName(Hive::ClassesRoot), "HKEY_CLASSES_ROOT");
}

}  // namespace
}  // namespace qv::platform
