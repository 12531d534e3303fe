// qvstatus run as a user would, on a private root.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "common/temp_dir.h"

namespace {

struct ProgramRun {
  int status = -1;
  std::string out;
};

ProgramRun Qvstatus(const std::string& args) {
  ProgramRun r;
  const std::string cmd = std::string(QVSTATUS_PATH) + " " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf{};
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) r.out.append(buf.data(), n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(QvstatusProgramTest, AFreshRootReportsTheCatalogsWebHistoryAndJournal) {
  qv::TempDir dir;
  const ProgramRun r = Qvstatus("--root '" + (dir.path() / "root").string() + "'");
  EXPECT_EQ(r.status, 0) << r.out;
  for (const char* name : {"System", "QuillonWebHistory", "QuillonJournal", "Web history:",
                           "Journal:", "Not set up"}) {
    EXPECT_NE(r.out.find(name), std::string::npos) << name << "\n" << r.out;
  }
}

TEST(QvstatusProgramTest, HelpUsageAndClearing) {
  qv::TempDir dir;
  const std::string root = "--root '" + dir.path().string() + "'";
  ProgramRun r = Qvstatus("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("clear-web-history"), std::string::npos);
  r = Qvstatus(root + " frobnicate");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("unknown command"), std::string::npos);
  r = Qvstatus(root + " clear-web-history");
  EXPECT_EQ(r.status, 0) << r.out;
}

}  // namespace
