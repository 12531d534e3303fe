// The web page shortcut filter: the text of a page's cached copies in order, chunk ids that
// keep increasing across the parts, copies found again through the URL cache, stale
// shortcuts reported once, and copy paths that lead out of the cache refused.
#include "provider/filters/web_page_filter.h"

#include <fstream>

#include "context/test_context.h"
#include "interfaces/ikiv_listener.h"
#include "platform/folders/folders.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/urlcache/url_cache.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/filter_registration.h"
#include "provider/filters/filter_test_tools.h"
#include "provider/urlmon/shortcut_format.h"

namespace qv::filters {
namespace {

namespace fs = std::filesystem;
using namespace platform;

// The ranking service as far as stale shortcuts go.
class StaleListener final : public IKivListener {
 public:
  HRESULT UpdatePending(const std::string*, ULONG, ULONG, DATE, DATE, ULONG, ULONG, ULONG, ULONG,
                        const std::string*) override {
    return E_NOTIMPL;
  }
  HRESULT CfgVerify(const std::string*, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT DeleteStale(const std::string* file) override {
    stale.push_back(file ? *file : "<null>");
    return S_OK;
  }
  HRESULT OtlProfile(const std::string*, const std::string*, const std::string*) override {
    return E_NOTIMPL;
  }
  HRESULT OtlStopScope(const std::string*) override { return E_NOTIMPL; }
  std::vector<std::string> stale;
};

class WebPageFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    indexing::RegisterBuiltinFilterClasses(tc.classes());
    ASSERT_EQ(indexing::RegisterBuiltinFilterExtensions(tc.registry()), S_OK);
    ASSERT_EQ(RegisterIndexingFilters(tc.ctx()), S_OK);
    tc.classes().Register(CLSID_KivListener, "", "", [this](std::shared_ptr<ComObject>& out) {
      out = listener;
      return S_OK;
    });
    shortcutFile = tc.root() / "LocalAppData" / "Quillon" / "WebHistory" / "page.q6w";
    fs::create_directories(shortcutFile.parent_path());
  }

  // A cached copy of `url`; returns the part that names it as the shortcut stores it.
  urlmon::PagePart Cached(const std::string& url, const std::string& body,
                          std::uint16_t kind = urlmon::kKindHtml, const std::string& ext = "htm") {
    UrlCache cache(tc.root(), tc.clock());
    fs::path f;
    EXPECT_EQ(cache.CreateEntryFile(url, ext, f), 0);
    std::ofstream(f, std::ios::binary) << body;
    EXPECT_EQ(cache.CommitEntry(url, f, {}), 0);
    urlmon::PagePart p;
    p.url = url;
    p.kind = kind;
    p.size = static_cast<std::uint32_t>(body.size());
    p.copy = urlmon::StoredCopyPath(cache.folder(), f);
    return p;
  }

  void WriteShortcut(std::vector<urlmon::PagePart> parts) {
    urlmon::Shortcut s;
    s.parts = std::move(parts);
    s.title = "Budget page";
    s.url = s.parts.empty() ? "" : s.parts[0].url;
    fs::remove(shortcutFile);
    ASSERT_EQ(urlmon::CreateShortcutFile(shortcutFile, s), S_OK);
  }

  std::shared_ptr<Filter> Open() {
    std::shared_ptr<Filter> f;
    EXPECT_EQ(tc.classes().CreateInstance(CLSID_KivFilter, f), S_OK);
    EXPECT_EQ(f->Load(shortcutFile), S_OK);
    return f;
  }

  static std::string Texts(const std::vector<DrainedChunk>& chunks) {
    std::string all;
    for (const auto& c : chunks) {
      if (c.stat.flags == ChunkState::Text) all += Trimmed(c.text) + "|";
    }
    return all;
  }

  fs::path CacheFolder() const { return KnownFolderPath(tc.root(), KnownFolder::InternetCache); }

