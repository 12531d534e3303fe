#include "mail/QvOutlookProxy/outlook_proxy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "context/test_context.h"
#include "platform/indexing/filter.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/filter_registration.h"
#include "provider/filters/filter_test_tools.h"
#include "provider/filters/mail_proxy_client.h"
#include "provider/filters/shared_section.h"
#include "provider/ranking/base_activation.h"

namespace qv::mail {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The add-in's ranking object. In hanging mode every read waits until the test lets it go
// (each release lets the waiting calls end), as a mail client that does not answer.
class FakeAddIn final : public OtlRanking {
 public:
  HRESULT ReadItem(std::string_view id, OtlItemValues& out) override {
    std::unique_lock lock(m_);
    ++reads_;
    cv_.notify_all();
    if (hang_) {
      const int generation = generation_;
      cv_.wait_for(lock, 30s, [&] { return generation_ != generation; });
    }
    out.state = kItemHasRanking;
    out.pst = 3;
    out.searchKey = "{0B5E3F57-33A0-4D16-9C7C-2A8F8E0D61AA}";
    out.set.scope = 77;
    out.set.visits = 2;
    out.set.last = {46000.25, 60, 300};
    out.subject = "Budget " + std::string(id);
    out.from = "Ann";
    out.itemType = "IPM.Note";
    return S_OK;
  }
  HRESULT WriteItem(std::string_view, const ranking::RankingSet&) override { return S_OK; }
  // Puts the body into the caller's section: a byte count, the body, a zero byte.
  HRESULT GetMsgFile(std::string_view, std::string_view section, std::uint32_t size,
                     std::string_view, std::string& files, std::string& text,
                     std::uint32_t& kind) override {
    const std::string body = "Numbers for the third quarter, see you";
    if (body.size() + 5 > size) return E_INVALIDARG;
    filters::SharedSection s;
    if (const HRESULT hr = filters::SharedSection::Open(section, size + 4, s); Failed(hr)) {
      return hr;
    }
    const auto n = static_cast<std::uint32_t>(body.size());
    std::memcpy(s.bytes().data(), &n, 4);
    std::memcpy(s.bytes().data() + 4, body.data(), body.size() + 1);
    files.clear();
    text = "utf-8";
    kind = kBodyText;
    return S_OK;
  }

  void Hang(bool on) {
    std::lock_guard lock(m_);
    hang_ = on;
    ++generation_;
    cv_.notify_all();
  }
  void Release() { Hang(hang_); }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool hang_ = false;
  int generation_ = 0;
  int reads_ = 0;
};

class OutlookProxyTest : public ::testing::Test {
 protected:
  void TearDown() override {
    addIn->Hang(false);  // lets every served call end before the registrations go
  }
  std::unique_ptr<OutlookProxy> Proxy(ProxyOptions options = {}) {
    return std::make_unique<OutlookProxy>(tc.ctx(), table, "0:2a", options);
  }
  void StartAddIn() { ASSERT_EQ(PublishOtlRanking(*table, "0:2a", addIn, addInReg), S_OK); }

  TestContext tc;
  std::shared_ptr<platform::RunningObjects> table = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{tc.root() / "rot", ::getuid(), {}});
  std::shared_ptr<FakeAddIn> addIn = std::make_shared<FakeAddIn>();
  std::unique_ptr<platform::Registration> addInReg;
};

