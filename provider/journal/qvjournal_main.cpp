// qvjournal: looks into the journal of the installation under QV_ROOT.
//   qvjournal list [DAY]   a day's entries that still have their marker
//   qvjournal show ENTRY   one entry's searchable text and values
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"
#include "common/guid.h"
#include "common/hresult.h"
#include "platform/folders/folders.h"
#include "platform/fs/private_files.h"
#include "platform/propset/property_set.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal.h"
#include "provider/journal/journal_paths.h"

namespace qv::journal {
namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNotFound = 2;
constexpr int kExitReadFailed = 3;

constexpr std::string_view kHelp =
    "Usage: qvjournal list [DAY]\n"
    "       qvjournal show ENTRY\n"
    "\n"
    "Looks into the journal of the installation under QV_ROOT (default\n"
    "$XDG_DATA_HOME/quillon-vesper or ~/.local/share/quillon-vesper).\n"
    "\n"
    "  list [DAY]    Lists the entries of one local day whose marker file still exists:\n"
    "                entry GUID, local start time, kind, working seconds, description.\n"
    "                DAY is 2005-07-26, 2005/7/26 or 2005\\7\\26; the default is today.\n"
    "  show ENTRY    Prints the searchable text and values of one entry. ENTRY is the\n"
    "                entry's GUID ({...}) or the path of its .q6j marker file.\n"
    "\n"
    "Exit codes: 0 done, 1 wrong arguments, 2 no such entry, 3 the journal could not be\n"
    "read (the message says why).\n";

int Usage(std::string_view problem) {
  std::cerr << "qvjournal: " << problem << "\nRun 'qvjournal --help' for the usage.\n";
  return kExitUsage;
}

int ReadFailed(const std::filesystem::path& what, HRESULT hr) {
  std::cerr << "qvjournal: cannot read " << what.string() << ": " << SystemMessage(hr) << " ("
            << FormatHresult(hr) << "). Check that QV_ROOT names the right installation.\n";
  return kExitReadFailed;
}

std::string KindName(const platform::PropertySet& set) {
  const auto it = set.values.find(kPidType);
  if (it == set.values.end() || it->second.vt != platform::VT_UI4) return "?";
  switch (it->second.ui4) {
    case kTypeDocument: return "document";
    case kTypeWebPage: return "web page";
    default: return IsMailType(it->second.ui4) ? "mail" : "type " + std::to_string(it->second.ui4);
  }
}

std::string LocalTimeText(const platform::PropertySet& set) {
  const auto it = set.values.find(kPidStart);
  if (it == set.values.end() || it->second.vt != platform::VT_DATE) return "--:--:--";
  const auto t = LocalSystemTimeOf(it->second.date);
  if (!t) return "--:--:--";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", t->hour, t->minute, t->second);
  return buf;
}

// Text on one line: the search text's line breaks become blanks.
std::string OneLine(std::string s) {
  for (char& c : s) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return s;
}

int List(const std::filesystem::path& journalRoot, const CivilDay& day) {
  const std::filesystem::path folder = DayFolder(journalRoot, day);
  const std::filesystem::path dayFile = folder / kDayFileName;
  std::vector<std::uint8_t> image;
  const HRESULT read = ReadDayFileImage(dayFile, image);
  if (read == STG_E_FILENOTFOUND || read == STG_E_PATHNOTFOUND) {
    std::cerr << "qvjournal: no journal entries for " << DayKey(day) << ".\n";
    return kExitOk;
  }
  if (Failed(read)) return ReadFailed(dayFile, read);
  if (const HRESULT hr = CheckDayFileHeader(image); Failed(hr)) return ReadFailed(dayFile, hr);

  DayFileReader reader(image, dayfile::kFileHeaderSize);
  DayFileRecord record;
  std::size_t unreadable = 0;
  while (reader.Next(record)) {
    platform::PropertySet set;
    if (Failed(platform::ParsePropertySet(record.payload, set))) {
      ++unreadable;
      continue;
    }
    std::error_code ec;
    if (!std::filesystem::exists(folder / MarkerName(set.fmtid), ec)) continue;  // deleted
    const SearchContents contents = SearchContentsOf(set);
    const auto working = set.values.find(kPidWorkingTime);
    std::cout << FormatGuid(set.fmtid) << '\t' << LocalTimeText(set) << '\t' << KindName(set)
              << '\t'
              << (working != set.values.end() ? std::to_string(working->second.ui4) : "?")
              << " s\t" << OneLine(contents.description) << '\n';
  }
  if (reader.tail() == DayFileTail::Torn) {
    std::cerr << "qvjournal: note: the day file ends in an unfinished entry (a writer stopped "
                 "in the middle); the next entry of the day removes it.\n";
  }
  if (reader.tail() == DayFileTail::Damaged || reader.skippedBytes() > 0 || unreadable > 0) {
    std::cerr << "qvjournal: warning: " << dayFile.string()
              << " is damaged; entries in the damaged parts are not shown.\n";
  }
  return kExitOk;
}

// The marker of an entry given by GUID: it lies in one of the day folders.
bool FindMarker(const std::filesystem::path& journalRoot, const Guid& entry,
                std::filesystem::path& out) {
  const std::string name = MarkerName(entry);
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(journalRoot, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename() == name) {
      out = it->path();
      return true;
    }
  }
  return false;
}

