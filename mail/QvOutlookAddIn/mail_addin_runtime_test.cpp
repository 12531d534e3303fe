// The assembled add-in on a scripted mail client over Maildir stores: every store tracked in
// its own shortcut folder, the object reachable by name from other threads only while the
// client's main thread pumps, the proxy's scopes, and a ranking set written from outside
// reaching the message through the walks.
#include "mail/QvOutlookAddIn/mail_addin_runtime.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "context/test_context.h"
#include "mail/QvOutlookAddIn/addin_test_support.h"
#include "mail/QvOutlookAddIn/pending_record.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "platform/mail/sim_mail_client.h"
#include "provider/filters/shared_section.h"

namespace qv::mail::addin {
namespace {

namespace fs = std::filesystem;
namespace pm = platform::mail;
using namespace std::chrono_literals;

ranking::RankingSet Set(std::uint32_t visits) {
  ranking::RankingSet s;
  s.scope = 7;
  s.visits = visits;
  s.workingTime = 3 * visits;
  s.last = {46000.0 + visits, 20, visits};
  return s;
}

class MailAddInRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(client_.OpenStore(tc_.root() / "Mail", "Personal", &store_), S_OK);
    ASSERT_EQ(client_.OpenStore(tc_.root() / "Archive", "Archive", &archive_), S_OK);
    ASSERT_EQ(store_->DefaultFolder(pm::FolderType::Inbox, inbox_), S_OK);
    pm::Message m;
    m.folderId = inbox_;
    m.normalizedSubject = "quarterly figures";
    m.bodyPlain = "the marmalade budget";
    ASSERT_EQ(store_->SaveMessage(m), S_OK);
    item_ = m.entryId;
  }

  std::unique_ptr<MailAddInRuntime> Make(std::chrono::milliseconds limit = 10s) {
    MailAddInOptions options;
    options.logonId = "0:1";
    options.userAddress = "me@example.org";
    options.callLimit = limit;
    ScopeRegistrar proxy;
    proxy.addScope = [this](std::string_view dir, std::uint32_t* cookie) {
      scopes_.emplace_back(dir);
      *cookie = static_cast<std::uint32_t>(scopes_.size());
      return S_OK;
    };
    proxy.removeScope = [this](std::uint32_t cookie) {
      removed_.push_back(cookie);
      return S_OK;
    };
    return std::make_unique<MailAddInRuntime>(
        tc_.ctx(), client_, table_,
        [this](std::function<void()> w) {
          client_.Post(std::move(w));
          if (!postSeen_) {
            postSeen_ = true;
            posted_.set_value();
          }
        },
        std::move(proxy), std::move(options));
  }

  // Runs `call` on another thread, as the table's threads would, while the main thread pumps.
  template <class F>
  HRESULT FromOutside(F call) {
    auto result = std::async(std::launch::async, call);
    const bool done = client_.PumpUntil(
        [&] { return result.wait_for(0s) == std::future_status::ready; }, 30s);
    EXPECT_TRUE(done);
    return result.get();
  }

  RemoteOtlRanking Remote(std::chrono::milliseconds limit = 20s) {
    return RemoteOtlRanking(table_, OtlRankingName("0:1"), clock_, limit);
  }

  TestContext tc_;
  SystemClock clock_;  // the callers' limits are real time
  ManualClock clientClock_{134'000'000'000'000'000ull};
  platform::SimDesktop desktop_;
  pm::SimMailClient client_{desktop_, clientClock_};
  std::shared_ptr<platform::RunningObjects> table_ = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{tc_.root() / "rot", ::getuid(), {}});
  pm::MessageStore* store_ = nullptr;
  pm::MessageStore* archive_ = nullptr;
  pm::EntryId inbox_, item_;
  std::vector<std::string> scopes_;
  std::vector<std::uint32_t> removed_;
  bool postSeen_ = false;  // set on the table's thread, read after posted_ is ready
  std::promise<void> posted_;
};

TEST_F(MailAddInRuntimeTest, EachStoreGetsItsOwnShortcutFolderAndScope) {
  auto runtime = Make();
  ASSERT_EQ(runtime->Start(), S_OK);
  ASSERT_EQ(runtime->stores().size(), 2u);
  const fs::path root = MailScopeRoot(tc_.ctx());
  EXPECT_EQ(runtime->scopeRoot(), root);
  const fs::path a = runtime->stores()[0]->directory();
  const fs::path b = runtime->stores()[1]->directory();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.parent_path(), root);
  // The folder's name is the store's registry name, which the mail catalog is named after.
  EXPECT_EQ(runtime->stores()[0]->registryKey(),
            std::string(kPstsKey) + "\\" + a.filename().string());
  platform::RegValue path;
  ASSERT_EQ(tc_.registry().GetValue(platform::Hive::CurrentUser, runtime->stores()[0]->registryKey(),
                                    kPathValue, path),
            0);
  EXPECT_EQ(path.text, a.string());
  // The proxy hears each shortcut folder as it is, without any bucket below it.
  EXPECT_EQ(scopes_, (std::vector<std::string>{a.string(), b.string()}));
  EXPECT_TRUE(table_->IsRunning(OtlRankingName("0:1")));
  // Starting again neither tracks the stores twice nor registers their scopes again.
  EXPECT_EQ(runtime->Start(), S_FALSE);
  EXPECT_EQ(runtime->stores().size(), 2u);
  EXPECT_EQ(scopes_.size(), 2u);

  runtime.reset();
  EXPECT_EQ(removed_, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_FALSE(table_->IsRunning(OtlRankingName("0:1")));
}

