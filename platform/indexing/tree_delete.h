#pragma once
// Deleting a catalog's files. The walk never follows a symbolic link: a link is removed as
// the link it is, so a link planted inside an index folder cannot lead the delete outside it.
#include <filesystem>

#include "common/hresult.h"

namespace qv::platform::indexing {

inline constexpr int kMaxDeleteDepth = 10;

// Deletes `folder` and everything inside it, at most kMaxDeleteDepth levels deep. Read-only
// folders are made writable first; entries already gone are ignored. S_OK also when the
// folder does not exist; the first other failure is returned after the walk went on.
HRESULT DeleteTree(const std::filesystem::path& folder);

// Deletes everything inside `folder` the same way and keeps the folder itself. A link where
// the folder should be is left alone and gives E_ACCESSDENIED: what it points to is not ours.
HRESULT EmptyTree(const std::filesystem::path& folder);

}  // namespace qv::platform::indexing