int Show(Journal& journal, std::string_view arg) {
  std::filesystem::path marker;
  if (const auto id = ParseGuid(arg)) {
    if (!FindMarker(journal.root(), *id, marker)) {
      std::cerr << "qvjournal: no entry " << FormatGuid(*id) << " under "
                << journal.root().string() << ". List a day with 'qvjournal list DAY'.\n";
      return kExitNotFound;
    }
  } else {
    marker = std::filesystem::path(arg);
  }
  std::string text, description;
  std::uint32_t pst = 0, attention = 0, duration = 0;
  const HRESULT hr = journal.GetSearchContents(marker.string(), &text, &pst, &attention,
                                               &duration, &description);
  if (hr == S_FALSE) {
    return Usage("'" + std::string(arg) +
                 "' is neither an entry GUID like {3108EFA7-0C78-4930-8542-237B2C341ED2} nor "
                 "the path of a .q6j marker file");
  }
  if (hr == STG_E_FILENOTFOUND || hr == STG_E_PATHNOTFOUND) {
    std::cerr << "qvjournal: the journal holds no entry for " << marker.string() << ".\n";
    return kExitNotFound;
  }
  if (Failed(hr)) return ReadFailed(marker, hr);
  std::cout << "marker:      " << marker.string() << '\n'
            << "description: " << OneLine(description) << '\n'
            << "mail store:  " << pst << '\n'
            << "attention:   " << attention << " (units of 0.2 s of working time)\n"
            << "duration:    " << duration << " s\n"
            << "text:\n";
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = text.find(" \r\n", from);
    std::cout << "  " << text.substr(from, end == std::string::npos ? end : end - from) << '\n';
    if (end == std::string::npos) break;
    from = end + 3;
  }
  return kExitOk;
}

int Main(const std::vector<std::string_view>& args) {
  if (args.empty()) return Usage("tell me what to do: list or show");
  for (std::string_view a : args) {
    if (a == "--help" || a == "-h" || a == "help") {
      std::cout << kHelp;
      return kExitOk;
    }
  }
  Installation installation(platform::DefaultRoot());
  Journal journal(installation.context(), nullptr);

  if (args[0] == "list") {
    if (args.size() > 2) return Usage("list takes at most one day");
    CivilDay day;
    if (args.size() == 2) {
      if (!ParseDay(args[1], day)) {
        return Usage("'" + std::string(args[1]) + "' is not a day; write it as 2005-07-26");
      }
    } else {
      const auto now = LocalSystemTimeOf(installation.context().clock.NowDate());
      if (!now) return Usage("the system clock gives no valid date; name the day");
      day = DayOf(*now);
    }
    return List(journal.root(), day);
  }
  if (args[0] == "show") {
    if (args.size() != 2) return Usage("show takes one entry GUID or marker path");
    return Show(journal, args[1]);
  }
  return Usage("unknown command '" + std::string(args[0]) + "'");
}

}  // namespace
}  // namespace qv::journal

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  std::vector<std::string_view> args(argv + 1, argv + argc);
  return qv::journal::Main(args);
}
