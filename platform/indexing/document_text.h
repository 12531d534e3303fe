#pragma once
// What a document reader hands the indexer: the document's text in order and the few
// properties most formats carry. Readers of binary formats run in the filter host process;
// this is also what crosses the pipe between the host and the indexer, so every part of it
// is bounded by ReaderLimits.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::platform {

struct ReaderLimits {
  std::uint64_t maxTextBytes = 16u << 20;          // text kept from one document
  std::uint64_t maxDecompressedBytes = 256u << 20; // bytes inflated from archives and streams
  std::uint32_t maxEntries = 10'000;               // archive members, pages, parts
  std::uint32_t maxDepth = 256;                    // nesting of groups, elements, parts
};

struct DocumentText {
  std::vector<std::string> chunks;  // UTF-8 text in reading order (pages, paragraphs, parts)
  std::optional<std::string> title;
  std::optional<std::string> author;
  std::optional<DATE> created;
  std::optional<DATE> modified;
  bool truncated = false;  // a limit cut the text; what was read is kept
};

// A reader fails with FILTER_E_UNKNOWNFORMAT for a file it cannot read as its format, with
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) (0x800700DF) when a decompression or nesting limit
// refuses it, and with another error for I/O.
using DocumentReaderFn = std::function<HRESULT(const std::filesystem::path& file,
                                               const ReaderLimits& limits, DocumentText& out)>;

}  // namespace qv::platform
