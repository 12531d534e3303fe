#pragma once
// The document readers as a filter of the catalog engine: its text chunks are the
// document's parts, its value chunks the title, author and dates; and its registration for
// the extensions of the formats this build reads.
#include <memory>

#include "common/guid.h"
#include "platform/com/class_registry.h"
#include "platform/indexing/document_text.h"
#include "platform/indexing/filter.h"
#include "platform/registry/registry.h"

namespace qv::platform::readers {

inline constexpr Guid kDocumentFilterClsid =
    MakeGuid(0x3E0B6C52, 0x8A41, 0x4F2D, 0x9C, 0x17, 0x5B, 0x2E, 0x64, 0xA9, 0x0D, 0x83);
inline constexpr Guid kDocumentHandlerClsid =
    MakeGuid(0x7F4D2A19, 0xC3B6, 0x4E85, 0xA0, 0x5E, 0x91, 0x3C, 0x28, 0x6F, 0xB4, 0x1A);

// The summary information set's author and dates (FILETIME values).
inline constexpr std::uint32_t kPidAuthor = 4;
inline constexpr std::uint32_t kPidCreated = 12;
inline constexpr std::uint32_t kPidLastSaved = 13;

// A filter over whatever reads the document: the readers in this process, or the filter
// host that runs them in another.
std::shared_ptr<Filter> MakeDocumentFilter(DocumentReaderFn read, ReaderLimits limits = {});

// Registers the filter class over `read` (ReadDocument in this process when empty).
void RegisterDocumentFilterClass(ClassRegistry& classes, DocumentReaderFn read = {});
// Gives the extensions of the formats this build reads the document filter as persistent
// handler, leaving extensions that already have one alone.
HRESULT RegisterDocumentFilterExtensions(Registry& registry);
// Which readers this build has: "rtf", "zip" (OpenDocument, OOXML, EPUB) and "pdf".
bool HasReader(std::string_view which);

}  // namespace qv::platform::readers
