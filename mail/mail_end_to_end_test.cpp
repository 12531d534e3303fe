// The mail road end to end: a scripted mail session with the add-in loaded, a mail visit
// recorded by the real tracer program, the ranking set it computes parked in the message's
// shortcut, handed back by the mail proxy before any apply pass, and kept in the message
// itself once the apply pass has run; then the store's mail catalog, crawled by qvindex through
// the proxy, and QvSeek finding the mail by a word of its body, ranked by the visit.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <sstream>

#include "common/program_args.h"
#include "common/program_run.h"
#include "common/scope_hash.h"
#include "common/temp_dir.h"
#include "context/test_context.h"
#include "mail/QvOutlookAddIn/mail_addin_runtime.h"
#include "mail/QvOutlookAddIn/pending_record.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "mail/QvOutlookProxy/outlook_proxy.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "platform/mail/maildir_store.h"
#include "provider/cihelper/catalog_tables.h"
#include "platform/mail/sim_mail_client.h"
#include "platform/messaging/runtime_folder.h"
#include "tracer/tracer_constants.h"

namespace qv::mail {
namespace {

namespace fs = std::filesystem;
namespace pm = platform::mail;
using namespace std::chrono_literals;

// The tracer, started with its own runtime folder; stopped and reaped whatever happens.
class TracerProcess {
 public:
  TracerProcess(const fs::path& root, const fs::path& runtime, const fs::path& script) {
    const ProgramArgs run({QVTRACER_PATH, "--script", script.string(),
                           std::string(tracer::kStartMarker)},
                          root, {"XDG_RUNTIME_DIR=" + runtime.string()});
    if (posix_spawn(&pid_, run.program(), nullptr, nullptr, run.argv(), run.envp()) != 0) pid_ = 0;
  }
  ~TracerProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  bool started() const { return pid_ > 0; }
  // True once the tracer has ended (its status in `status()`).
  bool Exited() {
    if (exited_ || pid_ <= 0) return exited_;
    int s = 0;
    if (::waitpid(pid_, &s, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    }
    return exited_;
  }
  int status() const { return status_; }

 private:
  pid_t pid_ = 0;
  bool exited_ = false;
  int status_ = -1;
};

TEST(MailEndToEnd, VisitRecordedByTheTracerReachesTheMessageAndTheProxy) {
  TestContext tc;
  TempDir runDir;
  const fs::path runtime = runDir.path() / "run";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);

  // The user's mail: one message delivered into the Inbox of a Maildir store.
  SystemClock clock;
  std::unique_ptr<pm::MaildirStore> maildir;
  ASSERT_EQ(pm::MaildirStore::Open(runDir.path() / "Mail", "Personal", clock, maildir), S_OK);
  ASSERT_EQ(maildir->CreateDefaultFolders(), S_OK);
  pm::EntryId inbox, item;
  ASSERT_EQ(maildir->DefaultFolder(pm::FolderType::Inbox, inbox), S_OK);
  ASSERT_EQ(maildir->Deliver(inbox,
                             "From: Ann <ann@example.org>\r\nTo: me@example.org\r\n"
                             "Subject: figures\r\nDate: Tue, 08 Dec 2026 06:00:00 +0000\r\n"
                             "\r\nthe marmalade budget\r\n",
                             item),
            S_OK);

