#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/oledate.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/readers/zip_formats.h"

namespace qv::platform::readers {
namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

// A zip archive made in memory with libzip, members deflated (or stored) in the given order.
std::string MakeZip(const Members& members, bool store = false) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &err);
  zip_source_keep(src);
  zip_t* z = zip_open_from_source(src, ZIP_TRUNCATE, &err);
  EXPECT_NE(z, nullptr);
  for (const auto& [name, data] : members) {
    zip_source_t* s = zip_source_buffer(z, data.data(), data.size(), 0);
    const zip_int64_t i = zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8);
    EXPECT_GE(i, 0);
    if (store) zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
  }
  EXPECT_EQ(zip_close(z), 0);
  zip_error_fini(&err);
  std::string bytes;
  EXPECT_EQ(zip_source_open(src), 0);
  char buf[65536];
  for (zip_int64_t n; (n = zip_source_read(src, buf, sizeof buf)) > 0;) {
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  zip_source_close(src);
  zip_source_free(src);
  return bytes;
}

std::string Joined(const DocumentText& d) {
  std::string all;
  for (const auto& c : d.chunks) all += c + "|";
  return all;
}

constexpr const char* kW =
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"";
const std::string kCore =
    "<?xml version=\"1.0\"?><cp:coreProperties "
    "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\">"
    "<dc:title>Quarterly  figures</dc:title><dc:creator>Grace Hopper</dc:creator>"
    "<dcterms:created>2024-02-03T04:05:06Z</dcterms:created>"
    "<dcterms:modified>2024-02-04T00:00:00Z</dcterms:modified></cp:coreProperties>";

std::string Docx(const std::string& body, const std::string& core = kCore) {
  return MakeZip({{"[Content_Types].xml", "<Types/>"},
                  {"word/document.xml",
                   std::string("<w:document ") + kW + "><w:body>" + body + "</w:body></w:document>"},
                  {"docProps/core.xml", core}});
}

TEST(OoxmlReader, WordRunsParagraphsAndCoreProperties) {
  // "Capybara" is split over three runs, one bold; deleted text never reaches the index.
  const std::string bytes =
      Docx("<w:p><w:r><w:t>Capy</w:t></w:r><w:r><w:rPr><w:b/></w:rPr><w:t>ba</w:t></w:r>"
           "<w:r><w:t xml:space=\"preserve\">ra herd</w:t></w:r></w:p>"
           "<w:p><w:r><w:delText>removed</w:delText><w:t>next</w:t><w:tab/><w:t>col</w:t>"
           "</w:r></w:p><w:tbl><w:tr><w:tc><w:p><w:r><w:t>&amp;cell&#233;</w:t></w:r></w:p>"
           "</w:tc></w:tr></w:tbl>");
  DocumentText d;
  ASSERT_EQ(ReadDocumentBytes(bytes, ".docx", {}, d), S_OK);
  EXPECT_EQ(Joined(d), "Capybara herd\nnext\tcol\n&cell\xC3\xA9|");
  EXPECT_EQ(d.title, "Quarterly figures");
  EXPECT_EQ(d.author, "Grace Hopper");
  ASSERT_TRUE(d.created && d.modified);
  EXPECT_EQ(FormatIsoDate(*d.created), "2024-02-03T04:05:06Z");
  EXPECT_EQ(FormatIsoDate(*d.modified), "2024-02-04T00:00:00Z");

  // Whatever the extension says, the members decide; broken core properties cost only them.
  ASSERT_EQ(ReadDocumentBytes(Docx("<w:p><w:r><w:t>kept</w:t></w:r></w:p>", "<broken"),
                              ".zip", {}, d),
            S_OK);
  EXPECT_EQ(Joined(d), "kept|");
  EXPECT_FALSE(d.title.has_value());
}

