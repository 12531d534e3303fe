#pragma once
// Opening a document for reading without being tricked: the crawler saw a regular file with
// lstat, but by the time a filter opens it, it may have been swapped for a link or a FIFO.
// The open follows no link at the last component and never blocks, and anything that is not
// a regular file is refused before a byte is read.
#include <filesystem>

#include "common/hresult.h"
#include "platform/messaging/unique_fd.h"

namespace qv::platform::indexing {

// S_OK with an open descriptor of a regular file; the errno's HRESULT when the open fails
// (a link at the last component gives ELOOP); E_ACCESSDENIED for anything but a regular file.
HRESULT OpenRegularFile(const std::filesystem::path& file, UniqueFd& out);

}  // namespace qv::platform::indexing