  // The mail client with the add-in, serving in the case's own session folder.
  ManualClock clientClock{134'000'000'000'000'000ull};
  platform::SimDesktop desktop;
  pm::SimMailClient client(desktop, clientClock);
  pm::MessageStore* store = client.AddStore(std::move(maildir));
  // The table where the tracer, given XDG_RUNTIME_DIR, looks for the add-in's object.
  platform::RuntimeEnvironment env;
  env.xdgRuntimeDir = runtime.string();
  env.uid = ::getuid();
  const fs::path session = platform::RuntimeFolderPath(env);
  fs::create_directories(session);
  fs::permissions(session, fs::perms::owner_all, fs::perm_options::replace);
  auto table = std::make_shared<platform::RunningObjects>(platform::RunningObjectsOptions{
      session / platform::kRunningObjectsFolderName, ::getuid(), {}});
  OutlookProxy proxy(tc.ctx(), table, LogonSessionId());
  addin::ScopeRegistrar scopes{
      [&proxy](std::string_view dir, std::uint32_t* cookie) { return proxy.AddScope(dir, cookie); },
      [&proxy](std::uint32_t cookie) { return proxy.RemoveScope(cookie); }};
  addin::MailAddInRuntime addIn(
      tc.ctx(), client, table, [&client](std::function<void()> w) { client.Post(std::move(w)); },
      std::move(scopes), addin::MailAddInOptions{});
  ASSERT_EQ(addIn.Start(), S_OK);
  addIn.RunWalks();
  EXPECT_EQ(proxy.scopeCount(), 1u);

  // The user reads the message for half a minute; the tracer records the visit.
  const std::string itemId = std::string(kMailItemPrefix) + addin::HexUpper(item);
  const fs::path script = runDir.path() / "session.txt";
  std::ofstream(script) << "start 2026-03-02T09:00:00Z\n"
                        << "at 0 window 1 title=\"figures - Message\"\n"
                        << "at 0 visit-start 1 \"" << itemId << "\" track\n"
                        << "at 0.5 focus 1\n"
                        << "at 1 key 1 60 0.5\n"
                        << "at 31 visit-end 1 \"" << itemId << "\"\n"
                        << "at 35 shutdown\n";
  {
    TracerProcess tracer(tc.root(), runtime, script);
    ASSERT_TRUE(tracer.started());
    // The tracer's calls reach the add-in only while the client's main thread pumps.
    ASSERT_TRUE(client.PumpUntil([&] { return tracer.Exited(); }, 120s));
    ASSERT_EQ(tracer.status(), 0);
  }
  // What the tracer reported, should a later step fail.
  std::ostringstream events;
  for (const auto& e : tc.eventLog().ReadAll()) {
    events << std::hex << e.eventId;
    for (const auto& s : e.strings) events << " " << s;
    events << "\n";
  }
  SCOPED_TRACE("events:\n" + events.str());

  // Before any apply pass, the proxy hands back the item's data with the parked set.
  OtlItemValues values;
  std::uint32_t currentScope = 0;
  auto read = std::async(std::launch::async,
                         [&] { return proxy.GetItemData(itemId, &currentScope, values); });
  ASSERT_TRUE(client.PumpUntil(
      [&] { return read.wait_for(0s) == std::future_status::ready; }, 60s));
  ASSERT_EQ(read.get(), S_OK);
  EXPECT_EQ(values.state, kItemHasRanking);
  EXPECT_EQ(values.set.visits, 1u);
  EXPECT_GT(values.set.workingTime, 0u);
  EXPECT_EQ(values.subject, "figures");
  EXPECT_EQ(values.from, "Ann [ann@example.org]");

  // The apply pass keeps the set with the message itself.
  ASSERT_EQ(addIn.stores()[0]->ResyncDir(true, 1000), S_OK);
  pm::Message stored;
  ASSERT_EQ(store->OpenMessage(item, stored), S_OK);
  ranking::RankingSet set;
  ASSERT_EQ(addin::GetRankingProperties(stored, set), S_OK);
  EXPECT_EQ(set, values.set);
  bool named = false;
  for (const char* sub : {"cur", "new"}) {
    for (const auto& e : fs::directory_iterator(runDir.path() / "Mail" / sub)) {
      std::ifstream in(e.path());
      std::stringstream text;
      text << in.rdbuf();
      named = named || text.str().find("X-Qv-Named") != std::string::npos;
    }
  }
  EXPECT_TRUE(named);

  // A mail catalog over the store's shortcut folder, crawled while the client serves the
  // message bodies, then searched by a word only the body holds.
  const fs::path home = runDir.path() / "home";
  fs::create_directories(home);
  const std::vector<std::string> toolEnv = {"HOME=" + home.string(),
                                        "XDG_DATA_HOME=" + (home / "data").string(),
                                        "XDG_RUNTIME_DIR=" + runtime.string()};
  char catalog[48];
  std::snprintf(catalog, sizeof catalog, "Quillon_%x_%x",
                ScopeHash("S-1-22-1-" + std::to_string(::getuid())),
                addin::StoreNumber(store->storeEntryId()));
  {
    platform::indexing::CatalogAdmin admin(tc.registry(), tc.root());
    ASSERT_EQ(admin.AddCatalog(catalog, tc.root() / "catalogs" / "mail"), S_OK);
    ASSERT_EQ(admin.AddScope(catalog, addIn.stores()[0]->directory().string(), false), S_OK);
    for (const auto& [prop, data] : cihelper::kDocumentCatalogProperties) {
      ASSERT_EQ(tc.registry().SetValue(platform::Hive::LocalMachine,
                                       platform::indexing::PropertiesKey(catalog),
                                       std::string(prop),
                                       platform::RegValue::Sz(std::string(data))),
                0);
    }
  }
  auto index = std::async(std::launch::async, [&] {
    return RunProgramToEnd({QVINDEX_PATH, "rescan", catalog}, tc.root(), toolEnv);
  });
  ASSERT_TRUE(client.PumpUntil(
      [&] { return index.wait_for(0s) == std::future_status::ready; }, 120s));
  const ProgramOutput indexed = index.get();
  ASSERT_EQ(indexed.status, 0) << indexed.err;

  const ProgramOutput found = RunProgramToEnd(
      {QVSEEK_PATH, "--print", "marmalade", "--catalogs", "email"}, tc.root(), toolEnv);
  ASSERT_EQ(found.status, 0) << found.err;
  // The message's shortcut, ranked by the visit: its activation and the 31 s the tracer
  // measured.
  const std::string folder = addIn.stores()[0]->directory().string();
  const auto row = found.out.find(folder);
  ASSERT_NE(row, std::string::npos) << found.out;
  const std::string line = found.out.substr(row, found.out.find('\n', row) - row);
  EXPECT_NE(line.find(".q6e"), std::string::npos) << line;
  EXPECT_NE(line.find("31 s"), std::string::npos) << line;
  const ProgramOutput missing = RunProgramToEnd(
      {QVSEEK_PATH, "--print", "nowhereword", "--catalogs", "email"}, tc.root(), toolEnv);
  EXPECT_EQ(missing.out.find(".q6e"), std::string::npos) << missing.out;
}

}  // namespace
}  // namespace qv::mail
