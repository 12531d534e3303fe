// Choosing the reader for a document, and reading the file it comes in.
#include "platform/indexing/readers/document_readers.h"

#include <unistd.h>

#include <cerrno>

#include "common/utf.h"
#include "platform/indexing/readers/text_sink.h"
#include "platform/indexing/regular_file.h"

namespace qv::platform::readers {

DocumentFormat FormatByExtension(std::string_view extension) {
  const std::string ext = AsciiLower(extension);
  if (ext == ".pdf") return DocumentFormat::Pdf;
  if (ext == ".rtf") return DocumentFormat::Rtf;
  if (ext == ".odt" || ext == ".ods" || ext == ".odp" || ext == ".ott" || ext == ".ots" ||
      ext == ".otp") {
    return DocumentFormat::OpenDocument;
  }
  if (ext == ".docx" || ext == ".xlsx" || ext == ".pptx" || ext == ".docm" || ext == ".xlsm" ||
      ext == ".pptm") {
    return DocumentFormat::Ooxml;
  }
  if (ext == ".epub") return DocumentFormat::Epub;
  if (ext == ".eml") return DocumentFormat::Mail;
  return DocumentFormat::Unknown;
}

DocumentFormat SniffFormat(std::string_view head) {
  if (head.starts_with("%PDF-")) return DocumentFormat::Pdf;
  if (head.starts_with("{\\rtf")) return DocumentFormat::Rtf;
  return DocumentFormat::Unknown;
}

HRESULT ReadDocumentBytes(std::string_view bytes, std::string_view extension,
                          const ReaderLimits& limits, DocumentText& out) {
  out = DocumentText{};
  DocumentFormat format = SniffFormat(bytes.substr(0, 16));
  // A zip archive tells its kind by its members, whatever the extension says.
  const bool zip = bytes.starts_with("PK\x03\x04");
  if (format == DocumentFormat::Unknown && !zip) format = FormatByExtension(extension);
  // Maildir messages have no extension of their own: their header tells.
  if (format == DocumentFormat::Unknown && !zip && LooksLikeMail(bytes.substr(0, 4096))) {
    format = DocumentFormat::Mail;
  }
  if (zip) return ReadZipDocument(bytes, limits, out);
  switch (format) {
    case DocumentFormat::Pdf:
      return ReadPdf(bytes, limits, out);
    case DocumentFormat::Rtf:
      return ReadRtf(bytes, limits, out);
    case DocumentFormat::Mail:
      return ReadMail(bytes, limits, out);
    default:
      return FILTER_E_UNKNOWNFORMAT;
  }
}

HRESULT ReadDocument(const std::filesystem::path& file, const ReaderLimits& limits,
                     DocumentText& out) {
  out = DocumentText{};
  UniqueFd fd;
  HRESULT hr = indexing::OpenRegularFile(file, fd);
  if (Failed(hr)) return hr;
  // The whole file is read into memory: the formats want to seek (a zip's directory and a
  // PDF's cross-reference table sit at the end). A file larger than the decompression budget
  // is refused before it is read.
  std::string bytes;
  char buf[64 * 1024];
  for (;;) {
    const ssize_t n = read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HresultFromErrno(errno);
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > limits.maxDecompressedBytes) {
      return kLimitExceeded;
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  return ReadDocumentBytes(bytes, file.extension().string(), limits, out);
}

}  // namespace qv::platform::readers
