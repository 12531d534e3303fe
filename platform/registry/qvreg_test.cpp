// Runs the built qvreg tool against a temporary root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/hresult.h"
#include "common/temp_dir.h"
#include "platform/registry/registry.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class QvregTest : public ::testing::Test {
 protected:
  // Runs qvreg with QV_ROOT set to the test's root and stdin from /dev/null.
  ToolRun Qvreg(std::vector<std::string> args) {
    const fs::path outFile = dir_.path() / "stdout";
    const fs::path errFile = dir_.path() / "stderr";
    std::vector<char*> argv;
    std::string prog = QVREG_PATH;
    argv.push_back(prog.data());
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string rootEnv = "QV_ROOT=" + dir_.path().string();
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int in = ::open("/dev/null", O_RDONLY);
      const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0) ::_exit(127);
      ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
      ::putenv(const_cast<char*>(rootEnv.c_str()));
      ::execv(prog.c_str(), argv.data());
      ::_exit(127);
    }
    ToolRun r;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
      r.exitCode = WEXITSTATUS(status);
    }
    r.out = Slurp(outFile);
    r.err = Slurp(errFile);
    return r;
  }

  TempDir dir_;
  Registry reg_{dir_.path()};
};

TEST_F(QvregTest, AddThenQueryLooksLikeRegExe) {
  ASSERT_EQ(Qvreg({"add", "HKCU\\Software\\Quillon\\Vesper", "/v", "Identity", "/d", "host\\user"}).exitCode, 0);
  ASSERT_EQ(Qvreg({"add", "hkcu\\software\\quillon\\vesper", "/v", "Timeout", "/t", "REG_DWORD",
                   "/d", "30"}).exitCode, 0);
  ASSERT_EQ(Qvreg({"add", "HKEY_CURRENT_USER\\Software\\Quillon\\Vesper\\Files"}).exitCode, 0);
  const ToolRun q = Qvreg({"query", "HKCU\\Software\\Quillon\\Vesper"});
  EXPECT_EQ(q.exitCode, 0) << q.err;
  EXPECT_EQ(q.out,
            "\nHKEY_CURRENT_USER\\Software\\Quillon\\Vesper\n"
            "    Identity    REG_SZ    host\\user\n"
            "    Timeout    REG_DWORD    0x1e\n"
            "\n"
            "HKEY_CURRENT_USER\\Software\\Quillon\\Vesper\\Files\n");
  const ToolRun v = Qvreg({"query", "HKCU\\Software\\Quillon\\Vesper", "/v", "timeout"});
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_NE(v.out.find("    timeout    REG_DWORD    0x1e\n"), std::string::npos) << v.out;
  RegValue got;
  ASSERT_EQ(reg_.GetValue(Hive::CurrentUser, "Software\\Quillon\\Vesper", "Identity", got), 0);
  EXPECT_EQ(got, RegValue::Sz("host\\user"));
}