TEST_F(MailAddInRuntimeTest, OutsideWriteReachesTheMessageThroughTheWalks) {
  auto runtime = Make();
  ASSERT_EQ(runtime->Start(), S_OK);
  runtime->RunWalks();
  const std::string id = std::string(kMailItemPrefix) + HexUpper(item_);
  auto remote = Remote();

  ASSERT_EQ(FromOutside([&] { return remote.WriteItem(id, Set(2)); }), S_OK);
  // A second read before any apply pass sees the parked set, not the message's stale one.
  OtlItemValues values;
  ASSERT_EQ(FromOutside([&] { return remote.ReadItem(id, values); }), S_OK);
  EXPECT_EQ(values.state, kItemHasRanking);
  EXPECT_EQ(values.set, Set(2));
  EXPECT_EQ(values.subject, "quarterly figures");

  // The apply pass moves the set into the message itself.
  ASSERT_EQ(runtime->stores()[0]->ResyncDir(true, 1000), S_OK);
  pm::Message stored;
  ASSERT_EQ(store_->OpenMessage(item_, stored), S_OK);
  ranking::RankingSet set;
  ASSERT_EQ(GetRankingProperties(stored, set), S_OK);
  EXPECT_EQ(set, Set(2));

  // The body reaches a caller through the message-file entry.
  const std::string name = "qv-runtime-test-" + std::to_string(::getpid());
  filters::SharedSection section;
  ASSERT_EQ(filters::SharedSection::Create(name, 4096, section), S_OK);
  std::string files, text;
  std::uint32_t kind = 0;
  EXPECT_EQ(FromOutside([&] { return remote.GetMsgFile(id, name, 4096, "qv", files, text, kind); }),
            S_OK);
  const std::string written(reinterpret_cast<const char*>(section.bytes().data()),
                            section.bytes().size());
  EXPECT_NE(written.find("marmalade"), std::string::npos);
}

TEST_F(MailAddInRuntimeTest, CallerIsReleasedWhenTheMainThreadDoesNotPump) {
  auto runtime = Make(200ms);
  ASSERT_EQ(runtime->Start(), S_OK);
  const std::string id = std::string(kMailItemPrefix) + HexUpper(item_);
  auto remote = Remote();
  OtlItemValues values;
  // Nobody pumps: the served side gives up after its own limit, long before the caller's.
  EXPECT_EQ(remote.ReadItem(id, values), E_ABORT);
  // The late job runs harmlessly once the client pumps again, and later calls work.
  client_.RunFor(10ms);
  EXPECT_EQ(FromOutside([&] { return remote.ReadItem(id, values); }), S_OK);
}

TEST_F(MailAddInRuntimeTest, StopsWhileACallWaitsWithoutHanging) {
  auto runtime = Make(60s);
  ASSERT_EQ(runtime->Start(), S_OK);
  const std::string id = std::string(kMailItemPrefix) + HexUpper(item_);
  auto remote = Remote(60s);
  auto call = std::async(std::launch::async, [&] {
    OtlItemValues values;
    return remote.ReadItem(id, values);
  });
  // The call is queued for the main thread, which does not pump.
  ASSERT_EQ(posted_.get_future().wait_for(30s), std::future_status::ready);
  runtime.reset();  // must not wait out the 60 s limit
  ASSERT_EQ(call.wait_for(30s), std::future_status::ready);
  EXPECT_TRUE(Failed(call.get()));
  client_.RunFor(10ms);  // the orphaned job finds the object gone
}

// With a window station the assembled add-in reports what the reading pane shows.
TEST(MailAddInRuntimeVisits, ReadingPaneSelectionBecomesAVisit) {
  testing::AddInFixture f;
  pm::SimMailClient client(f.desktop, f.tc.clock());
  pm::MessageStore* store = nullptr;
  ASSERT_EQ(client.OpenStore(f.tc.root() / "Mail", "Personal", &store), S_OK);
  pm::EntryId inbox;
  ASSERT_EQ(store->DefaultFolder(pm::FolderType::Inbox, inbox), S_OK);
  pm::Message m;
  m.folderId = inbox;
  m.normalizedSubject = "hello";
  ASSERT_EQ(store->SaveMessage(m), S_OK);
  auto table = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{f.tc.root() / "rot", ::getuid(), {}});
  MailAddInOptions options;
  options.logonId = "0:2";
  auto runtime = std::make_unique<MailAddInRuntime>(
      f.tc.ctx(), client, table, [&client](std::function<void()> w) { client.Post(std::move(w)); },
      ScopeRegistrar{}, options,
      VisitHost{f.station, f.loop, VisitBinding(testing::RecordedVisits::Points()),
                AddInOptions{f.tc.root() / "run", 1s}});
  ASSERT_EQ(runtime->Start(), S_OK);
  ASSERT_NE(runtime->visits(), nullptr);

  pm::SimExplorer* explorer = nullptr;
  ASSERT_EQ(client.OpenExplorer(*store, inbox, &explorer), S_OK);
  ASSERT_EQ(client.Select(*explorer, {m.entryId}), S_OK);
  f.Advance(3s);
  const std::string item = std::string(kMailItemPrefix) + HexUpper(m.entryId);
  bool started = false;
  for (const auto& c : f.recorded.calls) started = started || (c.op == 'S' && c.item == item);
  EXPECT_TRUE(started);

  // Taking the add-in away ends the visit.
  runtime.reset();
  bool ended = false;
  for (const auto& c : f.recorded.calls) ended = ended || c.op == 'E';
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace qv::mail::addin
