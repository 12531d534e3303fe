// OpenDocument text, spreadsheets and presentations: the text of content.xml in document
// order, and the title, first author and dates of meta.xml.
#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/readers/zip_formats.h"

namespace qv::platform::readers {
namespace {

constexpr std::string_view kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTextNs = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";

// Text inside office:body; paragraphs, headings, cells and list items end with a break,
// text:s, text:tab and text:line-break stand for their blanks.
class ContentHandler : public XmlHandler {
 public:
  explicit ContentHandler(TextSink& sink) : sink_(sink) {}

  void StartElement(XmlName name, const char** attrs) override {
    if (name.ns == kOfficeNs && name.local == "body") ++inBody_;
    if (!inBody_) return;
    if (name.ns == kTextNs) {
      if (name.local == "s") {
        // text:c repeats the blank; one is enough for the index.
        sink_.Append(" ");
      } else if (name.local == "tab") {
        sink_.Append("\t");
      } else if (name.local == "line-break") {
        sink_.Break();
      }
    }
    (void)attrs;
  }

  void EndElement(XmlName name) override {
    if (name.ns == kOfficeNs && name.local == "body" && inBody_) --inBody_;
    if (!inBody_) return;
    if (name.local == "p" || name.local == "h" || name.local == "table-cell" ||
        name.local == "list-item" || name.local == "frame") {
      sink_.Break();
    }
  }

  void Text(std::string_view text) override {
    if (inBody_) sink_.Append(text);
  }
  bool Done() const override { return sink_.Full(); }

 private:
  TextSink& sink_;
  int inBody_ = 0;
};

}  // namespace

HRESULT ReadOpenDocument(ZipArchive& zip, const ReaderLimits& limits, DocumentText& out) {
  HRESULT hr = S_OK;
  {
    TextSink sink(out, limits.maxTextBytes);
    ContentHandler content(sink);
    hr = ParseZipMember(zip, "content.xml", limits, content);
    if (hr == STG_E_FILENOTFOUND) return FILTER_E_UNKNOWNFORMAT;
    if (Failed(hr)) return hr;
  }
  std::string title, initialCreator, creator, created, modified;
  MetadataCollector meta({{"title", "purl.org/dc", &title},
                          {"initial-creator", ":meta:", &initialCreator},
                          {"creator", "purl.org/dc", &creator},
                          {"creation-date", ":meta:", &created},
                          {"date", "purl.org/dc", &modified}});
  // Metadata is optional, and broken metadata costs the properties, not the text; only a
  // limit fails the document.
  hr = ParseZipMember(zip, "meta.xml", limits, meta);
  if (hr == kLimitExceeded) return hr;
  if (Failed(hr)) return S_OK;
  SetProperty(out.title, title);
  SetProperty(out.author, initialCreator.empty() ? creator : initialCreator);
  out.created = ParseDocumentDate(created);
  out.modified = ParseDocumentDate(modified);
  return S_OK;
}

}  // namespace qv::platform::readers
