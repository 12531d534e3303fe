#pragma once
// The web history and journal pages of the status sheet: where each keeps its files and how
// much they take, the browser cache group that holds the web history's cached copies, and
// clearing the web history.
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/clock.h"
#include "common/hresult.h"

namespace qv::manager {

// The cache group of the browser's cache that holds the web history's copies.
inline constexpr std::string_view kWebHistoryGroup = "QuillonL2";

std::filesystem::path WebHistoryFolder(const std::filesystem::path& root);
std::filesystem::path JournalFolder(const std::filesystem::path& root);

// Bytes of the regular files below `folder`. Links are not followed (a link to a large tree
// would otherwise count what is not ours); folders that cannot be read count as empty.
std::uint64_t FolderSize(const std::filesystem::path& folder);

// "1,234 KB", as the desktop's file managers show sizes in kilobytes (rounded up, so a
// non-empty file never shows as 0 KB).
std::string FormatKilobytes(std::uint64_t bytes);

class WebHistoryStore {
 public:
  WebHistoryStore(std::filesystem::path root, const Clock& clock);

  // Bytes of the cached copies in the web history's cache group. With `create`, a missing
  // group is created (the sheet's page does so); without, a missing group counts 0. Fails
  // with the cache's error as an HRESULT.
  HRESULT GroupUsage(bool create, std::uint64_t& bytes) const;
  // Deletes the cache group with its cached copies, then everything inside the web history
  // folder (links removed as links, never followed). Goes on after errors and returns the
  // first one.
  HRESULT Clear() const;

 private:
  std::filesystem::path root_;
  const Clock& clock_;
};

}  // namespace qv::manager
