#include "provider/journal/journal_paths.h"

#include <charconv>
#include <chrono>

#include "platform/folders/folders.h"

namespace qv::journal {
namespace {

bool ParseNumber(std::string_view text, int& out) {
  if (text.empty() || text.size() > 4) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

std::filesystem::path JournalRoot(const std::filesystem::path& installRoot) {
  return platform::KnownFolderPath(installRoot, platform::KnownFolder::LocalAppData) /
         "Quillon" / "Journal";
}

std::string DayKey(const CivilDay& day) {
  return std::to_string(day.year) + '\\' + std::to_string(day.month) + '\\' +
         std::to_string(day.day);
}

std::filesystem::path DayFolder(const std::filesystem::path& journalRoot, const CivilDay& day) {
  return journalRoot / std::to_string(day.year) / std::to_string(day.month) /
         std::to_string(day.day);
}

bool ParseDay(std::string_view text, CivilDay& out) {
  int parts[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t sep = i < 2 ? text.find_first_of("\\/-") : text.size();
    if (sep == std::string_view::npos || !ParseNumber(text.substr(0, sep), parts[i])) return false;
    text.remove_prefix(i < 2 ? sep + 1 : sep);
  }
  const std::chrono::year_month_day ymd{std::chrono::year{parts[0]},
                                        std::chrono::month{static_cast<unsigned>(parts[1])},
                                        std::chrono::day{static_cast<unsigned>(parts[2])}};
  if (parts[0] < 1 || parts[1] < 1 || parts[2] < 1 || !ymd.ok()) return false;
  out = CivilDay{parts[0], parts[1], parts[2]};
  return true;
}

std::string MarkerName(const Guid& entry) {
  return FormatGuid(entry) + std::string(kMarkerExtension);
}

HRESULT ParseMarkerPath(std::string_view path, Guid& entry, std::filesystem::path& dayFile) {
  if (path.find('\0') != std::string_view::npos) return E_INVALIDARG;
  if (path.size() > kMaxPathBytes) return HresultFromWin32(win32::ERROR_FILENAME_EXCED_RANGE);
  const std::filesystem::path file(path);
  if (!file.has_filename() || !file.has_extension()) return S_FALSE;
  const auto id = ParseGuid(file.stem().native());
  if (!id) return S_FALSE;
  entry = *id;
  dayFile = file.parent_path() / kDayFileName;
  return S_OK;
}

}  // namespace qv::journal
