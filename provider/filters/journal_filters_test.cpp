// The journal's filters: an entry marker yields its search text and journal values in a
// fixed order; anything that is not a marker of the journal yields nothing, without error.
#include "provider/filters/journal_filters.h"

#include <fstream>

#include "context/test_context.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/filter_registration.h"
#include "provider/filters/filter_test_tools.h"
#include "provider/journal/journal.h"

namespace qv::filters {
namespace {

namespace fs = std::filesystem;
using namespace platform;

class JournalFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegisterIndexingFilters(tc.ctx()), S_OK); }

  std::string Log(const journal::EntryFields& f) {
    journal::Journal j(tc.ctx(), nullptr);
    std::string marker;
    EXPECT_EQ(j.LogEntry(f, &marker), S_OK);
    return marker;
  }

  std::shared_ptr<Filter> Open(const fs::path& file) {
    std::shared_ptr<Filter> f;
    EXPECT_EQ(tc.classes().CreateInstance(CLSID_JournalIFilter, f), S_OK);
    EXPECT_EQ(f->Load(file), S_OK);
    return f;
  }

  TestContext tc;
};

TEST_F(JournalFilterTest, WebPageEntryYieldsTextThenValuesInOrder) {
  journal::EntryFields e;
  e.url = "http://intranet/budget.html";
  e.start = 46000.5;
  e.end = 46000.5 + 90.0 / 86400;
  e.workingTime = 40;
  e.type = journal::kTypeWebPage;
  e.searchKey = "{0B5E3F57-33A0-4D16-9C7C-2A8F8E0D61AA}";
  e.title = "Budget 2026";
  const auto marker = Log(e);
  auto f = Open(marker);

  std::vector<DrainedChunk> chunks;
  ASSERT_EQ(Drain(*f, chunks), S_OK);
  ASSERT_EQ(chunks.size(), 5u);
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].stat.idChunk, i + 1) << "ids count from 1 in order";
    EXPECT_EQ(chunks[i].stat.locale, kSystemDefaultLcid);
    EXPECT_EQ(chunks[i].stat.breakType, BreakType::EndOfChapter);
  }
  EXPECT_TRUE(IsProp(chunks[0], kStoragePropSet, kPidContents));
  EXPECT_EQ(chunks[0].text,
            "http://intranet/budget.html \r\n{0B5E3F57-33A0-4D16-9C7C-2A8F8E0D61AA} \r\n"
            "Budget 2026 \r\n");
  EXPECT_TRUE(IsProp(chunks[1], kJournalPropSet, kPidJournalStore));
  EXPECT_EQ(chunks[1].value, PropVariant::UI4(0));
  EXPECT_TRUE(IsProp(chunks[2], kJournalPropSet, kPidJournalAttention));
  EXPECT_EQ(chunks[2].value, PropVariant::UI4(200)) << "working seconds x 5";
  EXPECT_TRUE(IsProp(chunks[3], kJournalPropSet, kPidJournalDuration));
  EXPECT_EQ(chunks[3].value, PropVariant::UI4(90));
  EXPECT_TRUE(IsProp(chunks[4], kJournalPropSet, kPidJournalDescription));
  EXPECT_EQ(chunks[4].value, PropVariant::Lpwstr("http://intranet/budget.html"));

  // A second Init starts over.
  std::vector<DrainedChunk> again;
  ASSERT_EQ(Drain(*f, again, nullptr, 4096), S_OK);
  ASSERT_EQ(again.size(), 5u);
  EXPECT_EQ(again[0].text, chunks[0].text);
}

TEST_F(JournalFilterTest, MailEntryDescribedByPrefixAndSubject) {
  journal::EntryFields e;
  e.url = "outlook:00000000ABCD";
  e.start = 46000.5;
  e.end = 46000.5;
  e.type = 2;
  e.prefix = "RE: ";
  e.title = "Budget";
  e.from = "Ann";
  auto f = Open(Log(e));
  std::vector<DrainedChunk> chunks;
  ASSERT_EQ(Drain(*f, chunks), S_OK);
  ASSERT_FALSE(chunks.empty());
  EXPECT_TRUE(IsProp(chunks.back(), kJournalPropSet, kPidJournalDescription));
  EXPECT_EQ(chunks.back().value, PropVariant::Lpwstr("RE: Budget"));
}