  TestContext tc;
  std::shared_ptr<StaleListener> listener = std::make_shared<StaleListener>();
  fs::path shortcutFile;
};

TEST_F(WebPageFilterTest, PageThenFramesWithIncreasingIds) {
  WriteShortcut({Cached("http://intranet/", "<html><title>Top</title><p>alpha</p></html>"),
                 Cached("http://intranet/left", "<p>bravo</p>"),
                 Cached("http://intranet/right", "<html><title>R</title>charlie</html>")});
  auto f = Open();
  std::vector<DrainedChunk> chunks;
  std::uint32_t flags = 0;
  ASSERT_EQ(Drain(*f, chunks, &flags), S_OK);
  EXPECT_EQ(flags, IFILTER_FLAGS_OLE_PROPERTIES) << "the shortcut's own properties are read too";
  EXPECT_EQ(Texts(chunks), "alpha|bravo|charlie|");
  // Each part's filter counts from 1; the shortcut's ids go on across parts.
  ASSERT_EQ(chunks.size(), 5u);  // text + title, text, text + title
  for (std::size_t i = 0; i < chunks.size(); ++i) EXPECT_EQ(chunks[i].stat.idChunk, i + 1);
  EXPECT_EQ(chunks[1].value, PropVariant::Lpwstr("Top"));
  EXPECT_TRUE(listener->stale.empty());

  auto* sets = dynamic_cast<FilterPropertySets*>(f.get());
  ASSERT_NE(sets, nullptr);
  std::vector<PropertySet> found;
  ASSERT_EQ(sets->ReadPropertySets(found), S_OK);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].values.at(urlmon::q6w::kPidTitle), PropVariant::Lpwstr("Budget page"));
  EXPECT_EQ(found[1].values.at(urlmon::q6w::kPidUrl), PropVariant::Lpwstr("http://intranet/"));
  EXPECT_EQ(found[1].names.at(urlmon::q6w::kPidUrl), "_url");
}

TEST_F(WebPageFilterTest, StaleShortcutIsReportedOnceAndYieldsNothing) {
  auto a = Cached("http://intranet/gone", "<p>gone</p>");
  auto b = Cached("http://intranet/gone2", "<p>gone too</p>");
  WriteShortcut({a, b});
  UrlCache cache(tc.root(), tc.clock());
  ASSERT_EQ(cache.DeleteEntry(a.url), 0);
  ASSERT_EQ(cache.DeleteEntry(b.url), 0);

  auto f = Open();
  std::uint32_t flags = 9;
  ASSERT_EQ(f->Init(0, flags), S_OK);
  EXPECT_EQ(flags, 0u);
  StatChunk c;
  EXPECT_EQ(f->GetChunk(c), FILTER_E_END_OF_CHUNKS);
  EXPECT_EQ(f->GetChunk(c), FILTER_E_END_OF_CHUNKS);
  ASSERT_EQ(listener->stale.size(), 1u) << "one request per document";
  EXPECT_EQ(listener->stale[0], shortcutFile.string());
  EXPECT_TRUE(tc.EventIds().empty());
}

TEST_F(WebPageFilterTest, StaleShortcutThatCannotBeReportedWritesAWarning) {
  auto a = Cached("http://intranet/gone", "<p>gone</p>");
  WriteShortcut({a});
  UrlCache(tc.root(), tc.clock()).DeleteEntry(a.url);
  tc.classes().Unregister(CLSID_KivListener);
  auto f = Open();
  std::vector<DrainedChunk> chunks;
  ASSERT_EQ(Drain(*f, chunks), S_OK);
  EXPECT_TRUE(chunks.empty());
  EXPECT_EQ(tc.EventIds(), std::vector<std::uint32_t>{kEventStaleNotReported});
}

TEST_F(WebPageFilterTest, MissingFrameIsPassedOverOthersStillRead) {
  auto top = Cached("http://intranet/", "<p>alpha</p>");
  auto lost = Cached("http://intranet/lost", "<p>lost</p>");
  auto robots = Cached("http://intranet/private", "<p>private</p>");
  robots.flags = urlmon::kFlagRobots;
  auto last = Cached("http://intranet/last", "<p>delta</p>");
  WriteShortcut({top, lost, robots, last});
  UrlCache(tc.root(), tc.clock()).DeleteEntry(lost.url);

  auto f = Open();
  std::vector<DrainedChunk> chunks;
  std::vector<HRESULT> skipped;
  ASSERT_EQ(Drain(*f, chunks, nullptr, 5, &skipped), S_OK);
  EXPECT_EQ(Texts(chunks), "alpha|delta|") << "the robots part is skipped, silently";
  EXPECT_EQ(skipped, std::vector<HRESULT>{FILTER_E_EMBEDDING_UNAVAILABLE});
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[1].stat.idChunk, 2u);
  EXPECT_TRUE(listener->stale.empty());
}

