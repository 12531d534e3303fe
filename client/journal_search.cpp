#include "client/journal_search.h"

#include "client/search_run.h"

namespace qv::client {

HRESULT RunJournalSearch(const JournalSearchRequest& request, const ComposeEnvironment& env,
                         platform::indexing::QueryExecutor& exec, SearchHistory* history,
                         JournalSearchResult& result) {
  result = JournalSearchResult{};
  const auto fail = [&result](HRESULT hr) {
    result.messages.push_back(kMsgJournalSearchFailed);
    return hr;
  };
  std::string text = request.queryText;
  if (request.searchKeyMode) {
    SearchParams unused;
    if (const HRESULT hr =
            BuildSearchKeyCondition(SearchKeyMode::JournalText, request.queryText, text, unused);
        Failed(hr)) {
      return fail(hr);
    }
  } else if (history) {
    [[maybe_unused]] const HRESULT remembered = history->Remember(text, false);
  }

  std::string contains, freeText;
  Messages containsMessages, freeTextMessages;
  HRESULT hr = ComposeJournalQuery(text, false, request.ascending, env, contains,
                                   containsMessages);
  if (Succeeded(hr) && hr != S_FALSE) {
    hr = ComposeJournalQuery(text, true, request.ascending, env, freeText, freeTextMessages);
  }
  if (Failed(hr)) {
    result.messages = containsMessages;
    return fail(hr);
  }
  if (contains.empty()) {
    result.information.push_back(request.searchKeyMode ? kMsgJournalNoRelated
                                                       : kMsgJournalNoResults);
    return S_FALSE;
  }
  QueryRunner runner(exec);
  hr = runner.Run(contains, freeText, 0, result.rows, result.ranFreeText, result.detail);
  result.sql = result.ranFreeText ? freeText : contains;
  result.messages = result.ranFreeText ? freeTextMessages : containsMessages;
  if (Failed(hr)) return fail(hr);
  if (result.rows.empty()) {
    result.information.push_back(request.searchKeyMode ? kMsgJournalNoRelated
                                                       : kMsgJournalNoResults);
  }
  return hr;
}

}  // namespace qv::client
