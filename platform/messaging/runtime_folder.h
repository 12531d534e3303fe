#pragma once
// The per-user folder that holds one socket per reachable window:
// $XDG_RUNTIME_DIR/quillon-vesper/, or, where XDG_RUNTIME_DIR is unset (as under CI),
// <temp>/quillon-vesper-<uid>. The folder is 0700 and refused unless the user owns it, so
// that no other user can plant or reach a window.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::platform {

inline constexpr std::string_view kRuntimeFolderName = "quillon-vesper";

// What decides the folder; CurrentRuntimeEnvironment() reads it from the process.
struct RuntimeEnvironment {
  std::optional<std::string> xdgRuntimeDir;  // unset or empty: use the temporary folder
  std::filesystem::path tempDir;             // $TMPDIR, else /tmp
  uid_t uid = 0;
};

RuntimeEnvironment CurrentRuntimeEnvironment();

// The folder's path for an environment (not created).
std::filesystem::path RuntimeFolderPath(const RuntimeEnvironment& env);

// Creates the folder with mode 0700 if it is missing, then checks it: a real directory (not
// a symbolic link) owned by `uid`. A folder of the user with wider permissions is narrowed to
// 0700; one owned by anybody else gives E_ACCESSDENIED. Other failures give the errno's
// HRESULT.
HRESULT EnsureRuntimeFolder(const std::filesystem::path& folder, uid_t uid);

// RuntimeFolderPath + EnsureRuntimeFolder for the calling process.
HRESULT OpenRuntimeFolder(std::filesystem::path& out);

}  // namespace qv::platform
