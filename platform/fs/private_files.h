#pragma once
// Everything the installation keeps belongs to the user alone: folders 0700 and files 0600,
// whatever umask the calling process runs with. Programs also narrow their umask at start, so
// that files made by libraries that take no mode (SQLite's side files among them) follow.
#include <sys/types.h>

#include <filesystem>
#include <system_error>

namespace qv::platform {

inline constexpr mode_t kPrivateFolderMode = 0700;
inline constexpr mode_t kPrivateFileMode = 0600;

// The first thing every program does: umask 077 for the whole process.
void RestrictUmask();

// Creates `folder` and every missing parent, each one it makes 0700. Existing folders are left
// as they are (tightening is the root's business, see EnsurePrivateRoot).
std::error_code CreatePrivateFolders(const std::filesystem::path& folder);

// Makes `file` exist, empty when new, as 0600; an existing file of ours that grants others
// access is narrowed to 0600. For stores whose writer opens files without a mode of ours
// (SQLite gives its -wal, -shm and -journal files the mode of the database).
std::error_code CreatePrivateFile(const std::filesystem::path& file);

// QV_ROOT as a private folder: created 0700 (with its parents), or an existing one that grants
// group or others any access narrowed to 0700; `tightened` says the latter happened, so that
// the caller can warn. A root that is not a folder, or belongs to another user, is refused.
std::error_code EnsurePrivateRoot(const std::filesystem::path& root, bool& tightened);

}  // namespace qv::platform
