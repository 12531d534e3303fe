// QvSeek --print answered by a running "QvSeek --serve": the same output as a search in the
// process, after the catalog changes too; declined and refused where it must be; and the
// frames the two exchange.
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "client/print_protocol.h"
#include "common/program_args.h"
#include "common/program_run.h"
#include "common/temp_dir.h"
#include "context/context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "provider/cihelper/catalog_tables.h"
#include "platform/messaging/runtime_folder.h"

namespace qv::client {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(PrintProtocol, FramesRoundTripAndAnythingElseIsRefused) {
  PrintRequest request;
  request.root = "/home/it's me/.qv";
  request.settings = {"TZ", "LANG=de_DE.UTF-8"};
  request.args = {"--print", "", std::string("a\0b", 3), "budget -memo"};
  const std::string bytes = EncodePrintRequest(request);
  PrintRequest back;
  ASSERT_TRUE(DecodePrintRequest(Bytes(bytes), back));
  EXPECT_EQ(back.root, request.root);
  EXPECT_EQ(back.settings, request.settings);
  EXPECT_EQ(back.args, request.args);
  // Every cut short, anything after the end, and a wrong magic.
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_FALSE(DecodePrintRequest(Bytes(bytes.substr(0, n)), back)) << n;
  }
  EXPECT_FALSE(DecodePrintRequest(Bytes(bytes + "x"), back));
  EXPECT_FALSE(DecodePrintRequest(Bytes("QVSR" + bytes.substr(4)), back));
  // Counts beyond the limits are refused before anything is made for them.
  std::string many = bytes;
  many[8] = '\xff';
  many[9] = '\xff';
  EXPECT_FALSE(DecodePrintRequest(Bytes(many), back));

  PrintReply reply{true, -3, "rows\n", std::string("err\0", 4)};
  const std::string r = EncodePrintReply(reply);
  PrintReply got;
  ASSERT_TRUE(DecodePrintReply(Bytes(r), got));
  EXPECT_TRUE(got.served);
  EXPECT_EQ(got.exitCode, -3);
  EXPECT_EQ(got.out, reply.out);
  EXPECT_EQ(got.err, reply.err);
  std::string badFlag = r;
  badFlag[4] = 2;
  EXPECT_FALSE(DecodePrintReply(Bytes(badFlag), got));
  EXPECT_FALSE(DecodePrintReply(Bytes(r.substr(0, r.size() - 1)), got));

  // One socket per root, whatever way the root is spelt.
  EXPECT_EQ(PrintSocketPath("/run/u", "/a/b/../c"), PrintSocketPath("/run/u", "/a/c"));
  EXPECT_NE(PrintSocketPath("/run/u", "/a/c"), PrintSocketPath("/run/u", "/a/d"));
}

