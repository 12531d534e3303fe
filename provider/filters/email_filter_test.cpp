// The e-mail shortcut filter against a fake mail proxy: the item found by the shortcut's
// name and folder, its body read through the shared section, and its values in order.
#include "provider/filters/email_filter.h"

#include <cstring>
#include <fstream>
#include <map>

#include "context/test_context.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/filter_registration.h"
#include "provider/filters/filter_test_tools.h"
#include "provider/filters/shared_section.h"

namespace qv::filters {
namespace {

namespace fs = std::filesystem;
using namespace platform;

// A mail proxy that serves items from a map and writes their bodies into the section as the
// add-in does: the count, the bytes, a zero byte.
class FakeProxy final : public IOtlIndexing {
 public:
  HRESULT GetItemData(const std::string& item, OtlItemData& out) override {
    asked.push_back(item);
    auto it = items.find(item);
    if (it == items.end()) return E_FAIL;
    out = it->second;
    return S_OK;
  }
  HRESULT GetMsgFile(const std::string& item, const std::string& mmfName, std::uint32_t mmfSize,
                     const std::string& prefix, std::string*, std::string* text,
                     std::uint32_t* kind) override {
    sectionName = mmfName;
    sectionSize = mmfSize;
    this->prefix = prefix;
    auto it = bodies.find(item);
    if (it == bodies.end()) return S_FALSE;
    SharedSection s;
    if (const HRESULT hr = SharedSection::Open(mmfName, mmfSize, s); Failed(hr)) return hr;
    const std::string& body = it->second.body;
    const std::uint32_t n =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(body.size()), mmfSize - 5);
    const std::uint32_t count = forgedCount ? forgedCount : n;
    std::memcpy(s.bytes().data(), &count, 4);
    std::memcpy(s.bytes().data() + 4, body.data(), n);
    s.bytes()[4 + n] = 0;
    *text = it->second.charset;
    *kind = it->second.kind;
    return S_OK;
  }
  struct Body {
    std::string body;
    std::uint32_t kind = 2;
    std::string charset;
  };
  std::map<std::string, OtlItemData> items;
  std::map<std::string, Body> bodies;
  std::vector<std::string> asked;
  std::string sectionName, prefix;
  std::uint32_t sectionSize = 0;
  std::uint32_t forgedCount = 0;
};

class Table final : public MailProxyTable {
 public:
  HRESULT Find(const std::string& name, std::shared_ptr<IOtlIndexing>& out) const override {
    auto it = proxies.find(name);
    if (it == proxies.end()) return MK_E_UNAVAILABLE;
    out = it->second;
    return S_OK;
  }
  std::map<std::string, std::shared_ptr<IOtlIndexing>> proxies;
};

class EmailFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store = tc.root() / "Mail" / "Inbox";
    fs::create_directories(store);
    table->proxies[std::string(kOtlIndexingMoniker) + store.string()] = proxy;
    RegisterFilterClasses(tc.ctx(), table);
  }

  std::vector<DrainedChunk> Filter(const std::string& name, HRESULT expect = S_OK) {
    std::shared_ptr<platform::Filter> f;
    EXPECT_EQ(tc.classes().CreateInstance(CLSID_EmailIFilter, f), S_OK);
    EXPECT_EQ(f->Load(store / name), S_OK);
    std::vector<DrainedChunk> chunks;
    EXPECT_EQ(Drain(*f, chunks), expect);
    return chunks;
  }

  static OtlItemData Item() {
    OtlItemData d;
    d.flags = kItemHasRankingSet;
    d.pst = 3;
    d.searchKey = "{0B5E3F57-33A0-4D16-9C7C-2A8F8E0D61AA}";
    d.set.scope = 77;
    d.set.workingTime = 120;
    d.set.visits = 2;
    d.set.last = {46000.25, 60, 300};
    d.parentFolder = "Inbox";
    d.prefix = "RE: ";
    d.subject = "Budget";
    d.to = "Bob";
    d.from = "Ann";
    d.itemType = "IPM.Note";
    return d;
  }

  TestContext tc;
  std::shared_ptr<FakeProxy> proxy = std::make_shared<FakeProxy>();
  std::shared_ptr<Table> table = std::make_shared<Table>();
  fs::path store;
};

const DrainedChunk* Find(const std::vector<DrainedChunk>& chunks, const Guid& set,
                         std::uint32_t pid) {
  for (const auto& c : chunks) {
    if (IsProp(c, set, pid)) return &c;
  }
  return nullptr;
}

