// PDF through poppler: the text of every page in page order, and the document information's
// title, author and dates. Poppler repairs what it can and refuses what it cannot; loops in
// the page tree and broken streams are its to detect. The pages read and the text taken are
// bounded here.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <memory>

#include "common/oledate.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {
namespace {

// Poppler reports every repair to stderr, where nobody reads it; the result is what counts.
void QuietPoppler(const std::string&, void*) {}

std::string Utf8(const poppler::ustring& s) {
  const poppler::byte_array bytes = s.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

std::optional<DATE> PdfDate(time_t t) {
  // Poppler answers (time_t)-1 when the date is missing or does not parse.
  if (t <= 0) return std::nullopt;
  const DATE d = UnixSecondsToDate(static_cast<double>(t));
  if (!IsValidDate(d)) return std::nullopt;
  return d;
}

}  // namespace

HRESULT ReadPdf(std::string_view bytes, const ReaderLimits& limits, DocumentText& out) {
  out = DocumentText{};
  if (!bytes.starts_with("%PDF-") && bytes.substr(0, 1024).find("%PDF-") == std::string_view::npos) {
    return FILTER_E_UNKNOWNFORMAT;
  }
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return kLimitExceeded;
  }
  poppler::set_debug_error_function(QuietPoppler, nullptr);
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  if (!doc) return FILTER_E_UNKNOWNFORMAT;
  if (doc->is_locked()) return FILTER_E_ACCESS;  // a password is needed to read the text
  const int pages = doc->pages();
  if (pages < 0) return FILTER_E_UNKNOWNFORMAT;
  if (static_cast<std::uint64_t>(pages) > limits.maxEntries) return kLimitExceeded;
  {
    TextSink sink(out, limits.maxTextBytes);
    for (int i = 0; i < pages && !sink.Full(); ++i) {
      std::unique_ptr<poppler::page> page(doc->create_page(i));
      if (!page) continue;  // a page that does not load costs only itself
      sink.Append(Utf8(page->text()));
      sink.EndPart();
    }
  }
  SetProperty(out.title, Utf8(doc->get_title()));
  SetProperty(out.author, Utf8(doc->get_author()));
  out.created = PdfDate(doc->get_creation_date_t());
  out.modified = PdfDate(doc->get_modification_date_t());
  return S_OK;
}

}  // namespace qv::platform::readers
