#pragma once
// The journal view's search over the whole journal: query text (or a search-key list, turned
// into journal query text) composed for the journal catalog, run with the FREETEXT retry, the
// newest entries first unless the view sorts ascending. A text search is remembered in the
// search history.
#include <string>

#include "client/messages.h"
#include "client/query_composer.h"
#include "client/result_rows.h"
#include "client/search_history.h"
#include "platform/indexing/query_executor.h"

namespace qv::client {

// Columns of the journal query's rows.
enum JournalField : std::size_t {
  kJournalFieldWrite = 0,
  kJournalFieldFilename = 1,
  kJournalFieldPst = 2,
  kJournalFieldDescription = 3,
};

struct JournalSearchRequest {
  std::string queryText;  // or a search-key list in search-key mode
  bool searchKeyMode = false;
  bool ascending = false;
};

struct JournalSearchResult {
  ResultSet rows;
  bool ranFreeText = false;
  Messages messages;     // a failure: kMsgJournalSearchFailed after the composer's own
  Messages information;  // no results: kMsgJournalNoRelated or kMsgJournalNoResults
  std::string detail;    // the engine's explanation of a failure
  std::string sql;       // the text that ran
};

// `history` may be null (nothing is remembered). A registry failure while remembering does
// not stop the search.
HRESULT RunJournalSearch(const JournalSearchRequest& request, const ComposeEnvironment& env,
                         platform::indexing::QueryExecutor& exec, SearchHistory* history,
                         JournalSearchResult& result);

}  // namespace qv::client
