// `cmake --install` of this build into a private prefix, checked as a user would: every
// program in bin/, units and desktop entries that name the installed programs, and the
// installed qvstatus working on a fresh root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Output {
  int status = -1;
  std::string text;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Output Shell(const std::string& cmd) {
  Output r;
  FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf{};
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) r.text.append(buf.data(), n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Read(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  std::stringstream s(list);
  for (std::string item; std::getline(s, item, ',');) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

class InstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // CTest names the build; run by hand, the test installs the build it belongs to.
    const char* build = std::getenv("QV_BUILD_DIR");
    if (!build) build = QV_OWN_BUILD_DIR;
    if ( ::access(QV_CMAKE_COMMAND, X_OK) != 0) return;
    dir_ = new qv::TempDir;
    // A space in the prefix, as in a home folder named "Jane Doe".
    prefix_ = new fs::path(dir_->path() / "my prefix");
    result_ = new Output(Shell(std::string(QV_CMAKE_COMMAND) + " --install " + Quote(build) +
                               " --prefix " + Quote(prefix_->string())));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete prefix_;
    delete dir_;
    result_ = nullptr;
    prefix_ = nullptr;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!result_) GTEST_SKIP() << "cmake (" << QV_CMAKE_COMMAND << ") is not installed";
    ASSERT_EQ(result_->status, 0) << result_->text;
  }
  static fs::path bin() { return *prefix_ / QV_BINDIR; }
  static fs::path units() { return *prefix_ / QV_DATADIR / "systemd" / "user"; }

  static inline qv::TempDir* dir_ = nullptr;
  static inline fs::path* prefix_ = nullptr;
  static inline Output* result_ = nullptr;
};

TEST_F(InstallTest, EveryProgramIsInstalledAndRuns) {
  const auto programs = Split(QV_PROGRAMS);
  for (const char* needed : {"QvTracer", "qvstatus", "qvindex", "qvindexer", "qvreg"}) {
    EXPECT_NE(std::find(programs.begin(), programs.end(), needed), programs.end()) << needed;
  }
  for (const auto& p : programs) {
    EXPECT_EQ(::access((bin() / p).c_str(), X_OK), 0) << p << " is not installed";
  }
  // A program that links the visit library starts from where it was installed.
  if (std::find(programs.begin(), programs.end(), "qvvisit") != programs.end()) {
    EXPECT_EQ(::access((bin() / "libQvHooks.so").c_str(), R_OK), 0);
    const Output visit = Shell(Quote((bin() / "qvvisit").string()) + " --help");
    EXPECT_EQ(visit.status, 0) << visit.text;
  }
  // The installed QvSeek finds its window module beside it (a search from the command line
  // never loads it).
  if (QV_WITH_SEEK_WINDOW) {
    EXPECT_EQ(::access((bin() / "libQvSeekWindow.so").c_str(), R_OK), 0);
    const fs::path shot = dir_->path() / "window.png";
    const Output w = Shell("QT_QPA_PLATFORM=offscreen QV_ROOT=" +
                           Quote((dir_->path() / "window root").string()) + " " +
                           Quote((bin() / "QvSeek").string()) + " --screenshot " +
                           Quote(shot.string()));
    EXPECT_EQ(w.status, 0) << w.text;
    EXPECT_TRUE(fs::exists(shot)) << w.text;
  }
  // The installed qvstatus on a fresh root reports the three shared catalogs.
  const Output r = Shell(Quote((bin() / "qvstatus").string()) + " --root " +
                         Quote((dir_->path() / "fresh root").string()));
  EXPECT_EQ(r.status, 0) << r.text;
  for (const char* name : {"QuillonWebHistory", "QuillonJournal", "Web history:", "Journal:"}) {
    EXPECT_NE(r.text.find(name), std::string::npos) << r.text;
  }
}

