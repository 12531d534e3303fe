#pragma once
// Opening what the crawler saw without being tricked: it saw a regular file or a folder with
// lstat, but by the time it is opened, it may have been swapped for a link or a FIFO. The
// opens follow no link at the last component and never block, and a file that is not a
// regular file is refused before a byte is read.
#include <dirent.h>

#include <filesystem>

#include "common/hresult.h"
#include "platform/messaging/unique_fd.h"

namespace qv::platform::indexing {

// S_OK with an open descriptor of a regular file; the errno's HRESULT when the open fails
// (a link at the last component gives ELOOP); E_ACCESSDENIED for anything but a regular file.
HRESULT OpenRegularFile(const std::filesystem::path& file, UniqueFd& out);

// A folder's listing, or null with errno set (ELOOP or ENOTDIR for a link); closedir it.
DIR* OpenFolderNoFollow(const std::string& folder);

}  // namespace qv::platform::indexing
