#pragma once
// Where one user's installation keeps its state: everything under QV_ROOT (default
// $XDG_DATA_HOME/quillon-vesper, else ~/.local/share/quillon-vesper).
#include <filesystem>
#include <string_view>

namespace qv::platform {

// QV_ROOT from the environment, or the default above.
std::filesystem::path DefaultRoot();

enum class KnownFolder { LocalAppData, AppData, CommonAppData, InternetCache, Recent, Personal };

// Folders under the root with the Windows names; Recent and Personal are the real desktop's
// recent-files folder and the home folder.
std::filesystem::path KnownFolderPath(const std::filesystem::path& root, KnownFolder f);

}  // namespace qv::platform