TEST(OoxmlReader, SpreadsheetSharedStringsAndSlidesInNumberOrder) {
  const std::string sheet = [](std::string cells) {
    return "<worksheet><sheetData>" + cells + "</sheetData></worksheet>";
  }("<row><c t=\"s\"><v>1</v></c><c><v>42.5</v></c><c t=\"inlineStr\"><is><t>inline</t></is>"
    "</c><c t=\"s\"><v>99</v></c></row><row><c t=\"s\"><v>0</v></c></row>");
  const std::string xlsx = MakeZip(
      {{"[Content_Types].xml", "<Types/>"},
       {"xl/workbook.xml", "<workbook/>"},
       {"xl/sharedStrings.xml",
        "<sst><si><t>first</t></si><si><r><t>Nar</t></r><r><t>whal</t></r>"
        "<rPh><t>reading</t></rPh></si></sst>"},
       {"xl/worksheets/sheet10.xml", "<worksheet><sheetData><row><c t=\"s\"><v>0</v></c>"
                                     "</row></sheetData></worksheet>"},
       {"xl/worksheets/sheet2.xml", sheet}});
  DocumentText d;
  ASSERT_EQ(ReadDocumentBytes(xlsx, ".xlsx", {}, d), S_OK);
  // An index past the table (99) is skipped, not trusted.
  EXPECT_EQ(Joined(d), "Narwhal\t42.5\tinline\t\nfirst|first|");

  const auto slide = [](const std::string& text) {
    return "<p:sld xmlns:p=\"p\" xmlns:a=\"a\"><a:p><a:r><a:t>" + text +
           "</a:t></a:r></a:p></p:sld>";
  };
  const std::string pptx = MakeZip({{"[Content_Types].xml", "<Types/>"},
                                    {"ppt/presentation.xml", "<p/>"},
                                    {"ppt/slides/slide10.xml", slide("ten")},
                                    {"ppt/slides/slide2.xml", slide("two")},
                                    {"ppt/slides/slide1.xml", slide("one")},
                                    {"ppt/slides/slideX.xml", slide("not a slide")}});
  ASSERT_EQ(ReadDocumentBytes(pptx, ".pptx", {}, d), S_OK);
  EXPECT_EQ(Joined(d), "one|two|ten|");
}

TEST(OpenDocumentReader, BodyTextAndMetadata) {
  const std::string content =
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
      " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
      "<office:automatic-styles><style>StyleNameNotText</style></office:automatic-styles>"
      "<office:body><office:text><text:h>Heading</text:h>"
      "<text:p>Arma<text:span text:style-name=\"b\">dill</text:span>o<text:s/>walks"
      "<text:tab/>far</text:p><text:p>second</text:p></office:text></office:body>"
      "</office:document-content>";
  const std::string meta =
      "<office:document-meta xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
      " xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\""
      " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><office:meta>"
      "<dc:title>Field guide</dc:title><meta:initial-creator>Rachel Carson</meta:initial-creator>"
      "<dc:creator>Someone Else</dc:creator><meta:creation-date>2021-05-06T07:08:09"
      "</meta:creation-date><dc:date>2022-01-01T00:00:00</dc:date></office:meta>"
      "</office:document-meta>";
  const std::string odt = MakeZip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                                   {"content.xml", content},
                                   {"meta.xml", meta}},
                                  /*store=*/true);
  DocumentText d;
  ASSERT_EQ(ReadDocumentBytes(odt, ".odt", {}, d), S_OK);
  EXPECT_EQ(Joined(d), "Heading\nArmadillo walks\tfar\nsecond|");
  EXPECT_EQ(d.title, "Field guide");
  EXPECT_EQ(d.author, "Rachel Carson");
  ASSERT_TRUE(d.created && d.modified);
  EXPECT_EQ(FormatIsoDate(*d.created), "2021-05-06T07:08:09Z");
  EXPECT_EQ(FormatIsoDate(*d.modified), "2022-01-01T00:00:00Z");
}

