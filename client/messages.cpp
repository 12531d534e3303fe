#include "client/messages.h"

#include <map>

#include "context/language_module.h"

namespace qv::client {
namespace {

// Used when no language module can be loaded, so the terminal mode still explains itself.
const std::map<std::uint32_t, const char*>& EnglishTexts() {
  static const std::map<std::uint32_t, const char*> texts = {
      {kMsgNoCatalog, "Choose at least one place to search: files, web history or e-mail."},
      {kMsgNoCatalogTable, "None of the chosen catalogs can be searched right now."},
      {kMsgScoring, "Ranking the results..."},
      {kMsgJournalNoRelated, "The journal holds no visits to the chosen items."},
      {kMsgJournalNoResults, "No journal entries match the search."},
      {kMsgNoResults, "No items match the search."},
      {kMsgJournalUnreadable, "The journal of this day cannot be read."},
      {kMsgNoResultsForKeys, "None of the chosen items could be found."},
      {kMsgColumnName, "Name"},
      {kMsgColumnBar, "Activation"},
      {kMsgColumnDate, "Date"},
      {kMsgOpenFailed, "The item cannot be opened."},
      {kMsgJournalSearchFailed, "The journal search failed."},
      {kMsgStartAfterEnd, "The start date lies after the end date."},
      {kMsgNoSuchFolder, "The folder does not exist."},
      {kMsgPhraseExpected, "Type the exact phrase as one text."},
      {kMsgBadStartDate, "The start date cannot be read and was ignored."},
      {kMsgBadEndDate, "The end date cannot be read and was ignored."},
      {kMsgFirstTermExcluded, "The first search term may not be excluded."},
      {kMsgColumnWorkingTime, "Working time"},
      {kMsgColumnVisits, "Visits"},
      {kMsgColumnLocation, "Location"},
      {kMsgNothingToSearch,
       "The query has no word to search for: wildcards and punctuation alone match nothing. "
       "Type at least one letter or digit."},
      {kMsgFilesCatalogMissing,
       "The files catalog System does not exist, so files were not searched. Set it up with "
       "'qvindex verify'."},
      {kMsgWebCatalogMissing,
       "The web history catalog QuillonWebHistory does not exist, so web history was not "
       "searched. Set it up with 'qvindex verify'."},
  };
  return texts;
}

}  // namespace

std::optional<std::string> FindMessageText(const LanguageModule* module, std::uint32_t id) {
  if (module) {
    if (auto t = module->Text(id)) return std::string(*t);
  }
  const auto& texts = EnglishTexts();
  if (auto it = texts.find(id); it != texts.end()) return std::string(it->second);
  return std::nullopt;
}

std::string MessageText(const LanguageModule* module, std::uint32_t id) {
  if (auto t = FindMessageText(module, id)) return *t;
  return "Error: #" + std::to_string(id);
}

std::string JoinMessages(const LanguageModule* module, const Messages& ids) {
  std::string out;
  for (auto id : ids) {
    if (!out.empty()) out += '\n';
    out += MessageText(module, id);
  }
  return out;
}

}  // namespace qv::client