TEST_F(WebPageFilterTest, CopyThatMovedIsFoundThroughTheUrlCache) {
  auto p = Cached("http://intranet/moved", "<p>echo</p>");
  p.copy = "Content.QV/zz/nowhere.htm";
  WriteShortcut({p});
  auto f = Open();
  std::vector<DrainedChunk> chunks;
  ASSERT_EQ(Drain(*f, chunks), S_OK);
  EXPECT_EQ(Texts(chunks), "echo|");
}

TEST_F(WebPageFilterTest, CopyPathOutsideTheCacheIsNeverRead) {
  // A shortcut is outside input: one that names another file of the user must not get that
  // file into the index.
  const fs::path secret = tc.root() / "secret.htm";
  std::ofstream(secret) << "<p>password hunter2</p>";
  urlmon::PagePart p;
  p.url = "http://intranet/none";
  p.kind = urlmon::kKindHtml;
  for (const std::string& copy : {secret.string(), std::string("../secret.htm"),
                                  std::string("Content.QV/../../secret.htm")}) {
    p.copy = copy;
    WriteShortcut({p});
    auto f = Open();
    std::vector<DrainedChunk> chunks;
    listener->stale.clear();
    ASSERT_EQ(Drain(*f, chunks), S_OK) << copy;
    EXPECT_EQ(Texts(chunks), "") << copy;
    EXPECT_EQ(listener->stale.size(), 1u) << copy;
  }
  // A link inside the cache that leads out is refused as well.
  fs::create_directories(CacheFolder() / "Content.QV");
  fs::create_symlink(secret, CacheFolder() / "Content.QV" / "link.htm");
  p.copy = "Content.QV/link.htm";
  WriteShortcut({p});
  auto f = Open();
  std::vector<DrainedChunk> chunks;
  ASSERT_EQ(Drain(*f, chunks), S_OK);
  EXPECT_EQ(Texts(chunks), "");
}

TEST_F(WebPageFilterTest, CharsetOfThePartDecidesHowBytesRead) {
  auto html = Cached("http://intranet/fr", "<p>caf\xE9 cr\xE8me</p>");
  html.charset = "iso-8859-1";
  auto text = Cached("http://intranet/ru.txt", "\xF0\xD2\xC9\xD7\xC5\xD4", urlmon::kKindText, "txt");
  text.charset = "koi8-r";
  WriteShortcut({html, text});
  auto f = Open();
  std::vector<DrainedChunk> chunks;
  ASSERT_EQ(Drain(*f, chunks), S_OK);
  EXPECT_EQ(Texts(chunks), "caf\xC3\xA9 cr\xC3\xA8me|\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82|");
  // The temporary copies go with the parts.
  const fs::path temp = tc.root() / "LocalAppData" / "Quillon" / "Temp";
  ASSERT_TRUE(fs::exists(temp));
  EXPECT_FALSE(fs::is_empty(temp));
  f.reset();
  EXPECT_TRUE(fs::is_empty(temp));
}

TEST_F(WebPageFilterTest, UnreadableShortcutIsAnAccessFailure) {
  std::ofstream(shortcutFile, std::ios::binary) << "QV6W garbage";
  auto f = Open();
  std::uint32_t flags = 0;
  EXPECT_EQ(f->Init(0, flags), FILTER_E_ACCESS);
  StatChunk c;
  EXPECT_EQ(f->GetChunk(c), FILTER_E_END_OF_CHUNKS);
  EXPECT_TRUE(listener->stale.empty()) << "a damaged shortcut is not a stale one";
}

}  // namespace
}  // namespace qv::filters