TEST(EpubReader, ChaptersInSpineOrderWithMetadata) {
  const auto chapter = [](const std::string& body) {
    return "<?xml version=\"1.0\"?><!DOCTYPE html><html xmlns=\"http://www.w3.org/1999/xhtml\">"
           "<head><title>head title</title><style>p{}</style></head><body>" +
           body + "</body></html>";
  };
  const std::string epub = MakeZip(
      {{"mimetype", "application/epub+zip"},
       {"META-INF/container.xml",
        "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
        "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
        "</rootfiles></container>"},
       {"OEBPS/content.opf",
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\">"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Moby-Dick</dc:title>"
        "<dc:creator>Herman Melville</dc:creator><dc:date>1851</dc:date>"
        "<meta property=\"dcterms:modified\">2020-01-02T03:04:05Z</meta></metadata>"
        "<manifest><item id=\"a\" href=\"text/first%20part.xhtml\"/>"
        "<item id=\"b\" href=\"text/../second.xhtml#top\"/>"
        "<item id=\"c\" href=\"notes.xhtml\"/><item id=\"evil\" href=\"../../etc/x\"/>"
        "<item id=\"html\" href=\"loose.html\"/></manifest>"
        "<spine><itemref idref=\"b\"/><itemref idref=\"c\" linear=\"no\"/>"
        "<itemref idref=\"evil\"/><itemref idref=\"missing\"/><itemref idref=\"a\"/>"
        "<itemref idref=\"html\"/></spine>"
        "</package>"},
       {"OEBPS/text/first part.xhtml", chapter("<p>Call me</p><p>Ish<b>mael</b>.</p>")},
       {"OEBPS/second.xhtml", chapter("<h1>Loomings</h1><script>var x;</script>")},
       {"OEBPS/notes.xhtml", chapter("<p>aside</p>")},
       // Not well-formed XML: read as HTML instead.
       {"OEBPS/loose.html", "<html><body><p>Queequeg&nbsp;<br>harpooneer</body></html>"}});
  DocumentText d;
  ASSERT_EQ(ReadDocumentBytes(epub, ".epub", {}, d), S_OK);
  // The spine reads "second" before "first part"; the non-linear notes are left out.
  const std::string text = Joined(d);
  EXPECT_TRUE(text.starts_with("Loomings|Call me\nIshmael.|")) << text;
  EXPECT_NE(text.find("Queequeg"), std::string::npos) << text;
  EXPECT_NE(text.find("harpooneer"), std::string::npos) << text;
  EXPECT_EQ(d.chunks.size(), 3u) << text;
  EXPECT_EQ(d.title, "Moby-Dick");
  EXPECT_EQ(d.author, "Herman Melville");
  ASSERT_TRUE(d.created && d.modified);
  EXPECT_EQ(FormatIsoDate(*d.created), "1851-01-01T00:00:00Z");
  EXPECT_EQ(FormatIsoDate(*d.modified), "2020-01-02T03:04:05Z");

  EXPECT_EQ(ResolveEpubHref("OPS/book.opf", "a/./b/../c.xhtml"), "OPS/a/c.xhtml");
  EXPECT_EQ(ResolveEpubHref("book.opf", "c%C3%A9.xhtml#x"), "c\xC3\xA9.xhtml");
  EXPECT_EQ(ResolveEpubHref("OPS/book.opf", "/root.xhtml"), "root.xhtml");
  EXPECT_EQ(ResolveEpubHref("OPS/book.opf", "../../up.xhtml"), "");
  EXPECT_EQ(ResolveEpubHref("OPS/book.opf", "http://example.com/x.xhtml"), "");
  EXPECT_EQ(ResolveEpubHref("OPS/book.opf", "bad%2"), "OPS/bad%2");
}

