#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/oledate.h"
#include "common/temp_dir.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {
namespace {

std::string Deflate(const std::string& s) {
  uLongf n = compressBound(s.size());
  std::string out(n, '\0');
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &n,
                     reinterpret_cast<const Bytef*>(s.data()), s.size()),
            Z_OK);
  out.resize(n);
  return out;
}

// A PDF written object by object with a correct cross-reference table. `kids` is the page
// tree's Kids array (a loop when it names the tree itself).
std::string MakePdf(const std::vector<std::string>& pageTexts, const std::string& kids = "") {
  std::vector<std::string> objects;  // object i + 1
  const int pages = static_cast<int>(pageTexts.size());
  std::string kidList;
  for (int i = 0; i < pages; ++i) kidList += std::to_string(4 + 2 * i) + " 0 R ";
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [" + (kids.empty() ? kidList : kids) +
                    "] /Count " + std::to_string(pages) + " >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int i = 0; i < pages; ++i) {
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources "
                      "<< /Font << /F1 3 0 R >> >> /Contents " +
                      std::to_string(5 + 2 * i) + " 0 R >>");
    const std::string data = Deflate("BT /F1 12 Tf 72 700 Td (" + pageTexts[i] + ") Tj ET");
    objects.push_back("<< /Length " + std::to_string(data.size()) +
                      " /Filter /FlateDecode >>\nstream\n" + data + "\nendstream");
  }
  objects.push_back("<< /Title (Tide tables) /Author (Mary Anning) "
                    "/CreationDate (D:20240102030405Z) /ModDate (D:20240203040506Z) >>");
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R /Info " +
         std::to_string(objects.size()) + " 0 R >>\nstartxref\n" + std::to_string(xref) +
         "\n%%EOF\n";
  return pdf;
}

std::string Joined(const DocumentText& d) {
  std::string all;
  for (const auto& c : d.chunks) all += c + "|";
  return all;
}

TEST(PdfReader, TextOfCompressedPagesAndDocumentInformation) {
  const std::string pdf = MakePdf({"Axolotl swims", "second page"});
  ASSERT_EQ(pdf.find("Axolotl"), std::string::npos) << "the marker must only be in the stream";
  DocumentText d;
  ASSERT_EQ(ReadPdf(pdf, {}, d), S_OK);
  ASSERT_EQ(d.chunks.size(), 2u) << Joined(d);
  EXPECT_NE(d.chunks[0].find("Axolotl swims"), std::string::npos) << Joined(d);
  EXPECT_NE(d.chunks[1].find("second page"), std::string::npos) << Joined(d);
  EXPECT_EQ(d.title, "Tide tables");
  EXPECT_EQ(d.author, "Mary Anning");
  ASSERT_TRUE(d.created && d.modified);
  EXPECT_EQ(FormatIsoDate(*d.created), "2024-01-02T03:04:05Z");
  EXPECT_EQ(FormatIsoDate(*d.modified), "2024-02-03T04:05:06Z");

  // From a file, through the one entry point, whatever the name.
  TempDir dir;
  const auto file = dir.path() / "scan.bin";
  std::ofstream(file, std::ios::binary) << pdf;
  ASSERT_EQ(ReadDocument(file, {}, d), S_OK);
  EXPECT_NE(Joined(d).find("Axolotl"), std::string::npos);
  // A file larger than the budget is refused before it is parsed.
  ReaderLimits small;
  small.maxDecompressedBytes = 100;
  EXPECT_EQ(ReadDocument(file, small, d), kLimitExceeded);
  EXPECT_EQ(ReadDocument(dir.path() / "missing.pdf", {}, d),
            HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
}

TEST(PdfReader, LimitsOnPagesAndText) {
  const std::string pdf = MakePdf({"one", "two", "three"});
  DocumentText d;
  ReaderLimits pages;
  pages.maxEntries = 2;
  EXPECT_EQ(ReadPdf(pdf, pages, d), kLimitExceeded);
  ReaderLimits text;
  text.maxTextBytes = 5;
  ASSERT_EQ(ReadPdf(pdf, text, d), S_OK);
  EXPECT_TRUE(d.truncated);
  EXPECT_LE(Joined(d).size(), 5u + d.chunks.size());
}

TEST(PdfReader, BrokenDocumentsFailCleanly) {
  const std::string pdf = MakePdf({"Axolotl"});
  DocumentText d;
  EXPECT_EQ(ReadPdf("%PDF-1.4\n", {}, d), FILTER_E_UNKNOWNFORMAT);
  EXPECT_EQ(ReadPdf("not a pdf", {}, d), FILTER_E_UNKNOWNFORMAT);
  // Cut anywhere, the document either fails or gives what poppler could recover; never a
  // crash, and never text that is not in it.
  for (std::size_t cut : {pdf.size() / 4, pdf.size() / 2, pdf.size() - 40}) {
    const HRESULT hr = ReadPdf(pdf.substr(0, cut), {}, d);
    EXPECT_TRUE(hr == S_OK || hr == FILTER_E_UNKNOWNFORMAT) << cut << ": " << hr;
    for (const auto& c : d.chunks) EXPECT_NE(c.find("Axolotl"), std::string::npos) << c;
  }
  // A page tree whose Kids name the tree itself has no page to read.
  const std::string loop = MakePdf({"Axolotl"}, "2 0 R");
  const HRESULT hr = ReadPdf(loop, {}, d);
  EXPECT_TRUE(Failed(hr) || d.chunks.empty()) << hr << " " << Joined(d);
}

}  // namespace
}  // namespace qv::platform::readers
