#pragma once
// What a caller of the ranking service may name: its identity as a stable string, the
// folders it may hand in (its own home and the installation's data, given as canonical
// paths), the store lists of its mail profiles, and the shortcut folders whose stale files
// the service deletes for it.
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"

namespace qv::service {

// Folders of a request are refused beyond this many characters (UTF-16 units), never cut:
// a cut path names another folder.
inline constexpr std::size_t kMaxRequestFolderChars = 259;

// The per-user shortcut folders under <root>/LocalAppData: web history, journal markers and
// mail item shortcuts.
inline constexpr std::string_view kShortcutFolders[] = {"Quillon/WebHistory", "Quillon/Journal",
                                                        "Quillon/Email"};

// A user's identity in the form the scope numbers and private catalog names are built from:
// "S-1-22-1-<uid>", the security identifier under which Unix users are known to Windows
// peers. The search client builds the same string.
std::string OwnerIdentity(uid_t uid);

// Checks a folder handed in by a caller: backslashes become "/", then it must be absolute,
// canonical (no ".", "..", repeated separators or symbolic links in the part that exists),
// at most kMaxRequestFolderChars long and inside `home` or `dataRoot` (or one of them).
// `out` is the folder without a trailing separator. E_INVALIDARG for an empty, relative or
// non-canonical path, the HRESULT of ERROR_FILENAME_EXCED_RANGE for a long one and
// E_ACCESSDENIED for one outside both.
HRESULT CheckCallerFolder(std::string_view dir, const std::filesystem::path& home,
                          const std::filesystem::path& dataRoot, std::string& out);

// A store list "a;;B;" as the mail add-in sends it: store numbers in hexadecimal separated by
// ";", empty items skipped. Each becomes the "%x" form the other parts name stores by (lower
// case, no leading zeros). E_INVALIDARG for an item that is not 1 to 8 hexadecimal digits or
// is zero, and for a list without any store.
HRESULT ParseStoreList(std::string_view stores, std::vector<std::string>& out);

// The file name's extension (from its last dot) is .q6w, .q6e or .q6j, in any case.
bool IsShortcutFileName(std::string_view path);

}  // namespace qv::service
