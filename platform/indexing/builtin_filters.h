#pragma once
// The engine's own filters for plain text, HTML and XML, and their registrations by file
// extension. The extraction functions work on bytes in memory, so that they can be tested
// and fuzzed without files.
#include <string>
#include <string_view>

#include "common/guid.h"
#include "platform/com/class_registry.h"
#include "platform/indexing/filter.h"
#include "platform/registry/registry.h"

namespace qv::platform::indexing {

inline constexpr Guid kTextFilterClsid =
    MakeGuid(0xB0961D6B, 0x1898, 0x42D0, 0xBF, 0xEC, 0xB4, 0x59, 0xF0, 0x72, 0x81, 0x4C);
inline constexpr Guid kHtmlFilterClsid =
    MakeGuid(0x6BD1A831, 0x619A, 0x4598, 0x82, 0xED, 0x36, 0x9E, 0x35, 0xD6, 0xDA, 0x91);
inline constexpr Guid kXmlFilterClsid =
    MakeGuid(0xAC18C5CC, 0xCAF5, 0x49C2, 0xB5, 0x6B, 0x37, 0x4B, 0x00, 0xEB, 0x2C, 0xF0);
// Persistent handlers that name the filters above.
inline constexpr Guid kTextHandlerClsid =
    MakeGuid(0x549264B8, 0x926F, 0x4ADD, 0x92, 0x9C, 0x96, 0x62, 0xE1, 0x85, 0xC7, 0x25);
inline constexpr Guid kHtmlHandlerClsid =
    MakeGuid(0x2A0DEA84, 0xB8CC, 0x4C55, 0xA6, 0x4F, 0xCD, 0x62, 0x28, 0x77, 0x7B, 0x19);
inline constexpr Guid kXmlHandlerClsid =
    MakeGuid(0x97D82E4C, 0xF1C3, 0x474F, 0xBC, 0xF2, 0x28, 0xF2, 0xB7, 0xF5, 0x17, 0xED);

// A filter reads at most this much of a file; the rest is not indexed.
inline constexpr std::size_t kMaxFilteredBytes = 32u << 20;

struct ExtractedText {
  std::string text;
  std::string title;
};

// Bytes as UTF-8: a UTF-8 or UTF-16 byte order mark is honoured; bytes that are not valid
// UTF-8 are read as Windows-1252.
std::string DecodeText(std::string_view bytes);
// Windows-1252 (and ISO-8859-1) bytes to UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);
// Character and numeric references (&amp; &#233; &#x20AC;) replaced by their characters.
std::string DecodeEntities(std::string_view text);

ExtractedText ExtractPlainText(std::string_view bytes);
// Text outside tags, without comments, scripts and styles; the title from <title>.
ExtractedText ExtractHtml(std::string_view bytes);
// Character data and CDATA sections, without markup, comments and processing instructions.
ExtractedText ExtractXml(std::string_view bytes);

// Registers the three filter classes.
void RegisterBuiltinFilterClasses(ClassRegistry& classes);
// Writes the extension -> persistent handler -> filter entries under HKEY_CLASSES_ROOT for
// the extensions that have none yet.
HRESULT RegisterBuiltinFilterExtensions(Registry& registry);

}  // namespace qv::platform::indexing