TEST(ZipReaders, HostileArchivesFailAlone) {
  DocumentText d;
  // A zip bomb: a document part of 12 MiB, nearly all blanks between elements (a few tens
  // of KiB deflated, and well-formed, so only the budget stops it) against a budget of
  // 4 MiB of inflated bytes.
  {
    const std::string blanks(12u << 20, ' ');
    const std::string bomb =
        MakeZip({{"[Content_Types].xml", "<Types/>"},
                 {"word/document.xml", std::string("<w:document ") + kW + "><w:body>" + blanks +
                                           "</w:body></w:document>"}});
    EXPECT_LT(bomb.size(), 64u * 1024);
    ReaderLimits limits;
    limits.maxDecompressedBytes = 4u << 20;
    EXPECT_EQ(ReadDocumentBytes(bomb, ".docx", limits, d), kLimitExceeded);
    EXPECT_TRUE(d.chunks.empty());
  }
  // The budget is shared by all members: two parts of 3 MiB each exceed 4 MiB together.
  {
    const std::string part = "<x>" + std::string(3u << 20, 'a') + "</x>";
    const std::string two = MakeZip({{"[Content_Types].xml", "<Types/>"},
                                     {"ppt/presentation.xml", "<p/>"},
                                     {"ppt/slides/slide1.xml", part},
                                     {"ppt/slides/slide2.xml", part}});
    ReaderLimits limits;
    limits.maxDecompressedBytes = 4u << 20;
    EXPECT_EQ(ReadDocumentBytes(two, ".pptx", limits, d), kLimitExceeded);
  }
  // Too many members.
  {
    Members many = {{"[Content_Types].xml", "<Types/>"}};
    for (int i = 0; i < 20; ++i) many.emplace_back("m" + std::to_string(i), "x");
    ReaderLimits limits;
    limits.maxEntries = 10;
    EXPECT_EQ(ReadDocumentBytes(MakeZip(many), ".docx", limits, d), kLimitExceeded);
  }
  // XML nested past the depth limit.
  {
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<w:r>";
    EXPECT_EQ(ReadDocumentBytes(Docx(deep), ".docx", {}, d), kLimitExceeded);
  }
  // Entity declarations (the "billion laughs") and external entities are refused.
  {
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"lol\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
        "<w:document " + std::string(kW) + "><w:body><w:p><w:r><w:t>&b;</w:t></w:r></w:p>"
        "</w:body></w:document>";
    const std::string external =
        "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<w:document " + std::string(kW) + "><w:body><w:p><w:r><w:t>&x;</w:t></w:r></w:p>"
        "</w:body></w:document>";
    for (const auto& xml : {laughs, external}) {
      const std::string z =
          MakeZip({{"[Content_Types].xml", "<Types/>"}, {"word/document.xml", xml}});
      EXPECT_EQ(ReadDocumentBytes(z, ".docx", {}, d), FILTER_E_UNKNOWNFORMAT);
      EXPECT_EQ(Joined(d).find("lol"), std::string::npos);
      EXPECT_EQ(Joined(d).find("root:"), std::string::npos);
    }
  }
  // Not a zip, a truncated zip, a zip of nothing we read, a document part that is not XML.
  {
    const std::string good = Docx("<w:p><w:r><w:t>x</w:t></w:r></w:p>");
    EXPECT_EQ(ReadDocumentBytes("PK\x03\x04garbage", ".docx", {}, d), FILTER_E_UNKNOWNFORMAT);
    EXPECT_EQ(ReadDocumentBytes(good.substr(0, good.size() / 2), ".docx", {}, d),
              FILTER_E_UNKNOWNFORMAT);
    EXPECT_EQ(ReadDocumentBytes(MakeZip({{"a.txt", "hello"}}), ".docx", {}, d),
              FILTER_E_UNKNOWNFORMAT);
    EXPECT_EQ(ReadDocumentBytes(MakeZip({{"[Content_Types].xml", "<Types/>"},
                                         {"word/document.xml", "<w:document><unclosed"}}),
                                ".docx", {}, d),
              FILTER_E_UNKNOWNFORMAT);
  }
}

TEST(ZipReaders, TextLimitCutsAndKeepsWhatWasRead) {
  std::string body;
  for (int i = 0; i < 1000; ++i) body += "<w:p><w:r><w:t>w\xC3\xA9rd</w:t></w:r></w:p>";
  ReaderLimits limits;
  limits.maxTextBytes = 100;
  DocumentText d;
  ASSERT_EQ(ReadDocumentBytes(Docx(body), ".docx", limits, d), S_OK);
  EXPECT_TRUE(d.truncated);
  ASSERT_EQ(d.chunks.size(), 1u);
  EXPECT_LE(d.chunks[0].size(), 100u);
  EXPECT_TRUE(d.chunks[0].starts_with("w\xC3\xA9rd\nw\xC3\xA9rd\n"));
  EXPECT_EQ(d.title, "Quarterly figures") << "properties are still read after the cut";
}

}  // namespace
}  // namespace qv::platform::readers