TEST_F(EmailFilterTest, ReceivedItemYieldsTextRankingAndMailValuesInOrder) {
  proxy->items["outlook:00AB12"] = Item();
  proxy->bodies["outlook:00AB12"] = {"Numbers for <Q3>\r\nsee you", 2, ""};
  const auto chunks = Filter("00AB12.q6e");
  EXPECT_EQ(proxy->asked, std::vector<std::string>{"outlook:00AB12"});
  EXPECT_EQ(proxy->sectionSize, kMailSectionUsable);
  EXPECT_EQ(proxy->prefix, "q6e");
  EXPECT_EQ(proxy->sectionName.substr(0, 8), "Global\\{");
  ASSERT_EQ(chunks.size(), 1u + 1u + 11u + 6u);
  EXPECT_NE(chunks[0].text.find("Numbers for <Q3>"), std::string::npos) << chunks[0].text;
  EXPECT_NE(chunks[0].text.find("see you"), std::string::npos);
  EXPECT_TRUE(IsProp(chunks[1], ranking::kRankingFmtid, kPidSearchKey));
  EXPECT_EQ(chunks[1].value.vt, VT_CLSID);
  for (std::uint32_t pid = 3; pid <= 13; ++pid) {
    EXPECT_TRUE(IsProp(chunks[pid - 1], ranking::kRankingFmtid, pid)) << pid;
  }
  EXPECT_EQ(Find(chunks, ranking::kRankingFmtid, 3)->value, PropVariant::UI4(77));
  const std::uint32_t mailPids[] = {2, 3, 4, 5, 6, 7};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_TRUE(IsProp(chunks[13 + i], kMailPropSet, mailPids[i])) << i;
  }
  EXPECT_EQ(Find(chunks, kMailPropSet, kPidMailCorrespondent)->value, PropVariant::Lpwstr("Ann"));
  EXPECT_EQ(Find(chunks, kMailPropSet, kPidMailPrefix)->value, PropVariant::Lpwstr("RE: "));
  for (std::size_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(chunks[i].stat.idChunk, i + 1);
  // The section is gone with the document.
  SharedSection s;
  EXPECT_TRUE(Failed(SharedSection::Open(proxy->sectionName, 16, s)));
}

TEST_F(EmailFilterTest, SentItemYieldsTheRecipient) {
  auto d = Item();
  d.messageFlags = kMsgFlagFromMe | 0x1;
  proxy->items["outlook:SENT1"] = d;
  const auto chunks = Filter("SENT1.q6e");
  EXPECT_EQ(Find(chunks, kMailPropSet, kPidMailCorrespondent)->value, PropVariant::Lpwstr("Bob"));
  EXPECT_EQ(Find(chunks, kMailPropSet, kPidMailFlags)->value, PropVariant::UI4(0x21));
  EXPECT_EQ(Find(chunks, kStoragePropSet, kPidContents), nullptr) << "an item without a body";
}

TEST_F(EmailFilterTest, ItemWithoutSearchKeyStillYieldsMailValues) {
  auto d = Item();
  d.searchKey = "";
  d.flags = 0;
  d.prefix = "";
  proxy->items["outlook:NOKEY"] = d;
  auto d2 = Item();
  d2.searchKey = "0B5E3F57-33A0-4D16-9C7C-2A8F8E0D61AA";  // no braces: not a GUID
  d2.flags = 0;
  proxy->items["outlook:BADKEY"] = d2;
  for (const char* name : {"NOKEY.q6e", "BADKEY.q6e"}) {
    const auto chunks = Filter(name);
    for (const auto& c : chunks) {
      EXPECT_NE(c.stat.attribute.fmtid, ranking::kRankingFmtid) << name;
    }
    EXPECT_NE(Find(chunks, kMailPropSet, kPidMailSubject), nullptr) << name;
    EXPECT_NE(Find(chunks, kMailPropSet, kPidMailFlags), nullptr) << name;
  }
  EXPECT_EQ(Find(Filter("NOKEY.q6e"), kMailPropSet, kPidMailPrefix), nullptr)
      << "empty strings are left out";
}

TEST_F(EmailFilterTest, ProxyNotRunningLeavesTheItemForLater) {
  table->proxies.clear();
  std::shared_ptr<platform::Filter> f;
  ASSERT_EQ(tc.classes().CreateInstance(CLSID_EmailIFilter, f), S_OK);
  ASSERT_EQ(f->Load(store / "00AB12.q6e"), S_OK);
  std::uint32_t flags = 0;
  EXPECT_EQ(f->Init(0, flags), MK_E_UNAVAILABLE);
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventMailProxyFailed});
}

TEST_F(EmailFilterTest, EmptyKeyIsNotFound) {
  std::shared_ptr<platform::Filter> f;
  ASSERT_EQ(tc.classes().CreateInstance(CLSID_EmailIFilter, f), S_OK);
  ASSERT_EQ(f->Load(store / ".q6e"), S_OK);
  std::uint32_t flags = 0;
  EXPECT_EQ(f->Init(0, flags), HresultFromWin32(1168));
  EXPECT_TRUE(proxy->asked.empty());
}

TEST_F(EmailFilterTest, ForgedByteCountNeverReadsPastTheSection) {
  proxy->items["outlook:BIG"] = Item();
  proxy->bodies["outlook:BIG"] = {"short body", 2, ""};
  proxy->forgedCount = 0xFFFFFFF0;
  const auto chunks = Filter("BIG.q6e");
  const auto* text = Find(chunks, kStoragePropSet, kPidContents);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(Trimmed(text->text), "short body") << "the body ends at its zero byte";
}

TEST_F(EmailFilterTest, KeyAndScopeFromThePath) {
  std::string key, scope;
  EXPECT_TRUE(SplitMailShortcutPath("\\\\?\\/m/Inbox/ABC.DEF.q6e", key, scope));
  EXPECT_EQ(key, "ABC");
  EXPECT_EQ(scope, "/m/Inbox");
  EXPECT_FALSE(SplitMailShortcutPath("/m/Inbox/.q6e", key, scope));
}

}  // namespace
}  // namespace qv::filters