TEST_F(QvregTest, AddsEveryType) {
  const std::string key = "HKLM\\Software\\Quillon\\Vesper";
  ASSERT_EQ(Qvreg({"add", key, "/v", "M", "/t", "REG_MULTI_SZ", "/d", "a\\0b c\\0d"}).exitCode, 0);
  ASSERT_EQ(Qvreg({"add", key, "/v", "S", "/t", "reg_multi_sz", "/s", "#", "/d", "x#y"}).exitCode, 0);
  ASSERT_EQ(Qvreg({"add", key, "/v", "E", "/t", "REG_EXPAND_SZ", "/d", "%HOME%\\x"}).exitCode, 0);
  ASSERT_EQ(Qvreg({"add", key, "/v", "B", "/t", "REG_BINARY", "/d", "00FFa1"}).exitCode, 0);
  ASSERT_EQ(Qvreg({"add", key, "/v", "H", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}).exitCode, 0);
  ASSERT_EQ(Qvreg({"add", key, "/ve", "/d", "default"}).exitCode, 0);
  const std::pair<const char*, RegValue> expected[] = {
      {"M", RegValue::MultiSz({"a", "b c", "d"})}, {"S", RegValue::MultiSz({"x", "y"})},
      {"E", RegValue::ExpandSz("%HOME%\\x")},      {"B", RegValue::Binary({0x00, 0xFF, 0xA1})},
      {"H", RegValue::Dword(0xFFFFFFFF)},          {"", RegValue::Sz("default")},
  };
  for (const auto& [name, value] : expected) {
    RegValue got;
    ASSERT_EQ(reg_.GetValue(Hive::LocalMachine, "Software\\Quillon\\Vesper", name, got), 0) << name;
    EXPECT_EQ(got, value) << name;
  }
  const ToolRun q = Qvreg({"query", key});
  EXPECT_NE(q.out.find("    M    REG_MULTI_SZ    a\\0b c\\0d\n"), std::string::npos) << q.out;
  EXPECT_NE(q.out.find("    B    REG_BINARY    00FFA1\n"), std::string::npos);
  EXPECT_NE(q.out.find("    (Default)    REG_SZ    default\n"), std::string::npos);

  for (const char* bad : {"4294967296", "-1", "12x", "0x"}) {
    const ToolRun r = Qvreg({"add", key, "/v", "D", "/t", "REG_DWORD", "/d", bad});
    EXPECT_EQ(r.exitCode, 1) << bad;
    EXPECT_NE(r.err.find("REG_DWORD"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Qvreg({"add", key, "/v", "B", "/t", "REG_BINARY", "/d", "ABC", "/f"}).exitCode, 1);
  EXPECT_EQ(Qvreg({"add", key, "/v", "Q", "/t", "REG_QWORD", "/d", "1"}).exitCode, 1);
}

TEST_F(QvregTest, OverwriteAndDeleteNeedForce) {
  const std::string key = "HKCU\\Software\\Q";
  ASSERT_EQ(Qvreg({"add", key, "/v", "n", "/d", "one"}).exitCode, 0);
  const ToolRun again = Qvreg({"add", key, "/v", "N", "/d", "two"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("/f"), std::string::npos) << again.err;
  EXPECT_EQ(Qvreg({"add", key, "/v", "N", "/d", "two", "/f"}).exitCode, 0);
  RegValue got;
  ASSERT_EQ(reg_.GetValue(Hive::CurrentUser, "Software\\Q", "n", got), 0);
  EXPECT_EQ(got, RegValue::Sz("two"));

  const ToolRun noForce = Qvreg({"delete", key, "/v", "n"});
  EXPECT_EQ(noForce.exitCode, 1);
  EXPECT_NE(noForce.err.find("/f"), std::string::npos);
  EXPECT_TRUE(reg_.GetValue(Hive::CurrentUser, "Software\\Q", "n", got) == 0);
  EXPECT_EQ(Qvreg({"delete", key, "/v", "n", "/f"}).exitCode, 0);
  EXPECT_EQ(reg_.GetValue(Hive::CurrentUser, "Software\\Q", "n", got), win32::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Qvreg({"delete", key, "/f"}).exitCode, 0);
  EXPECT_FALSE(reg_.KeyExists(Hive::CurrentUser, "Software\\Q"));
  const ToolRun missing = Qvreg({"delete", key, "/f"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("unable to find"), std::string::npos) << missing.err;
  EXPECT_EQ(Qvreg({"delete", "HKCU", "/f"}).exitCode, 1);  // a hive's root stays
}

TEST_F(QvregTest, ExportsToStdoutAndFile) {
  ASSERT_EQ(reg_.SetValue(Hive::ClassesRoot, "Pelion.X.1\\CLSID", "", RegValue::Sz("{1}")), 0);
  const ToolRun r = Qvreg({"export", "HKCR\\Pelion.X.1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\Pelion.X.1]\n\n"
            "[HKEY_CLASSES_ROOT\\Pelion.X.1\\CLSID]\n@=\"{1}\"\n\n");
  const std::string file = (dir_.path() / "out.reg").string();
  EXPECT_EQ(Qvreg({"export", "HKCR\\Pelion.X.1", file}).exitCode, 0);
  EXPECT_EQ(Slurp(file), r.out);
  const ToolRun exists = Qvreg({"export", "HKCR", file});
  EXPECT_EQ(exists.exitCode, 1);
  EXPECT_NE(exists.err.find("/y"), std::string::npos);
  EXPECT_EQ(Qvreg({"export", "HKCR", file, "/y"}).exitCode, 0);
  EXPECT_EQ(Slurp(file), Slurp(reg_.HivePath(Hive::ClassesRoot)));
}

TEST_F(QvregTest, FailuresSayWhatToDo) {
  const ToolRun help = Qvreg({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("qvreg query"), std::string::npos);
  EXPECT_EQ(Qvreg({}).exitCode, 1);
  const ToolRun unknown = Qvreg({"frobnicate", "HKCU"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("--help"), std::string::npos);
  const ToolRun badHive = Qvreg({"query", "HKXX\\Software"});
  EXPECT_EQ(badHive.exitCode, 1);
  EXPECT_NE(badHive.err.find("HKCU"), std::string::npos);
  EXPECT_EQ(Qvreg({"query", "HKCU\\Software\\Missing"}).exitCode, 1);
  EXPECT_EQ(Qvreg({"add", "HKCU\\a\\\\b"}).exitCode, 1);

  const std::string broken = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x\n";
  fs::create_directories(dir_.path() / "registry");
  std::ofstream(reg_.HivePath(Hive::CurrentUser), std::ios::binary) << broken;
  const ToolRun corrupt = Qvreg({"add", "HKCU\\Software", "/v", "x", "/d", "y"});
  EXPECT_EQ(corrupt.exitCode, 1);
  EXPECT_NE(corrupt.err.find("HKEY_CURRENT_USER.reg"), std::string::npos) << corrupt.err;
  EXPECT_NE(corrupt.err.find("line 3"), std::string::npos) << corrupt.err;
  EXPECT_NE(corrupt.err.find("Repair"), std::string::npos) << corrupt.err;
  EXPECT_EQ(Slurp(reg_.HivePath(Hive::CurrentUser)), broken);
}

}  // namespace
}  // namespace qv::platform