TEST_F(JournalFilterTest, FilesThatAreNotMarkersYieldAnEmptyDocument) {
  journal::EntryFields e;
  e.url = "/home/u/report.txt";
  e.start = 46000.5;
  e.end = 46000.5;
  const fs::path marker = Log(e);
  // A name that is not a GUID, in the same day folder (so the data file is there).
  const fs::path other = marker.parent_path() / "notes.q6j";
  std::ofstream(other).put('\0');
  const fs::path braces = marker.parent_path() / "{not-a-guid}.q6j";
  std::ofstream(braces).put('\0');
  for (const auto& p : {other, braces}) {
    auto f = Open(p);
    std::vector<DrainedChunk> chunks;
    EXPECT_EQ(Drain(*f, chunks), S_OK) << p;
    EXPECT_TRUE(chunks.empty()) << p;
  }
}

TEST_F(JournalFilterTest, MarkerWithoutReadableEntryIsAnAccessFailure) {
  journal::EntryFields e;
  e.url = "/home/u/report.txt";
  e.start = 46000.5;
  e.end = 46000.5;
  const fs::path marker = Log(e);
  fs::remove(marker.parent_path() / "Journal.q6d");
  auto f = Open(marker);
  std::uint32_t flags = 7;
  EXPECT_EQ(f->Init(0, flags), FILTER_E_ACCESS);
  EXPECT_EQ(flags, 0u);
  StatChunk c;
  EXPECT_EQ(f->GetChunk(c), FILTER_E_END_OF_CHUNKS) << "nothing is left from before";
}

TEST_F(JournalFilterTest, InitWithoutLoadFails) {
  std::shared_ptr<Filter> f;
  ASSERT_EQ(tc.classes().CreateInstance(CLSID_JournalIFilter, f), S_OK);
  std::uint32_t flags = 0;
  EXPECT_EQ(f->Init(0, flags), E_FAIL);
}

TEST_F(JournalFilterTest, DataFileYieldsNothing) {
  std::shared_ptr<Filter> f;
  ASSERT_EQ(tc.classes().CreateInstance(CLSID_KivJournalDatIFilter, f), S_OK);
  EXPECT_EQ(f->GetClassID(), CLSID_KivJournalDatIFilter);
  std::vector<DrainedChunk> chunks;
  EXPECT_EQ(Drain(*f, chunks), S_OK);
  EXPECT_TRUE(chunks.empty());
  std::string text;
  PropVariant v;
  EXPECT_EQ(f->GetText(text, 100), FILTER_E_NO_MORE_TEXT);
  EXPECT_EQ(f->GetValue(v), FILTER_E_NO_VALUES);
}

TEST_F(JournalFilterTest, RegistrationsNameEachFilterByExtension) {
  RegValue v;
  const std::pair<const char*, Guid> expected[] = {{".q6j", CLSID_JournalIFilter},
                                                   {".q6d", CLSID_KivJournalDatIFilter},
                                                   {".q6w", CLSID_KivFilter},
                                                   {".q6e", CLSID_EmailIFilter}};
  for (const auto& [ext, clsid] : expected) {
    ASSERT_EQ(tc.registry().GetValue(Hive::ClassesRoot, std::string(ext) + "\\PersistentHandler",
                                     "", v),
              0);
    EXPECT_EQ(v.text, FormatGuid(clsid));
    ASSERT_EQ(tc.registry().GetValue(Hive::ClassesRoot,
                                     "CLSID\\" + FormatGuid(clsid) +
                                         "\\PersistentAddinsRegistered\\" +
                                         FormatGuid(kFilterInterfaceId),
                                     "", v),
              0);
    EXPECT_EQ(v.text, FormatGuid(clsid));
    ASSERT_EQ(tc.registry().GetValue(Hive::ClassesRoot,
                                     "CLSID\\" + FormatGuid(clsid) + "\\InprocServer32",
                                     "ThreadingModel", v),
              0);
    EXPECT_EQ(v.text, "Both");
    std::shared_ptr<Filter> f;
    ASSERT_EQ(tc.classes().CreateInstance(clsid, f), S_OK);
    EXPECT_EQ(f->GetClassID(), clsid);
  }
  std::shared_ptr<KivMetadataHandler> meta;
  ASSERT_EQ(tc.classes().CreateInstance(CLSID_KivMetadataHandler, meta), S_OK);
  Guid id;
  EXPECT_EQ(meta->GetClassID(id), S_OK);
  EXPECT_EQ(id, CLSID_KivMetadataHandler);
  EXPECT_EQ(meta->Load("x"), E_NOTIMPL);
}

}  // namespace
}  // namespace qv::filters
