#pragma once
// The browser's URL history: for every page the browser showed, its title, whether it was a
// top-level page, when it was last visited and how often. Kept in an SQLite database under
// QV_ROOT/History, shared by the browser feed (the writer) and the tracer (a reader).
// Errors are Win32 codes (win32::ERROR_*), 0 on success.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/oledate.h"

struct sqlite3;

namespace qv::platform {

struct HistoryEntry {
  std::string url;
  std::string title;
  bool topLevel = false;
  FileTime lastVisit = 0;
  std::uint32_t visits = 0;
};

inline constexpr std::size_t kMaxHistoryUrl = 8192;
inline constexpr std::size_t kMaxHistoryTitle = 4096;

class UrlHistory {
 public:
  // Opens (creating when missing) root/History/UrlHistory.sqlite.
  static std::int32_t Open(const std::filesystem::path& root, std::unique_ptr<UrlHistory>& out);
  ~UrlHistory();
  UrlHistory(const UrlHistory&) = delete;
  UrlHistory& operator=(const UrlHistory&) = delete;

  // Records a visit of `url` (its fragment dropped): the title replaces the stored one when
  // not empty; a page once seen at the top level stays a top-level page.
  std::int32_t AddVisit(std::string_view url, std::string_view title, bool topLevel,
                        FileTime when);
  // ERROR_FILE_NOT_FOUND when the history does not hold the URL.
  std::int32_t Query(std::string_view url, HistoryEntry& out) const;

 private:
  explicit UrlHistory(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

}  // namespace qv::platform
