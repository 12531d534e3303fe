// qvmailclient run as a user would: its help and refusals, and a scripted session that leaves
// every Inbox message tracked by a shortcut in the store's folder under the mail scope root,
// with nothing lost from the store when a step fails.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "common/program_run.h"
#include "common/temp_dir.h"
#include "platform/folders/folders.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

class QvMailClientProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
    int n = 0;
    for (const char* word : {"marmalade", "quince"}) {
      const fs::path p = dir_.path() / ("m" + std::to_string(++n) + ".eml");
      std::ofstream(p) << "From: Ann <ann@example.org>\r\nTo: me@example.org\r\n"
                       << "Subject: note " << n << "\r\nDate: Tue, 08 Dec 2026 06:00:00 +0000\r\n"
                       << "\r\nthe " << word << " budget\r\n";
      mails_.push_back(p);
    }
  }
  ProgramOutput Run(std::vector<std::string> args) {
    args.insert(args.begin(), QVMAILCLIENT_PATH);
    return RunProgramToEnd(std::move(args), root_, {"XDG_RUNTIME_DIR=" + runtime_.string()});
  }
  std::size_t FilesUnder(const fs::path& p, std::string_view ext) {
    std::size_t n = 0;
    if (!fs::exists(p)) return 0;
    for (const auto& e : fs::recursive_directory_iterator(p)) {
      n += e.is_regular_file() && (ext.empty() || e.path().extension() == ext);
    }
    return n;
  }

  TempDir dir_;
  fs::path root_ = dir_.path() / "root";
  fs::path runtime_ = dir_.path() / "run";
  fs::path maildir_ = dir_.path() / "Mail";
  std::vector<fs::path> mails_;
};

TEST_F(QvMailClientProgram, HelpAndBadOptions) {
  const ProgramOutput help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--maildir"), std::string::npos);
  EXPECT_NE(help.out.find("select N SECONDS"), std::string::npos);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{}, {"--maildir"}, {"--maildir", "x", "select", "0", "1"},
        {"--maildir", "x", "select", "1"}, {"--maildir", "x", "open", "1", "-3"},
        {"--maildir", "x", "--linger", "forever"}, {"--maildir", "x", "dance"}}) {
    const ProgramOutput o = Run(bad);
    EXPECT_EQ(o.status, 2) << bad.size();
    EXPECT_NE(o.err.find("try --help"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(root_ / "x"));
}

TEST_F(QvMailClientProgram, SessionTracksEveryInboxMessage) {
  const ProgramOutput o = Run({"--maildir", maildir_.string(), "--deliver", mails_[0].string(),
                               "--deliver", mails_[1].string(), "select", "1", "0", "select",
                               "2", "0", "save", "2", "open", "1", "0"});
  ASSERT_EQ(o.status, 0) << o.err;
  const fs::path scopeRoot =
      platform::KnownFolderPath(root_, platform::KnownFolder::LocalAppData) / "Quillon" /
      "Vesper" / "EMail";
  // One shortcut folder, for the one store, holding a shortcut per Inbox message.
  std::vector<fs::path> stores;
  for (const auto& e : fs::directory_iterator(scopeRoot)) stores.push_back(e.path());
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_EQ(FilesUnder(stores[0], ".q6e"), 2u);
  EXPECT_EQ(FilesUnder(maildir_ / "cur", "") + FilesUnder(maildir_ / "new", ""), 2u);
  struct stat st {};
  ASSERT_EQ(::stat(maildir_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(QvMailClientProgram, FailedStepsLoseNothing) {
  // A mail that is not one is refused and the store keeps what it had.
  const fs::path junk = dir_.path() / "junk.eml";
  std::ofstream(junk) << "no headers at all";
  ProgramOutput o = Run({"--maildir", maildir_.string(), "--deliver", mails_[0].string()});
  ASSERT_EQ(o.status, 0) << o.err;
  o = Run({"--maildir", maildir_.string(), "--deliver", junk.string()});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("RFC 5322"), std::string::npos);
  // A step naming a message the Inbox does not have stops the session with an error.
  o = Run({"--maildir", maildir_.string(), "select", "5", "0"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("no message 5"), std::string::npos);
  EXPECT_EQ(FilesUnder(maildir_ / "cur", "") + FilesUnder(maildir_ / "new", ""), 1u);
}

}  // namespace
}  // namespace qv