// A program run from the build tree loads its libraries from where they are, never from the
// folder it is started in, whatever lies there. The loader only lists what it would load.
TEST(BuildTreeProgram, LoadsNoLibraryFromTheFolderItStartsIn) {
  const char* build = std::getenv("QV_BUILD_DIR");
  if (!build) build = QV_OWN_BUILD_DIR;
  qv::TempDir dir;
  for (const char* lib : {"libc.so.6", "libm.so.6", "libstdc++.so.6", "libgcc_s.so.1",
                          "libQvHooks.so"}) {
    std::ofstream(dir.path() / lib) << "not a library\n";
  }
  int checked = 0;
  for (const auto& p : Split(QV_PROGRAMS)) {
    const fs::path program = fs::path(build) / "bin" / p;
    if (::access(program.c_str(), X_OK) != 0) continue;
    const Output r = Shell("cd " + Quote(dir.path().string()) + " && LD_TRACE_LOADED_OBJECTS=1 " +
                           Quote(program.string()));
    EXPECT_EQ(r.status, 0) << p << ": " << r.text;
    EXPECT_EQ(r.text.find(dir.path().string()), std::string::npos) << p << ": " << r.text;
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

TEST_F(InstallTest, UnitsStartTheInstalledServicesAtLogin) {
  const std::string indexer = Read(units() / "qv-indexer.service");
  EXPECT_NE(indexer.find("ExecStart=\"" + (bin() / "qvindexer").string() + "\" --quiet\n"),
            std::string::npos)
      << indexer;
  EXPECT_NE(indexer.find("WantedBy=default.target"), std::string::npos);
  EXPECT_EQ(indexer.find('@'), std::string::npos) << "a placeholder was left: " << indexer;
  const std::string seek = Read(units() / "qv-seek.service");
  EXPECT_NE(seek.find("ExecStart=\"" + (bin() / "QvSeek").string() + "\" --serve "),
            std::string::npos)
      << seek;
  EXPECT_EQ(seek.find('@'), std::string::npos) << "a placeholder was left: " << seek;
  if (!QV_WITH_RANKING) {
    EXPECT_FALSE(fs::exists(units() / "qv-ranking.service"));
    return;
  }
  const std::string ranking = Read(units() / "qv-ranking.service");
  const std::string quoted = "\"" + (bin() / "QvRankingSvc").string() + "\"";
  EXPECT_NE(ranking.find("ExecStart=" + quoted + " --run\n"), std::string::npos) << ranking;
  EXPECT_NE(ranking.find("ExecStop=" + quoted + " --stop\n"), std::string::npos) << ranking;
  EXPECT_NE(ranking.find("WantedBy=default.target"), std::string::npos);
}

TEST_F(InstallTest, SystemdAcceptsTheUnits) {
  const std::string analyze = QV_SYSTEMD_ANALYZE;
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed here";
  // A runtime folder of its own, as a login session would have (CI has none).
  const fs::path runtime = dir_->path() / "runtime";
  fs::create_directory(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  std::string cmd = "XDG_RUNTIME_DIR=" + Quote(runtime.string()) + " " + Quote(analyze) +
                    " --user verify " + Quote((units() / "qv-indexer.service").string()) + " " +
                    Quote((units() / "qv-seek.service").string());
  if (QV_WITH_RANKING) cmd += " " + Quote((units() / "qv-ranking.service").string());
  const Output r = Shell(cmd);
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_EQ(r.text, "") << "systemd-analyze found fault with the units";
}

TEST_F(InstallTest, DesktopEntriesNameTheInstalledPrograms) {
  if (QV_WITH_MANAGER) {
    const std::string entry =
        Read(*prefix_ / QV_SYSCONFDIR / "xdg" / "autostart" / "quillon-vesper-manager.desktop");
    EXPECT_NE(entry.find("Exec=\"" + (bin() / "QvManager").string() + "\"\n"), std::string::npos)
        << entry;
  }
  if (QV_WITH_SEEK_ENTRY) {
    const std::string entry = Read(*prefix_ / QV_DATADIR / "applications" / "qvseek.desktop");
    EXPECT_NE(entry.find("Exec=\"" + (bin() / "QvSeek").string() + "\"\n"), std::string::npos)
        << entry;
  }
  if (!QV_WITH_MANAGER && !QV_WITH_SEEK_ENTRY) GTEST_SKIP() << "no entry of ours in this build";
}

// The install step that writes units and entries, run on its own with every entry asked for,
// so the units are checked even where this build lacks one of the programs.
class InstallScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(QV_CMAKE_COMMAND, X_OK) != 0) GTEST_SKIP() << "cmake is not installed here";
  }
  Output RunScript(const fs::path& prefix) const {
    std::string cmd = Quote(QV_CMAKE_COMMAND) + " -DCMAKE_INSTALL_PREFIX=" + Quote(prefix.string());
    for (const char* def : {"QV_BINDIR=bin", "QV_DATADIR=share", "QV_SYSCONFDIR=etc",
                            "QV_WITH_RANKING=ON", "QV_WITH_MANAGER=ON", "QV_WITH_SEEK_ENTRY=ON"}) {
      cmd += std::string(" -D") + def;
    }
    cmd += " -DQV_PACKAGING_SOURCE=" + Quote(QV_PACKAGING_SOURCE) +
           " -DQV_PACKAGING_BINARY=" + Quote((dir.path() / "work").string()) + " -P " +
           Quote(std::string(QV_PACKAGING_SOURCE) + "/configure_installed.cmake");
    return Shell(cmd);
  }
  qv::TempDir dir;
};

TEST_F(InstallScriptTest, EveryUnitPassesSystemdsCheckWithItsProgramsInPlace) {
  const fs::path prefix = dir.path() / "home of Jane";
  fs::create_directories(prefix / "bin");
  for (const char* p : {"QvRankingSvc", "qvindexer", "QvManager", "QvSeek"}) {
    std::ofstream(prefix / "bin" / p) << "#!/bin/sh\n";
    fs::permissions(prefix / "bin" / p, fs::perms::owner_all);
  }
  const Output r = RunScript(prefix);
  ASSERT_EQ(r.status, 0) << r.text;
  EXPECT_TRUE(fs::exists(prefix / "etc/xdg/autostart/quillon-vesper-manager.desktop"));
  EXPECT_TRUE(fs::exists(prefix / "share/applications/qvseek.desktop"));
  const std::string analyze = QV_SYSTEMD_ANALYZE;
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed here";
  const fs::path runtime = dir.path() / "runtime";
  fs::create_directory(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  const Output v = Shell("XDG_RUNTIME_DIR=" + Quote(runtime.string()) + " " + Quote(analyze) +
                         " --user verify " +
                         Quote((prefix / "share/systemd/user/qv-ranking.service").string()) + " " +
                         Quote((prefix / "share/systemd/user/qv-indexer.service").string()) +
                         " " + Quote((prefix / "share/systemd/user/qv-seek.service").string()));
  EXPECT_EQ(v.status, 0) << v.text;
  EXPECT_EQ(v.text, "");
}

TEST_F(InstallScriptTest, APrefixThatUnitsCannotQuoteIsRefusedAndNothingIsWritten) {
  for (const char* bad : {"a$HOME", "50%", "say \"hi\"", "back\\slash"}) {
    const fs::path prefix = dir.path() / bad;
    const Output r = RunScript(prefix);
    EXPECT_NE(r.status, 0) << bad;
    EXPECT_NE(r.text.find("another --prefix"), std::string::npos) << r.text;
    EXPECT_FALSE(fs::exists(prefix / "share")) << bad;
  }
}

}  // namespace