// A root with a catalog over one folder, a runtime folder of the case's own, and a print
// server started on them.
class PrintServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path() / "root";
    docs_ = dir_.path() / "it's docs";
    run_ = dir_.path() / "run";
    fs::create_directories(docs_);
    fs::create_directories(run_);
    Write("a.txt", "quarterly budget report");
    Write("b.txt", "budget budget meeting");
    Write("c.txt", "nothing to see");
    {
      Installation install(root_);
      ix::CatalogAdmin admin(install.context().registry, root_);
      ASSERT_EQ(admin.AddCatalog("System", root_ / "catalog"), S_OK);
      ASSERT_EQ(admin.AddScope("System", docs_.string(), false), S_OK);
    }
    // A visit a day ago, with the catalog not yet caching the ranking properties.
    const DATE end = UnixSecondsToDate(static_cast<double>(std::time(nullptr)) - 86400);
    const ProgramOutput visit = RunProgramToEnd(
        {QVRANK_PATH, "visit", (docs_ / "a.txt").string(), "--start",
         FormatIsoDate(end - 5.0 / 1440), "--end", FormatIsoDate(end)},
        root_, Extra());
    ASSERT_EQ(visit.status, 0) << visit.err;
    Rescan();
    platform::RuntimeEnvironment env;
    env.xdgRuntimeDir = run_.string();
    env.uid = ::getuid();
    socket_ = PrintSocketPath(platform::RuntimeFolderPath(env), root_);
  }
  void TearDown() override { Stop(); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(docs_ / name) << text << "\n";
  }
  void Rescan(bool full = false) {
    std::vector<std::string> args = {QVINDEX_PATH, "rescan", "System"};
    if (full) args.push_back("--full");
    const ProgramOutput r = RunProgramToEnd(args, root_, Extra());
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // The catalog caches the ranking properties from now on (new columns in its table).
  void CacheRankingProperties() {
    Installation install(root_);
    for (const auto& [name, data] : cihelper::kDocumentCatalogProperties) {
      ASSERT_EQ(install.context().registry.SetValue(platform::Hive::LocalMachine,
                                                    ix::PropertiesKey("System"), name,
                                                    platform::RegValue::Sz(data)),
                0);
    }
  }
  // Every program of the case, the server included, in one time zone five hours behind UTC
  // (a POSIX rule, which needs no zone database), so that printed dates depend on it.
  std::vector<std::string> Extra(std::vector<std::string> more = {}) const {
    more.push_back("XDG_RUNTIME_DIR=" + run_.string());
    if (std::none_of(more.begin(), more.end(),
                     [](const std::string& m) { return m.rfind("TZ=", 0) == 0; })) {
      more.push_back("TZ=QVT+5");
    }
    return more;
  }
  ProgramOutput Seek(std::vector<std::string> args, std::vector<std::string> more = {}) {
    args.insert(args.begin(), QVSEEK_PATH);
    return RunProgramToEnd(std::move(args), root_, Extra(std::move(more)));
  }

  // Starts the server and waits until it listens.
  void Start() {
    const fs::path log = dir_.path() / "server.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_APPEND, 0600);
    const ProgramArgs run({QVSEEK_PATH, "--serve", "--idle-minutes", "5"}, root_, Extra());
    ASSERT_EQ(posix_spawn(&server_, run.program(), &actions, nullptr, run.argv(), run.envp()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    // Sanitizer builds on a loaded machine start slowly.
    for (int i = 0; i < 800 && Log().find("serving") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_NE(Log().find("serving"), std::string::npos) << Log();
  }
  // Waits for the server to end, asking it to with `sig` unless 0; its exit code.
  int Stop(int sig = SIGTERM) {
    if (server_ <= 0) return -1;
    if (sig) ::kill(server_, sig);
    int status = 0;
    for (int i = 0; i < 400; ++i) {
      if (::waitpid(server_, &status, WNOHANG) == server_) {
        server_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -100 - WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ::kill(server_, SIGKILL);
    ::waitpid(server_, &status, 0);
    server_ = 0;
    return -2;  // did not end in 10 s
  }
  std::string Log() const {
    std::stringstream s;
    s << std::ifstream(dir_.path() / "server.log").rdbuf();
    return s.str();
  }
  std::size_t Served() const {
    const std::string log = Log();
    std::size_t n = 0;
    for (auto at = log.find("served search"); at != std::string::npos;
         at = log.find("served search", at + 1)) {
      ++n;
    }
    return n;
  }
  // A visited row's score is its activation, which falls as time passes between two runs:
  // it is left out of the comparison (the rows, their order, bars and dates stay in).
  static std::string WithoutActivations(const std::string& out) {
    std::istringstream lines(out);
    std::string line, kept;
    while (std::getline(lines, line)) {
      if (line.find("\u2588") != std::string::npos) line = "(activation)" + line.substr(9);
      kept += line + "\n";
    }
    return kept;
  }
  // The same search through the server and in this process: both must print the same.
  void ExpectSameAnswer(const std::vector<std::string>& args) {
    const std::size_t before = Served();
    const ProgramOutput served = Seek(args);
    EXPECT_EQ(Served(), before + 1) << "the server did not answer " << args[1];
    std::vector<std::string> alone = args;
    alone.push_back("--in-process");
    const ProgramOutput own = Seek(alone);
    EXPECT_EQ(Served(), before + 1);
    EXPECT_EQ(served.status, own.status) << args[1];
    EXPECT_EQ(WithoutActivations(served.out), WithoutActivations(own.out)) << args[1];
    EXPECT_EQ(served.err, own.err) << args[1];
  }

  TempDir dir_;
  fs::path root_, docs_, run_, socket_;
  pid_t server_ = 0;
};

TEST_F(PrintServerTest, PrintsWhatTheProgramWouldAndFollowsTheCatalog) {
  Start();
  EXPECT_TRUE(fs::exists(socket_));
  EXPECT_EQ((fs::status(socket_).permissions() & fs::perms::all), fs::perms::owner_read |
                                                                      fs::perms::owner_write);
  // Twice each: the first search runs as SQL, and the server loads the catalog's property
  // cache before it takes the next one, which runs on the cache.
  for (int round = 0; round < 2; ++round) {
    ExpectSameAnswer({"--print", "budget", "--catalogs", "files"});
    ExpectSameAnswer({"--print", "\"quarterly budget\"", "--catalogs", "files", "--max", "1"});
    ExpectSameAnswer({"--print", "dir:\"" + docs_.string() + "\" budget", "--catalogs", "files",
                      "--sort", "date", "--ascending", "--sql"});
    ExpectSameAnswer({"--print", "--catalogs", "files"});  // the visited items: none
    ExpectSameAnswer({"--print", "-budget report", "--catalogs", "files"});  // refused: 2
  }
  // Searches are taken one at a time, so the load was logged before the second was served.
  EXPECT_NE(Log().find("loaded the property caches of 1 catalog(s)"), std::string::npos) << Log();
  // A file indexed while the server runs is in its next answer.
  Write("d.txt", "budget in a new file");
  Rescan();
  const ProgramOutput after = Seek({"--print", "budget", "--catalogs", "files"});
  EXPECT_NE(after.out.find("d.txt"), std::string::npos) << after.out;
  ExpectSameAnswer({"--print", "budget", "--catalogs", "files"});

  // The catalog gets columns for the ranking properties while the server has it open: the
  // visit's date (in the case's time zone) is in the next answer, as in a process of its own.
  CacheRankingProperties();
  Rescan(true);
  ExpectSameAnswer({"--print", "budget", "--catalogs", "files"});
  const ProgramOutput ranked = Seek({"--print", "budget", "--catalogs", "files"});
  EXPECT_NE(ranked.out.find("\u2588"), std::string::npos) << ranked.out;  // a ranked row's bar
  EXPECT_TRUE(std::regex_search(ranked.out, std::regex("a\\.txt +[^ ]+ \\d\\d:\\d\\d:\\d\\d")))
      << ranked.out;
  // The date is the case's time zone's: in UTC it reads otherwise.
  EXPECT_NE(Seek({"--print", "budget", "--catalogs", "files"}, {"TZ=UTC0"}).out, ranked.out);

  // Another time zone than the server's is not served, and the search runs in the process.
  const std::size_t before = Served();
  const ProgramOutput tokyo =
      Seek({"--print", "budget", "--catalogs", "files"}, {"TZ=Asia/Tokyo"});
  EXPECT_NE(Log().find("declined a search: another time zone"), std::string::npos) << Log();
  EXPECT_EQ(Served(), before);
  EXPECT_EQ(tokyo.status, 0);
  EXPECT_NE(tokyo.out.find("d.txt"), std::string::npos) << tokyo.out;

  // A second server of the root does not start; the first one ends on SIGTERM, taking its
  // socket with it, and searches go on in their own process.
  const ProgramOutput second = Seek({"--serve"});
  EXPECT_EQ(second.status, 3);
  EXPECT_NE(second.out.find("runs already"), std::string::npos) << second.out;
  EXPECT_EQ(Stop(SIGTERM), 0) << Log();
  EXPECT_FALSE(fs::exists(socket_));
  const ProgramOutput alone = Seek({"--print", "budget", "--catalogs", "files"});
  EXPECT_EQ(alone.status, 0);
  EXPECT_NE(alone.out.find("d.txt"), std::string::npos);
}

TEST_F(PrintServerTest, ADeadServersSocketAndOtherUsersGetNoAnswer) {
  // A socket nobody listens on, as a server killed outright leaves it.
  fs::create_directories(socket_.parent_path());
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socket_.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
  }
  const ProgramOutput r = Seek({"--print", "budget", "--catalogs", "files"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("a.txt"), std::string::npos) << r.out;

  // The server takes the name over, and ends when its root is deleted.
  Start();
  if (::geteuid() == 0) {
    // Another user asking gets nothing, even where the folder and the socket let anyone in
    // (the server checks who connects).
    const auto open = fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write;
    for (const fs::path& d : {dir_.path(), run_, socket_.parent_path()}) fs::permissions(d, open);
    fs::permissions(socket_, fs::perms::all);
    const pid_t child = ::fork();
    if (child == 0) {
      if (::setuid(65534) != 0) ::_exit(3);
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::strncpy(addr.sun_path, socket_.c_str(), sizeof addr.sun_path - 1);
      if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) ::_exit(4);
      // A request the server would take from its own user: its time zone and program.
      ::setenv("TZ", "QVT+5", 1);
      PrintRequest request{root_.string(), OutputSettings(), {"--print", "budget"}};
      request.settings.back() = ProgramSetting(QVSEEK_PATH);
      char taken = 0;
      const bool answered = WriteFrame(fd, EncodePrintRequest(request)) &&
                            ::recv(fd, &taken, 1, 0) == 1;
      ::_exit(answered ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << Log();
    for (const fs::path& d : {dir_.path(), run_, socket_.parent_path()}) {
      fs::permissions(d, fs::perms::owner_all);
    }
    // The server goes on serving its own user.
    const ProgramOutput own = Seek({"--print", "budget", "--catalogs", "files"});
    EXPECT_EQ(own.status, 0);
    EXPECT_NE(Log().find("served search 1"), std::string::npos) << Log();
  }
  fs::remove_all(root_);
  EXPECT_EQ(Stop(0), 0);
  if (::geteuid() != 0) GTEST_SKIP() << "the refusal of another user needs root to become one";
}

}  // namespace
}  // namespace qv::client
