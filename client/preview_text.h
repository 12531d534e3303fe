#pragma once
// The text the preview pane shows for plain-text files and for documents the indexing filters
// can read. Files are opened as the indexer opens them (no link at the last component, never
// a FIFO or device), and only the beginning of a large file is shown.
#include <cstddef>
#include <filesystem>
#include <string>

#include "common/hresult.h"
#include "platform/indexing/document_reader.h"

namespace qv::client {

inline constexpr std::size_t kMaxPreviewTextBytes = 1u << 20;

// Keeps valid UTF-8 as it is; every byte that does not start a valid sequence becomes U+FFFD,
// and a sequence cut by the end of `bytes` is dropped when `cut` says the text goes on.
std::string ValidPreviewText(std::string_view bytes, bool cut);

// At most kMaxPreviewTextBytes of a text file, as valid UTF-8.
HRESULT ReadPreviewText(const std::filesystem::path& file, std::string& out);
// The text the file's indexing filter extracts, at most kMaxPreviewTextBytes; S_FALSE (and
// no text) when no filter reads the file.
HRESULT FilteredPreviewText(platform::indexing::DocumentReader& reader,
                            const std::filesystem::path& file, std::string& out);

}  // namespace qv::client
