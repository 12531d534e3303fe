#include "platform/indexing/readers/document_filter.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/temp_dir.h"
#include "context/test_context.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/catalog_keys.h"
#include "platform/indexing/document_reader.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/test_tools.h"

namespace qv::platform::readers {
namespace {

// Everything a filter yields: text chunks joined by '|', values by property.
struct Drained {
  std::string text;
  std::vector<std::pair<std::uint32_t, PropVariant>> values;
};

HRESULT Drain(Filter& f, Drained& d) {
  std::uint32_t flags = 0;
  HRESULT hr = f.Init(0, flags);
  if (Failed(hr)) return hr;
  std::uint32_t lastId = 0;
  for (;;) {
    StatChunk c;
    hr = f.GetChunk(c);
    if (hr == FILTER_E_END_OF_CHUNKS) return S_OK;
    if (Failed(hr)) return hr;
    EXPECT_GT(c.idChunk, lastId);
    lastId = c.idChunk;
    if (c.flags == ChunkState::Text) {
      EXPECT_EQ(c.attribute, (FullPropSpec{kStoragePropSet, kPidContents}));
      std::string text;
      for (;;) {
        std::string piece;
        const HRESULT t = f.GetText(piece, 5);
        EXPECT_LE(piece.size(), 5u);
        text += piece;
        if (t != S_OK) break;
      }
      d.text += text + "|";
    } else {
      PropVariant v;
      EXPECT_EQ(f.GetValue(v), S_OK);
      EXPECT_EQ(f.GetValue(v), FILTER_E_NO_VALUES);
      d.values.emplace_back(std::get<std::uint32_t>(c.attribute.id), v);
    }
  }
}

TEST(DocumentFilter, HandsOutPartsThenPropertiesAndPassesFailuresOn) {
  DocumentText doc;
  doc.chunks = {"first part", "", "z\xC3\xA9\xC3\xA9\xC3\xA9z"};
  doc.title = "A title";
  doc.created = 45000.25;
  auto filter = MakeDocumentFilter(
      [&](const std::filesystem::path& p, const ReaderLimits& limits, DocumentText& out) {
        EXPECT_EQ(p, "/some/file.odt");
        EXPECT_EQ(limits.maxDepth, 7u);
        out = doc;
        return S_OK;
      },
      ReaderLimits{.maxDepth = 7});
  Drained d;
  EXPECT_EQ(filter->Init(0, *std::make_unique<std::uint32_t>()), E_FAIL) << "Init before Load";
  ASSERT_EQ(filter->Load("/some/file.odt"), S_OK);
  ASSERT_EQ(Drain(*filter, d), S_OK);
  // The empty part leaves no chunk; pieces of 5 bytes never split the two-byte é.
  EXPECT_EQ(d.text, "first part|z\xC3\xA9\xC3\xA9\xC3\xA9z|");
  ASSERT_EQ(d.values.size(), 2u);
  EXPECT_EQ(d.values[0].first, kPidTitle);
  EXPECT_EQ(d.values[0].second.str, "A title");
  EXPECT_EQ(d.values[1].first, kPidCreated);
  ASSERT_EQ(d.values[1].second.vt, VT_FILETIME);
  EXPECT_DOUBLE_EQ(FileTimeToDate(d.values[1].second.filetime), 45000.25);

  // A second Init reads the document again and hands out the same.
  Drained again;
  ASSERT_EQ(Drain(*filter, again), S_OK);
  EXPECT_EQ(again.text, d.text);

  auto failing = MakeDocumentFilter([](const std::filesystem::path&, const ReaderLimits&, DocumentText& out) {
    out.chunks = {"half read"};
    return kLimitExceeded;
  });
  ASSERT_EQ(failing->Load("/x.docx"), S_OK);
  Drained none;
  EXPECT_EQ(Drain(*failing, none), kLimitExceeded);
  StatChunk c;
  EXPECT_EQ(failing->GetChunk(c), FILTER_E_END_OF_CHUNKS) << "nothing of a failed read is kept";
}

class DocumentFilterIndexing : public ::testing::Test {
 protected:
  void SetUp() override {
    indexing::RegisterBuiltinFilterClasses(tc_.classes());
    ASSERT_EQ(indexing::RegisterBuiltinFilterExtensions(tc_.registry()), S_OK);
    RegisterDocumentFilterClass(tc_.classes());
    ASSERT_EQ(RegisterDocumentFilterExtensions(tc_.registry()), S_OK);
  }
  std::filesystem::path Write(const std::string& name, const std::string& bytes) {
    const auto p = tc_.root() / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  TestContext tc_;
};

TEST_F(DocumentFilterIndexing, RtfFileGivesTextTitleAndAuthorToTheIndex) {
  std::vector<indexing::CachedProperty> props(2);
  props[0] = {kSummaryInfoPropSet, kPidAuthor, VT_LPWSTR};
  props[1] = {kSummaryInfoPropSet, kPidCreated, VT_DATE};
  indexing::DocumentReader reader(tc_.registry(), tc_.classes(), props);
  const auto file = Write("Notes.RTF",
                          "{\\rtf1{\\info{\\title Field notes}{\\author Jane Doe}"
                          "{\\creatim\\yr2023\\mo6\\dy1}}Okapi{\\b sight}ing}");
  indexing::DocContent doc;
  ASSERT_EQ(reader.Read(file, doc), S_OK);
  EXPECT_NE(doc.contents.find("Okapisighting"), std::string::npos) << doc.contents;
  EXPECT_EQ(doc.title, "Field notes");
  ASSERT_EQ(doc.props.size(), 2u);
  EXPECT_EQ(doc.props[0].second.str, "Jane Doe");
  EXPECT_EQ(FormatIsoDate(doc.props[1].second.date), "2023-06-01T00:00:00Z");

  // A broken document of a registered type fails alone; text files keep their own filter.
  indexing::DocContent broken;
  EXPECT_EQ(reader.Read(Write("bad.rtf", "not rtf at all"), broken), FILTER_E_UNKNOWNFORMAT);
  indexing::DocContent text;
  ASSERT_EQ(reader.Read(Write("plain.txt", "{\\rtf1 raw}"), text), S_OK);
  EXPECT_NE(text.contents.find("\\rtf1"), std::string::npos);
}

TEST_F(DocumentFilterIndexing, RegistrationLeavesExistingHandlersAlone) {
  RegValue v;
  ASSERT_EQ(tc_.registry().GetValue(Hive::ClassesRoot, ".rtf\\PersistentHandler", "", v), 0);
  EXPECT_EQ(v.text, FormatGuid(kDocumentHandlerClsid));
  ASSERT_EQ(tc_.registry().SetValue(Hive::ClassesRoot, ".epub\\PersistentHandler", "",
                                    RegValue::Sz(FormatGuid(indexing::kXmlHandlerClsid))),
            0);
  ASSERT_EQ(RegisterDocumentFilterExtensions(tc_.registry()), S_OK);
  ASSERT_EQ(tc_.registry().GetValue(Hive::ClassesRoot, ".epub\\PersistentHandler", "", v), 0);
  EXPECT_EQ(v.text, FormatGuid(indexing::kXmlHandlerClsid));
  // Every format this build reads has its extension registered.
  for (const char* ext : {".docx", ".odt", ".pdf"}) {
    const bool have = std::string_view(ext) == ".pdf" ? HasReader("pdf") : HasReader("zip");
    EXPECT_EQ(tc_.registry().KeyExists(Hive::ClassesRoot, std::string(ext) + "\\PersistentHandler"),
              have)
        << ext;
  }
}

TEST(DocumentFilterQvindex, RescanIndexesDocumentsAndABrokenOneCostsOnlyItself) {
  TempDir dir;
  const auto docs = dir.path() / "docs";
  std::filesystem::create_directories(docs);
  std::ofstream(docs / "letter.rtf") << "{\\rtf1{\\info{\\title Letter}}Pan{\\b go}lin}";
  std::ofstream(docs / "broken.rtf") << "{\\rtf1 " << std::string(5000, '{') << "Tapir";
  std::ofstream(docs / "broken.pdf") << "%PDF-1.4\n";
  std::ofstream(docs / "plain.txt") << "Wallaby";
  const auto root = dir.path() / "root";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"add-catalog", "Docs"}, {"add-scope", "Docs", docs.string()}, {"rescan", "Docs"}}) {
    const auto run = indexing::RunQvindex(root, args);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->exit, 0) << run->output;
  }
  const auto query = [&](const std::string& word) {
    const auto run = indexing::RunQvindex(
        root, {"query", "SELECT Path FROM Docs..Scope() WHERE CONTAINS('" + word + "')"});
    return run ? run->output : std::string();
  };
  EXPECT_NE(query("Pangolin").find("letter.rtf"), std::string::npos);
  EXPECT_NE(query("Wallaby").find("plain.txt"), std::string::npos);
  EXPECT_EQ(query("Tapir").find("broken.rtf"), std::string::npos);
}

}  // namespace
}  // namespace qv::platform::readers
