#pragma once
// Readers of binary document formats: PDF, OpenDocument (odt, ods, odp), Office Open XML
// (docx, xlsx, pptx), EPUB, RTF and mail files. Each turns one document into its text and the title,
// author and dates the format carries, within ReaderLimits, so that a hostile document fails
// alone with a clear error. Readers keep no state between calls; the filter host runs them
// in a process of its own.
#include <filesystem>
#include <span>
#include <string_view>

#include "platform/indexing/document_text.h"

namespace qv::platform::readers {

enum class DocumentFormat { Unknown, Pdf, Rtf, OpenDocument, Ooxml, Epub, Mail };

// The format of a file: by its first bytes where they tell (%PDF, {\rtf, a zip archive), and
// by the extension otherwise. A zip archive is Unknown until its members are seen.
DocumentFormat FormatByExtension(std::string_view extension);
DocumentFormat SniffFormat(std::string_view head);

// Reads the file as the format its content and extension name: a DocumentReaderFn.
HRESULT ReadDocument(const std::filesystem::path& file, const ReaderLimits& limits,
                     DocumentText& out);

// The same over bytes in memory (tests and fuzzing).
HRESULT ReadDocumentBytes(std::string_view bytes, std::string_view extension,
                          const ReaderLimits& limits, DocumentText& out);

// One format each, over bytes in memory.
HRESULT ReadRtf(std::string_view bytes, const ReaderLimits& limits, DocumentText& out);
// A zip archive read as OpenDocument, Office Open XML or EPUB, by the members it holds.
HRESULT ReadZipDocument(std::string_view bytes, const ReaderLimits& limits, DocumentText& out);
// A mail file (.eml or a Maildir message): subject as title, sender as author, date as
// created; the text of the subject and address fields, the body and text attachments.
HRESULT ReadMail(std::string_view bytes, const ReaderLimits& limits, DocumentText& out);
// Whether the first bytes of a file are a mail header: header fields up to the first blank
// line, one of them a field that mail carries (From, Date, Received, ...).
bool LooksLikeMail(std::string_view head);
// PDF; E_NOTIMPL when the program was built without poppler.
HRESULT ReadPdf(std::string_view bytes, const ReaderLimits& limits, DocumentText& out);

}  // namespace qv::platform::readers
