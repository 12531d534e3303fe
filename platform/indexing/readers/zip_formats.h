#pragma once
// The three document formats that are zip archives of XML parts.
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/indexing/readers/xml_stream.h"
#include "platform/indexing/readers/zip_archive.h"

namespace qv::platform::readers {

HRESULT ReadOpenDocument(ZipArchive& zip, const ReaderLimits& limits, DocumentText& out);
HRESULT ReadOoxml(ZipArchive& zip, const ReaderLimits& limits, DocumentText& out);
HRESULT ReadEpub(ZipArchive& zip, const ReaderLimits& limits, DocumentText& out);

// Parses a member as XML while it inflates, never holding it whole. STG_E_FILENOTFOUND
// when there is no such member; otherwise the archive's or the parser's result.
HRESULT ParseZipMember(ZipArchive& zip, std::string_view name, const ReaderLimits& limits,
                       XmlHandler& handler);

// An EPUB manifest href resolved against the package document's path into a member name;
// empty when it names no member (another scheme, or a path that leaves the archive).
std::string ResolveEpubHref(std::string_view base, std::string_view href);

// A date as these formats write it (W3C date-time); unset when it does not parse.
std::optional<DATE> ParseDocumentDate(std::string_view text);

// Collects the text of every element with one of the given local names in the Dublin Core
// namespace or the format's own metadata namespaces: title, creator and dates.
struct MetadataCollector : XmlHandler {
  // Local names (of any namespace) whose text is wanted, and where the text goes.
  struct Field {
    std::string_view local;
    std::string_view nsPart;  // a piece of the namespace URI that must be present
    std::string* to;
  };
  explicit MetadataCollector(std::initializer_list<Field> fields) : fields_(fields) {}
  void StartElement(XmlName name, const char**) override;
  void EndElement(XmlName name) override;
  void Text(std::string_view text) override;

 private:
  std::vector<Field> fields_;
  std::string* current_ = nullptr;
  std::uint32_t depth_ = 0;
};

}  // namespace qv::platform::readers