TEST_F(OutlookProxyTest, ScopesAreRegisteredAndRemovedByCookie) {
  auto proxy = Proxy();
  std::uint32_t cookie = 0;
  EXPECT_EQ(proxy->AddScope("", &cookie), E_INVALIDARG);
  EXPECT_EQ(proxy->AddScope("/mail/store", nullptr), E_INVALIDARG);
  EXPECT_EQ(proxy->RemoveScope(0), S_FALSE);
  EXPECT_EQ(proxy->RemoveScope(99), E_INVALIDARG);

  ASSERT_EQ(proxy->AddScope("/mail/store/", &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(proxy->scopeCount(), 1u);
  EXPECT_EQ(proxy->IdleFor(), 0ns);
  // The filter's name for a shortcut in any bucket folder of the store is this one.
  const std::string name =
      std::string(kOtlIndexingPrefix) + filters::MailScopeOfFolder("/mail/store/3f");
  EXPECT_TRUE(table->IsRunning(name));
  EXPECT_EQ(proxy->RemoveScope(cookie), S_OK);
  EXPECT_FALSE(table->IsRunning(name));
  EXPECT_EQ(proxy->RemoveScope(cookie), E_INVALIDARG);
}

TEST_F(OutlookProxyTest, ItemDataComesFromTheAddInWithTheCurrentScopeInFront) {
  auto proxy = Proxy();
  OtlItemValues v;
  std::uint32_t scope = 0;
  // The mail client not running: not available, at once.
  EXPECT_EQ(proxy->GetItemData("outlook:00AB", &scope, v), platform::MK_E_UNAVAILABLE);

  StartAddIn();
  ASSERT_EQ(proxy->GetItemData("outlook:00AB", &scope, v), S_OK);
  ULONG expected = 0;
  ASSERT_EQ(BaseActivation(tc.ctx()).ComputeScope(expected), S_OK);
  EXPECT_EQ(scope, expected);
  EXPECT_EQ(v.subject, "Budget outlook:00AB");
  EXPECT_EQ(v.set.last.n, 300u);
}

TEST_F(OutlookProxyTest, ABlockedAddInGivesAbortAfterTheLimit) {
  StartAddIn();
  addIn->Hang(true);
  ProxyOptions options;
  options.callLimit = 50ms;
  options.watchdogLimit = 60s;
  auto proxy = Proxy(options);
  OtlItemValues v;
  EXPECT_EQ(proxy->GetItemData("outlook:1", nullptr, v), E_ABORT);
  EXPECT_EQ(proxy->consecutiveCancels(), 0u) << "a time-out is no cancellation";
}

TEST_F(OutlookProxyTest, TheThirdCancelInARowIsNotAvailableUntilACallSucceeds) {
  StartAddIn();
  addIn->Hang(true);
  ProxyOptions options;
  options.callLimit = 60s;
  options.watchdogLimit = 50ms;  // the watchdog cancels each hung call
  auto proxy = Proxy(options);
  OtlItemValues v;
  const HRESULT expected[] = {platform::RPC_E_CALL_CANCELED, platform::RPC_E_CALL_CANCELED,
                              platform::MK_E_UNAVAILABLE, platform::MK_E_UNAVAILABLE};
  for (const HRESULT e : expected) {
    EXPECT_EQ(proxy->GetItemData("outlook:1", nullptr, v), e);
    addIn->Release();
  }
  EXPECT_EQ(proxy->consecutiveCancels(), 2u);

  addIn->Hang(false);
  EXPECT_EQ(proxy->GetItemData("outlook:1", nullptr, v), S_OK);
  EXPECT_EQ(proxy->consecutiveCancels(), 0u);
  addIn->Hang(true);
  EXPECT_EQ(proxy->GetItemData("outlook:1", nullptr, v), platform::RPC_E_CALL_CANCELED);
  EXPECT_EQ(proxy->consecutiveCancels(), 1u);
}

TEST_F(OutlookProxyTest, ACallerThatGivesUpCancelsTheForwardedCall) {
  StartAddIn();
  addIn->Hang(true);
  ProxyOptions options;
  options.callLimit = 60s;
  options.watchdogLimit = 60s;
  auto proxy = Proxy(options);
  std::uint32_t cookie = 0;
  ASSERT_EQ(proxy->AddScope("/mail/store", &cookie), S_OK);
  // The filter's side waits 50 ms, then closes its connection; the proxy cancels its own
  // outgoing call and counts it.
  filters::RemoteOtlIndexing remote(table, "!Qv.OtlIndexing./mail/store", tc.clock(), 50ms);
  filters::OtlItemData d;
  EXPECT_EQ(remote.GetItemData("outlook:1", d), E_ABORT);
  for (int i = 0; i < 2000 && proxy->consecutiveCancels() == 0; ++i) {
    std::this_thread::sleep_for(10ms);  // bounded wait for the server side to notice
  }
  EXPECT_EQ(proxy->consecutiveCancels(), 1u);
}

TEST_F(OutlookProxyTest, TheEmailFilterReachesTheItemThroughTheProxy) {
  StartAddIn();
  auto proxy = Proxy();
  const fs::path store = tc.root() / "Shortcuts" / "store1";
  fs::create_directories(store / "3f");
  std::uint32_t cookie = 0;
  ASSERT_EQ(proxy->AddScope(store.string(), &cookie), S_OK);

  filters::RegisterFilterClasses(
      tc.ctx(), std::make_shared<filters::SessionMailProxyTable>(table, tc.clock()));
  std::shared_ptr<platform::Filter> f;
  ASSERT_EQ(tc.classes().CreateInstance(filters::CLSID_EmailIFilter, f), S_OK);
  ASSERT_EQ(f->Load(store / "3f" / "00AB12.q6e"), S_OK);
  std::vector<filters::DrainedChunk> chunks;
  ASSERT_EQ(filters::Drain(*f, chunks), S_OK);
  ASSERT_FALSE(chunks.empty());
  EXPECT_NE(chunks[0].text.find("third quarter"), std::string::npos) << chunks[0].text;
  bool subject = false;
  for (const auto& c : chunks) {
    if (filters::IsProp(c, filters::kMailPropSet, filters::kPidMailSubject)) {
      subject = true;
      EXPECT_EQ(c.value, platform::PropVariant::Lpwstr("Budget outlook:00AB12"));
    }
  }
  EXPECT_TRUE(subject);

  // Without the scope, the item is left for a later pass.
  ASSERT_EQ(proxy->RemoveScope(cookie), S_OK);
  ASSERT_EQ(tc.classes().CreateInstance(filters::CLSID_EmailIFilter, f), S_OK);
  ASSERT_EQ(f->Load(store / "3f" / "00AB12.q6e"), S_OK);
  std::uint32_t flags = 0;
  EXPECT_EQ(f->Init(0, flags), filters::MK_E_UNAVAILABLE);
}

}  // namespace
}  // namespace qv::mail
