#pragma once
// One search from query text to ranked rows: the catalog query text in its CONTAINS and
// FREETEXT forms, the run against the catalog engine (with the FREETEXT retry when only
// ignored words were found, and the row cap of the empty query), then scoring in activation
// order.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "client/messages.h"
#include "client/query_composer.h"
#include "client/result_rows.h"
#include "client/search_params.h"
#include "context/context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/query_executor.h"

namespace qv::client {

// The empty query lists the user's visited items: at most this many.
inline constexpr std::size_t kEmptyQueryRowLimit = 500;

// Activation order is every sort code but date, working time and visits.
inline bool IsActivationOrder(std::uint32_t sortOrder) {
  return sortOrder != kSortDate && sortOrder != kSortWorkingTime && sortOrder != kSortVisits;
}

// The user's security identifier as text: the identifier that stands for a Unix user,
// S-1-22-1-<uid>.
std::string UserSidText();

// The environment of an installation: the user's scope (written to Identity on first use),
// the local application data folder, the system folders, the user's SID and the mail
// catalogs as the administration object sees them.
HRESULT MakeComposeEnvironment(const Context& ctx, const DateLocale& dates,
                               const platform::indexing::CatalogAdmin* admin,
                               ComposeEnvironment& out);

class QueryRunner {
 public:
  // `unreadColumns`: the answer columns the caller never reads (see QueryOptions).
  explicit QueryRunner(platform::indexing::QueryExecutor& exec, std::uint64_t unreadColumns = 0)
      : exec_(exec), unreadColumns_(unreadColumns) {}
  // Runs `contains`; when the engine answers that it found only ignored words and a
  // `freeText` form exists, runs that once instead.
  HRESULT Run(std::string_view contains, std::string_view freeText, std::size_t rowLimit,
              ResultSet& out, bool& ranFreeText, std::string& error);

 private:
  platform::indexing::QueryExecutor& exec_;
  std::uint64_t unreadColumns_;
};

struct SearchRequest {
  std::string queryText;
  bool searchKeyMode = false;
  SearchParams params;
  // Fields (bit n: field n of a result row) the caller will never read: they may come back
  // NULL. Scoring's own fields are read whatever this says.
  std::uint64_t unreadFields = 0;
};

// The fields of a result row that scoring reads.
inline constexpr std::uint64_t kScoringFields =
    std::uint64_t{1} << kFieldRank | std::uint64_t{1} << kFieldScope | std::uint64_t{1} << kFieldLvE | std::uint64_t{1} << kFieldLvT | std::uint64_t{1} << kFieldLvN |
    std::uint64_t{1} << kFieldBvE | std::uint64_t{1} << kFieldBvT | std::uint64_t{1} << kFieldBvN;

struct SearchResult {
  ResultSet rows;
  ActivationOrder scores;  // activation order only
  bool scored = false;
  bool ranFreeText = false;
  Messages messages;     // errors, and the warnings of the text that ran
  Messages information;  // "no results"
  std::string detail;    // the engine's explanation of a failure
  std::string sql;       // the text that ran

  std::size_t RowCount() const { return rows.RowCount(); }
  const Row& DisplayRow(std::size_t i) const { return rows.RowAt(scores.RecordIndex(rows, i)); }
  float DisplayScore(std::size_t i) const { return scores.Score(rows, i); }
  bool HasScore(std::size_t i) const { return i < scores.size(); }
};

struct ScoringContext {
  IBaseActivation* activation = nullptr;  // null: rows stay in the catalog's order
  std::uint32_t partialMatch = kDefaultPartialMatch * 10;
  std::function<bool(std::size_t)> cancelled;
};

HRESULT RunSearch(const SearchRequest& request, const ComposeEnvironment& env,
                  platform::indexing::QueryExecutor& exec, const ScoringContext& scoring,
                  SearchResult& result);

}  // namespace qv::client
