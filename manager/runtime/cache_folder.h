#pragma once
// Publishing the browser cache folder for the web history plug-in: the folder's path as
// UTF-16LE without terminator in <local application data>/Quillon/tempinet.dat, rewritten
// only when the folder changes.
#include <filesystem>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::manager {

std::filesystem::path CacheFolderFile(const std::filesystem::path& localAppData);

// The folder in the file's bytes; empty when they are too long, odd in number or not UTF-16.
std::string DecodeCacheFolder(std::string_view bytes);
// The folder the file names; empty when the file is missing, unreadable or too long.
std::string ReadPublishedCacheFolder(const std::filesystem::path& file);

// Writes `folder` to `file` through a temporary file and a rename, so that a reader sees the
// old path or the new one, never a torn one; the file is 0600 and its folder is made when
// missing. E_INVALIDARG for a path longer than the file may hold (nothing is written).
HRESULT WritePublishedCacheFolder(const std::filesystem::path& file, const std::string& folder);

// The tick's step: writes `current` when it differs (without regard to case) from
// `remembered`, and remembers it once written.
HRESULT PublishCacheFolder(const std::filesystem::path& file, const std::string& current,
                           std::string& remembered);

}  // namespace qv::manager
