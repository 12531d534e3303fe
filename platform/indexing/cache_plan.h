#pragma once
// A query's condition as a plan over a catalog's property cache, and its evaluation for one
// cached document. Every leaf is true or false, as the SQL form (each leaf inside
// COALESCE(..., 0)) makes it there; what the plan cannot answer exactly as SQLite would, the
// executor leaves to SQL.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/indexing/like_pattern.h"
#include "platform/indexing/property_cache.h"
#include "platform/indexing/query_parser.h"

namespace qv::platform::indexing {

// A value bound into a condition: an integer, a real or a text.
using Param = std::variant<std::int64_t, double, std::string>;

struct PlanNode {
  enum class Kind { True, And, Or, Not, Compare, Like, IsNull, InSet };
  Kind kind = Kind::True;
  std::unique_ptr<PlanNode> left, right;
  int column = -1;  // -1: a property the catalog does not cache, always missing
  std::string op;   // Compare
  Param param;      // Compare; Like: the pattern
  bool nocase = false;
  bool negated = false;  // Like, IsNull
  std::size_t set = 0;   // InSet: which full-text match set
  std::optional<LikePattern> like;
  // Like: what the pattern gave for each cache row so far (-1 not yet, 0 no match, 1 match,
  // 2 no value), shared by the
  // queries that use the same pattern on the same snapshot.
  std::vector<std::int8_t>* memo = nullptr;
};

struct CachePlan {
  std::vector<std::string> matchTexts;  // the FTS5 text of each match set
  std::vector<std::vector<bool>> sets;  // each match set by cache row, once run
  std::unique_ptr<PlanNode> where;      // null: every row
  // The whole condition's result per cache row (-1 not yet, 0 false, 1 true), shared by
  // the queries of one snapshot that ask the same; null when it depends on a match set.
  std::vector<std::int8_t>* known = nullptr;
};

// Whether the cached document in `row` meets the plan's condition, worked out and kept for
// the snapshot when it can be.
bool MeetsFirstTime(const CachePlan& plan, const PropertyCache& cache, std::size_t row);

// Whether the cached document in `row` meets the plan's condition, from what an earlier
// query of the snapshot found where it can. Inline: a common word's query asks it for a
// third of the catalog, and mostly finds the answer kept.
inline bool Meets(const CachePlan& plan, const PropertyCache& cache, std::size_t row) {
  if (!plan.where) return true;
  if (plan.known) {
    const std::int8_t known = (*plan.known)[row];
    if (known >= 0) return known == 1;
  }
  return MeetsFirstTime(plan, cache, row);
}

// Whether the cached document in `row` meets the condition.
bool Evaluate(const PlanNode& n, const PropertyCache& cache, const CachePlan& plan,
              std::size_t row);

// Points each LIKE of the plan, and the whole plan, at their results kept in `memo` for
// this snapshot.
void AttachMemo(CachePlan& plan, const PropertyCache& cache, LikeMemo& memo);

// Works out, for every row the memo's results of `cache` still lack, each single pattern
// and each whole plan the memo knows the condition of: a snapshot then keeps them whole.
void CompleteMemo(const PropertyCache& cache, LikeMemo& memo);

// Whether every column the condition reads is below `columns` (a whole plan's results are
// carried to the next cache only when its columns keep their places).
bool ReadsColumnsBelow(const PlanNode& n, int columns);

// Which documents a table's scopes take: the same test as the SQL form's.
struct ScopeTest {
  enum class Kind { Nothing, Everything, Folder, Under } kind;
  std::string path;
};

std::vector<ScopeTest> ScopeTests(const TableRef& t);
// Whether the tests take every document, so that no row need be tested.
bool TakesEverything(std::span<const ScopeTest> tests);
bool InScope(std::span<const ScopeTest> tests, const PropertyCache& cache, std::size_t row);

}  // namespace qv::platform::indexing
