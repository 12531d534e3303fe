#pragma once
// Keeping a file out of content indexing: the no-dump inode flag (chattr +d), which the
// indexer's file attributes read as "not content indexed".
#include <filesystem>

#include "common/hresult.h"

namespace qv::journal {

// Fails with the errno's HRESULT, for example on a file system without inode flags.
HRESULT MarkNotContentIndexed(const std::filesystem::path& file);

}  // namespace qv::journal
