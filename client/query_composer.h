#pragma once
// Turns a query and the search options into the exact query text of the catalog engine:
// the catalog query over the file, web history and mail catalogs, and the journal query.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/messages.h"
#include "client/query_date.h"
#include "client/query_tokens.h"
#include "client/search_params.h"
#include "common/hresult.h"

namespace qv::client {

// Fixed parts of the query text.
namespace fragment {
inline constexpr std::string_view kFilesWhole = "System..Scope() ";
inline constexpr std::string_view kFilesShallow = "System..SCOPE(' SHALLOW TRAVERSAL OF \"";
inline constexpr std::string_view kFilesDeep = "System..SCOPE(' DEEP TRAVERSAL OF \"";
inline constexpr std::string_view kWebOpen = "QuillonWebHistory..SCOPE(' DEEP TRAVERSAL OF \"";
inline constexpr std::string_view kJournalOpen = "QuillonJournal..SCOPE(' DEEP TRAVERSAL OF \"";
inline constexpr std::string_view kScopeClose = "\" ') ";
inline constexpr std::string_view kJournalWhere = "\" ') WHERE ";
inline constexpr std::string_view kUnionOpen = "(TABLE ";
inline constexpr std::string_view kUnion = "UNION ALL TABLE ";
inline constexpr std::string_view kMailTail = "..SCOPE() ";
inline constexpr std::string_view kUnionClose = ") ";
inline constexpr std::string_view kFreetextOpen = " FREETEXT('\"";
inline constexpr std::string_view kFreetextNot = " AND NOT FREETEXT('\"";
inline constexpr std::string_view kFreetextClose = "\"') ";
inline constexpr std::string_view kContainsAll = " CONTAINS (ALL,'";
inline constexpr std::string_view kContainsContents = " CONTAINS (CONTENTS,'";
inline constexpr std::string_view kContainsClose = "') ";
}  // namespace fragment

// The property declarations and the select list of the catalog query; the FROM list follows.
extern const std::string_view kCatalogPreamble;
// The same for the journal catalog, up to the journal folder.
extern const std::string_view kJournalPreamble;

// Where the catalogs' own folders are and what the user's environment offers. Paths are
// absolute and have no trailing separator.
struct ComposeEnvironment {
  std::uint32_t userScope = 0;
  std::string localAppData;
  // The system folders kept out of file results; an empty one is skipped.
  std::string windowsFolder, programFilesFolder, cookiesFolder, recentFolder;
  // Hashes of the user's mail stores; 0 is skipped.
  std::vector<std::uint32_t> mailStores;
  // Whether a mail catalog can be searched (false when missing or stopped); a failure is the
  // administration object's and is returned. Unset: the administration object is unavailable.
  std::function<HRESULT(std::string_view catalog, bool& usable)> mailCatalogUsable;
  // Whether the files or web history catalog is registered. One that is not is left out of
  // the search with a message (kMsgFilesCatalogMissing, kMsgWebCatalogMissing), as a missing
  // mail catalog is, instead of failing it. Unset or failing: assumed registered.
  std::function<HRESULT(std::string_view catalog, bool& registered)> catalogRegistered;
  // The user's security identifier as text; a failure means E_ACCESSDENIED.
  std::function<HRESULT(std::string&)> userSid;
  const DateLocale* dates = nullptr;
  DATE now = 0.0;  // the moment that gives typed dates without a year their year
};

// The full-text and date part of a condition. S_FALSE and no condition for an empty token
// list with the contents column; E_INVALIDARG when the contents column is asked for and no
// term exists. Unreadable dates add kMsgBadStartDate or kMsgBadEndDate and are skipped.
HRESULT BuildContentCondition(bool contentsColumn, const QueryTokens& tokens, bool freeText,
                              const ComposeEnvironment& env, std::string& condition,
                              Messages& messages);

// Mode 0: the catalog condition of a search-key list (also chooses the catalogs in `params`).
// Mode 1: query text for the journal search that ORs the items' names and keys.
enum class SearchKeyMode { CatalogCondition = 0, JournalText = 1 };
HRESULT BuildSearchKeyCondition(SearchKeyMode mode, std::string_view list, std::string& out,
                                SearchParams& params);

// The catalog query text. In search-key mode `queryText` is a search-key list and there is
// no free-text variant (S_OK with empty `sql`).
HRESULT ComposeCatalogQuery(std::string_view queryText, bool searchKeyMode,
                            const SearchParams* params, bool freeText,
                            const ComposeEnvironment& env, std::string& sql, Messages& messages);

// The journal query text; `ascending` false lists the newest entries first.
HRESULT ComposeJournalQuery(std::string_view queryText, bool freeText, bool ascending,
                            const ComposeEnvironment& env, std::string& sql, Messages& messages);

// A text for a quoted literal of the query text: every apostrophe doubled.
std::string QuoteLiteral(std::string_view text);

}  // namespace qv::client
