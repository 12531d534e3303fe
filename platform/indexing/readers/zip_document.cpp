// A zip archive read as the document format its members name, and what the zip formats share.
#include <algorithm>

#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/readers/zip_formats.h"

namespace qv::platform::readers {

std::optional<DATE> ParseDocumentDate(std::string_view text) {
  std::string s = CollapseSpace(text);
  // A year alone or a year and month (EPUB allows both) counts from the first day.
  if (s.size() == 4) s += "-01-01";
  if (s.size() == 7) s += "-01";
  return ParseIsoDate(s);
}

void MetadataCollector::StartElement(XmlName name, const char**) {
  if (current_) {
    ++depth_;
    return;
  }
  for (const auto& f : fields_) {
    if (name.local == f.local && name.ns.find(f.nsPart) != std::string_view::npos &&
        f.to->empty()) {
      current_ = f.to;
      depth_ = 1;
      return;
    }
  }
}

void MetadataCollector::EndElement(XmlName) {
  if (current_ && --depth_ == 0) current_ = nullptr;
}

void MetadataCollector::Text(std::string_view text) {
  if (current_ && current_->size() < kMaxPropertyBytes) current_->append(text);
}

HRESULT ParseZipMember(ZipArchive& zip, std::string_view name, const ReaderLimits& limits,
                       XmlHandler& handler) {
  XmlStreamParser parser(limits, handler);
  HRESULT parsed = S_OK;
  const HRESULT hr = zip.ReadPieces(name, [&](std::string_view piece, bool last) {
    parsed = parser.Feed(piece, last);
    return parsed == S_OK;
  });
  if (Failed(parsed)) return parsed;
  return Failed(hr) ? hr : S_OK;
}

HRESULT ReadZipDocument(std::string_view bytes, const ReaderLimits& limits, DocumentText& out) {
  out = DocumentText{};
  std::unique_ptr<ZipArchive> zip;
  HRESULT hr = ZipArchive::Open(bytes, limits, zip);
  if (Failed(hr)) return hr;
  // The "mimetype" member names OpenDocument and EPUB files; Office files have a content
  // types part instead.
  std::string mime;
  if (zip->Has("mimetype")) {
    hr = zip->Read("mimetype", mime);
    if (Failed(hr)) return hr;
    mime = CollapseSpace(mime.substr(0, 200));
  }
  if (mime == "application/epub+zip" || (mime.empty() && zip->Has("META-INF/container.xml"))) {
    return ReadEpub(*zip, limits, out);
  }
  if (mime.starts_with("application/vnd.oasis.opendocument.") ||
      (mime.empty() && zip->Has("content.xml"))) {
    return ReadOpenDocument(*zip, limits, out);
  }
  if (zip->Has("[Content_Types].xml")) return ReadOoxml(*zip, limits, out);
  return FILTER_E_UNKNOWNFORMAT;
}

}  // namespace qv::platform::readers
