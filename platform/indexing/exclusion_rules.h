#pragma once
// What the indexer never takes in, whatever a catalog's scopes say: the folders where
// secrets live (keys, keyrings, password stores, browser and mail profiles) and the
// installation root with the system's own stores. The list lives in the registry, one value
// per folder under kExcludedFoldersKey, where the user can add folders of their own; the
// built-in entries apply even when someone deletes them there. An entry reads as
//   "~/x/y"  a folder below the home folder,
//   "/x/y"   an absolute folder,
//   "x/y"    any folder whose last components are x/y, wherever it lies (".ssh" is every
//            folder named .ssh);
// a component may use the shell's "*", "?" and "[...]". An excluded folder takes everything
// below it along.
#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace qv::platform::indexing {

// Under HKEY_LOCAL_MACHINE, beside the catalogs.
inline constexpr std::string_view kExcludedFoldersKey =
    "SYSTEM\\CurrentControlSet\\Control\\ContentIndex\\ExcludedFolders";

inline constexpr std::array<std::string_view, 14> kBuiltinExcludedFolders = {
    ".ssh",
    ".gnupg",
    ".password-store",
    ".pki",
    ".local/share/keyrings",
    ".mozilla",
    ".thunderbird",
    ".config/chromium",
    ".config/google-chrome",
    ".config/BraveSoftware",
    ".config/microsoft-edge",
    ".config/vivaldi",
    ".config/opera",
    ".config/evolution",
};

class ExclusionRules {
 public:
  // `home` expands "~"; `stateRoot` is the installation root (QV_ROOT). The built-in
  // entries are always part of the rules.
  ExclusionRules(const std::vector<std::string>& extra, const std::filesystem::path& home,
                 const std::filesystem::path& stateRoot);

  // The built-in entries and the user's from the registry. When the key is missing it is
  // written with the built-in list, so that the user finds the list to extend.
  static ExclusionRules Load(Registry& registry, const std::filesystem::path& stateRoot);

  // A secret folder or something below one.
  bool IsSecret(std::string_view path) const;
  // The installation root or something below it.
  bool InStateRoot(std::string_view path) const;
  // Strictly below the installation root: a folder the user keeps there on purpose.
  bool InsideStateRoot(std::string_view path) const;
  // Every entry, as read, for a signature of the rules.
  std::string Describe() const;

 private:
  struct Entry {
    bool anchored = false;  // matched from "/" rather than anywhere
    std::vector<std::string> parts;
  };
  std::vector<Entry> entries_;
  std::vector<std::string> stateRoots_;  // as given and with links resolved
  std::string text_;
};

}  // namespace qv::platform::indexing
