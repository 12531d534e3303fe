#include "client/journal_search.h"

#include <gtest/gtest.h>

#include "client/search_run.h"
#include "context/test_context.h"
#include "platform/folders/folders.h"
#include "platform/indexing/catalog_db.h"
#include "provider/cihelper/catalog_tables.h"

namespace qv::client {
namespace {

namespace ix = platform::indexing;
using PV = platform::PropVariant;

constexpr Guid kJournalSet =
    MakeGuid(0x8E186B66, 0x57AC, 0x435C, 0xB9, 0x57, 0x13, 0x0C, 0x31, 0x9B, 0xFA, 0x76);

// A journal catalog filled directly: one marker per entry, with its text and description.
class JournalSearchTest : public ::testing::Test {
 protected:
  JournalSearchTest() : dates_(DateOrder::MonthDayYear, '/', 0) {
    auto& reg = test_.registry();
    journal_ = platform::KnownFolderPath(test_.root(), platform::KnownFolder::LocalAppData) /
               "Quillon" / "Journal";
    admin_ = std::make_unique<ix::CatalogAdmin>(reg, test_.root());
    admin_->AddCatalog("QuillonJournal", test_.root() / "jcatalog");
    admin_->AddScope("QuillonJournal", journal_.string(), false);
    for (const auto& [name, data] : cihelper::kJournalCatalogProperties) {
      reg.SetValue(platform::Hive::LocalMachine, ix::PropertiesKey("QuillonJournal"), name,
                   platform::RegValue::Sz(data));
      ix::CachedProperty p;
      if (ix::ParseCachedProperty(name, data, p)) props_.push_back(p);
    }
    EXPECT_EQ(MakeComposeEnvironment(test_.ctx(), dates_, admin_.get(), env_), S_OK);
    exec_ = std::make_unique<ix::QueryExecutor>(*admin_);
  }

  void Entry(const std::string& marker, DATE write, const std::string& text,
             const std::string& description) {
    std::unique_ptr<ix::CatalogDb> db;
    ASSERT_EQ(ix::CatalogDb::Open(test_.root() / "jcatalog", props_, db), S_OK);
    ix::FileStat st;
    st.path = (journal_ / "2005" / "7" / "26" / marker).string();
    st.write = write;
    ix::DocState state;
    std::int64_t id = 0;
    ASSERT_EQ(db->NoteFile(st, 1, state), S_OK);
    ASSERT_EQ(db->FindDocument(st.path, id, state), S_OK);
    ix::DocContent c;
    c.contents = text;
    c.props = {{ix::PropertyKey(kJournalSet, 2u), PV::UI4(0)},
               {ix::PropertyKey(kJournalSet, 5u), PV::Lpwstr(description)}};
    ASSERT_EQ(db->StoreDocument(id, c, ix::DocState::Filtered), S_OK);
  }
  std::vector<std::string> Descriptions(const JournalSearchResult& r) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < r.rows.RowCount(); ++i) {
      out.push_back(r.rows.Field(i, kJournalFieldDescription).s);
    }
    return out;
  }

  TestContext test_;
  FixedDateLocale dates_;
  std::filesystem::path journal_;
  std::unique_ptr<ix::CatalogAdmin> admin_;
  std::vector<ix::CachedProperty> props_;
  std::unique_ptr<ix::QueryExecutor> exec_;
  ComposeEnvironment env_;
  SearchHistory history_{test_.registry(), test_.clock()};
};

using Strings = std::vector<std::string>;

TEST_F(JournalSearchTest, TextSearchesListNewestFirstAndAreRemembered) {
  Entry("{00000000-0000-0000-0000-000000000001}.q6j", 38000.1, "budget plan", "/docs/old.xls");
  Entry("{00000000-0000-0000-0000-000000000002}.q6j", 38000.5, "budget final", "/docs/new.xls");
  Entry("{00000000-0000-0000-0000-000000000003}.q6j", 38000.7, "holiday", "/docs/trip.txt");
  JournalSearchResult r;
  ASSERT_EQ(RunJournalSearch({"budget"}, env_, *exec_, &history_, r), S_OK) << r.detail;
  EXPECT_EQ(Descriptions(r), (Strings{"/docs/new.xls", "/docs/old.xls"}));
  ASSERT_EQ(RunJournalSearch({"budget", false, true}, env_, *exec_, &history_, r), S_OK);
  EXPECT_EQ(Descriptions(r), (Strings{"/docs/old.xls", "/docs/new.xls"}));
  ASSERT_EQ(history_.Entries().size(), 1u);
  EXPECT_EQ(history_.Entries()[0].query, "budget");

  ASSERT_EQ(RunJournalSearch({"nowhere"}, env_, *exec_, &history_, r), S_OK);
  EXPECT_EQ(r.information, (Messages{kMsgJournalNoResults}));
}

TEST_F(JournalSearchTest, ADateAloneIsRejectedAndKeyListsAreNotRemembered) {
  Entry("{00000000-0000-0000-0000-000000000001}.q6j", 38000.1, "budget", "/docs/a.xls");
  JournalSearchResult r;
  EXPECT_TRUE(Failed(RunJournalSearch({"sdate:1/2/2004"}, env_, *exec_, &history_, r)));
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages.back(), kMsgJournalSearchFailed);

  const std::string keys = "0\n\"nothing.xls\"\n{11111111-2222-3333-4444-555555555555}\n";
  const HRESULT hr = RunJournalSearch({keys, true}, env_, *exec_, &history_, r);
  EXPECT_TRUE(Succeeded(hr)) << r.detail;
  EXPECT_EQ(r.information, (Messages{kMsgJournalNoRelated}));
  // Only "sdate:1/2/2004" was a text search, and it is remembered though it failed later.
  ASSERT_EQ(history_.Entries().size(), 1u);
  EXPECT_EQ(history_.Entries()[0].query, "sdate:1/2/2004");
}

}  // namespace
}  // namespace qv::client
