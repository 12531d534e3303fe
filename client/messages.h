#pragma once
// The numbered texts of the language module that the search client shows, and the messages
// a search collects on its way (warnings and errors are kept by number and turned into text
// only when shown).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/hresult.h"

namespace qv {
class LanguageModule;
}

namespace qv::client {

// The command text held nothing to search for, or its first term was excluded. The client's
// own code for a query it refuses before anything runs.
inline constexpr HRESULT DB_E_ERRORSINCOMMAND = MakeHr(0x80040203);

enum MessageId : std::uint32_t {
  kMsgNoCatalog = 39,
  kMsgNoCatalogTable = 40,
  kMsgScoring = 42,
  kMsgJournalNoRelated = 50,
  kMsgJournalNoResults = 51,
  kMsgNoResults = 52,
  kMsgNoResultsForKeys = 54,
  kMsgJournalUnreadable = 152,
  kMsgColumnName = 153,
  kMsgColumnBar = 169,
  kMsgOpenFailed = 171,
  kMsgColumnDate = 170,
  kMsgStartAfterEnd = 175,
  kMsgNoSuchFolder = 177,
  kMsgPhraseExpected = 178,
  kMsgBadStartDate = 179,
  kMsgBadEndDate = 180,
  kMsgFirstTermExcluded = 183,
  kMsgJournalSearchFailed = 184,
  kMsgColumnWorkingTime = 186,
  kMsgColumnVisits = 187,
  kMsgColumnLocation = 213,
  // The client's own: a query of wildcards and punctuation only.
  kMsgNothingToSearch = 240,
  // The client's own: a catalog of the search is not registered and was left out.
  kMsgFilesCatalogMissing = 241,
  kMsgWebCatalogMissing = 242,
};

// Texts a run collects, oldest first.
using Messages = std::vector<std::uint32_t>;

// The text of a message: from the language module when it has one, else the client's own
// English wording, else "Error: #<id>".
std::string MessageText(const LanguageModule* module, std::uint32_t id);
// The text of a message from the language module or the client's own wording; nullopt when
// neither has it.
std::optional<std::string> FindMessageText(const LanguageModule* module, std::uint32_t id);
// Every message's text, joined by line feeds.
std::string JoinMessages(const LanguageModule* module, const Messages& ids);

}  // namespace qv::client
