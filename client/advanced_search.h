#pragma once
// The advanced search dialog without its window: four text fields, two dates and a folder
// composed into query text on OK, and query text split back into the fields when the dialog
// opens.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "client/query_date.h"

namespace qv::client {

struct AdvancedSearchFields {
  std::string allWords, exactPhrase, anyWords, noneWords;
  bool useStart = false;
  CivilDateTime start;  // year, month and day are used
  bool useEnd = false;
  CivilDateTime end;
  std::string folder;
  bool includeSubfolders = false;
  friend bool operator==(const AdvancedSearchFields&, const AdvancedSearchFields&) = default;
};

enum class AdvancedField { AllWords, ExactPhrase, AnyWords, NoneWords, StartDate, EndDate, Folder };

// Why OK was refused: the message to show and the field that gets the focus.
struct AdvancedSearchProblem {
  std::uint32_t message = 0;
  AdvancedField focus = AdvancedField::AllWords;
  friend bool operator==(const AdvancedSearchProblem&, const AdvancedSearchProblem&) = default;
};

// The query text of the fields, or the problem that keeps the dialog open. `isDirectory`
// tells whether a folder exists; folders take part only when `foldersAllowed`.
std::optional<AdvancedSearchProblem> ComposeAdvancedSearch(
    const AdvancedSearchFields& fields, bool foldersAllowed, const DateLocale& dates,
    const std::function<bool(const std::string&)>& isDirectory, std::string& text);

// The fields that a query text fills. `now` gives dates typed without a year their year.
AdvancedSearchFields DecomposeAdvancedSearch(std::string_view text, bool foldersAllowed,
                                             const DateLocale& dates, DATE now);

}  // namespace qv::client
