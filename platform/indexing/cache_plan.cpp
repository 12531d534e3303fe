#include "platform/indexing/cache_plan.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "common/utf.h"
#include "platform/indexing/scope_set.h"

namespace qv::platform::indexing {
namespace {

// Orders a stored value (not NULL) against a parameter as SQLite does for operands without
// affinity: numbers below text, numbers by value, text by bytes or without ASCII case.
int CompareCell(const CacheCell& a, const Param& p, bool nocase) {
  if (a.type == SQLITE_BLOB) return 1;  // a blob is above every number and text
  const bool aNum = a.type == SQLITE_INTEGER || a.type == SQLITE_FLOAT;
  const auto* text = std::get_if<std::string>(&p);
  if (aNum != !text) return aNum ? -1 : 1;
  if (text) {
    if (nocase) return CompareNoCase(a.text, *text);
    const int c = a.text.compare(*text);
    return c < 0 ? -1 : c > 0;
  }
  // An integer against a double without losing the integer's low bits.
  auto intReal = [](std::int64_t i, double r) {
    if (r < -9223372036854775808.0) return 1;
    if (r >= 9223372036854775808.0) return -1;
    const auto y = static_cast<std::int64_t>(r);
    if (i != y) return i < y ? -1 : 1;
    const double x = static_cast<double>(i);
    return x < r ? -1 : x > r;
  };
  const auto* pi = std::get_if<std::int64_t>(&p);
  const double pd = pi ? 0.0 : std::get<double>(p);
  if (a.type == SQLITE_INTEGER) return pi ? (a.i < *pi ? -1 : a.i > *pi) : intReal(a.i, pd);
  if (pi) return -intReal(*pi, a.d);
  return a.d < pd ? -1 : a.d > pd;
}

bool Holds(int c, const std::string& op) {
  if (op == "=") return c == 0;
  if (op == "!=") return c != 0;
  if (op == "<") return c < 0;
  if (op == "<=") return c <= 0;
  if (op == ">") return c > 0;
  return c >= 0;
}

constexpr std::size_t kMaxMemoPatterns = 32;

}  // namespace

bool Evaluate(const PlanNode& n, const PropertyCache& cache, const CachePlan& plan,
              std::size_t row) {
  switch (n.kind) {
    case PlanNode::Kind::True: return true;
    case PlanNode::Kind::And:
      return Evaluate(*n.left, cache, plan, row) && Evaluate(*n.right, cache, plan, row);
    case PlanNode::Kind::Or:
      return Evaluate(*n.left, cache, plan, row) || Evaluate(*n.right, cache, plan, row);
    case PlanNode::Kind::Not: return !Evaluate(*n.left, cache, plan, row);
    case PlanNode::Kind::InSet: return plan.sets[n.set][row];
    case PlanNode::Kind::IsNull: {
      const bool null = n.column < 0 || cache.Cell(n.column, row).type == SQLITE_NULL;
      return null != n.negated;
    }
    case PlanNode::Kind::Like: {
      if (n.column < 0) return false;
      // Known from an earlier query: 0 no match, 1 match, 2 no value.
      std::int8_t* known = n.memo ? &(*n.memo)[row] : nullptr;
      if (!known || *known < 0) {
        const CacheCell cell = cache.Cell(n.column, row);
        std::int8_t result = 2;
        if (cell.type != SQLITE_NULL) {
          result = cache.textHasNul() ? n.like->Matches(cell.text)
                                      : n.like->MatchesWhole(cell.text);
        }
        if (!known) return result != 2 && (result != 0) != n.negated;
        *known = result;
      }
      return *known != 2 && (*known != 0) != n.negated;
    }
    case PlanNode::Kind::Compare: {
      if (n.column < 0) return false;
      const CacheCell cell = cache.Cell(n.column, row);
      if (cell.type == SQLITE_NULL) return false;
      return Holds(CompareCell(cell, n.param, n.nocase), n.op);
    }
  }
  return false;
}

namespace {

// The condition written out whole, to know it again; false when it reads a full-text match
// set, which only its own query has.
bool Signature(const PlanNode& n, std::string& out) {
  out += std::to_string(static_cast<int>(n.kind));
  out += '(';
  out += std::to_string(n.column) + ',' + n.op + ',' + (n.nocase ? '1' : '0') +
         (n.negated ? '1' : '0') + ',';
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          out += 's' + std::to_string(v.size()) + ':' + v;
        } else if constexpr (std::is_same_v<T, double>) {
          char exact[64];
          std::snprintf(exact, sizeof exact, "d%a", v);
          out += exact;
        } else {
          out += 'i' + std::to_string(v);
        }
      },
      n.param);
  if (n.kind == PlanNode::Kind::InSet) return false;
  if (n.left && !Signature(*n.left, out)) return false;
  out += ',';
  if (n.right && !Signature(*n.right, out)) return false;
  out += ')';
  return true;
}

void LikeNodes(PlanNode* n, std::vector<PlanNode*>& out) {
  if (!n) return;
  LikeNodes(n->left.get(), out);
  LikeNodes(n->right.get(), out);
  if (n->kind == PlanNode::Kind::Like && n->column >= 0) out.push_back(n);
}

std::string LikeKey(const PlanNode& n) {
  return std::to_string(n.column) + ":" + std::get<std::string>(n.param);
}

// Whether the node itself reads a column's values (its children aside).
bool ReadsAColumn(const PlanNode& n) {
  return n.kind == PlanNode::Kind::Like || n.kind == PlanNode::Kind::Compare ||
         n.kind == PlanNode::Kind::IsNull;
}

bool ReadsAnyColumn(const PlanNode& n) {
  return ReadsAColumn(n) || (n.left && ReadsAnyColumn(*n.left)) ||
         (n.right && ReadsAnyColumn(*n.right));
}

// The condition alone, pointing at no process's results.
std::unique_ptr<PlanNode> Copy(const PlanNode& n) {
  auto c = std::make_unique<PlanNode>();
  c->kind = n.kind;
  if (n.left) c->left = Copy(*n.left);
  if (n.right) c->right = Copy(*n.right);
  c->column = n.column;
  c->op = n.op;
  c->param = n.param;
  c->nocase = n.nocase;
  c->negated = n.negated;
  c->set = n.set;
  c->like = n.like;
  return c;
}

}  // namespace

bool ReadsColumnsBelow(const PlanNode& n, int columns) {
  if (n.kind == PlanNode::Kind::InSet) return false;
  if (ReadsAColumn(n) && (n.column < 0 || n.column >= columns)) return false;
  return (!n.left || ReadsColumnsBelow(*n.left, columns)) &&
         (!n.right || ReadsColumnsBelow(*n.right, columns));
}

void CompleteMemo(const PropertyCache& cache, LikeMemo& memo) {
  // A text with a NUL leaves LIKE to SQL; and results of another cache are not this one's.
  if (memo.snapshot != &cache || cache.textHasNul()) return;
  const std::size_t rows = cache.size();
  for (auto& [key, known] : memo.results) {
    const int column = LikeKeyColumn(key, cache.columns());
    if (column < 0 || known.size() != rows) continue;
    const LikePattern like(std::string_view(key).substr(key.find(':') + 1));
    for (std::size_t row = 0; row < rows; ++row) {
      if (known[row] >= 0) continue;
      const CacheCell cell = cache.Cell(column, row);
      known[row] = cell.type == SQLITE_NULL ? 2 : like.MatchesWhole(cell.text);
    }
  }
  const CachePlan none;  // a kept plan reads no match set
  for (auto& [key, plan] : memo.plans) {
    const auto it = memo.results.find(key);
    // A plan read from this cache's snapshot, not asked here yet, is complete already.
    PlanNode* where = plan.where.get();
    if (!where || !KeepsPlan(memo, key) || it == memo.results.end() || it->second.size() != rows) {
      continue;
    }
    // Its patterns read from their own results, all worked out above.
    std::vector<PlanNode*> likes;
    LikeNodes(where, likes);
    for (PlanNode* n : likes) {
      const auto single = memo.results.find(LikeKey(*n));
      n->memo = single != memo.results.end() && single->second.size() == rows ? &single->second
                                                                               : nullptr;
    }
    std::vector<std::int8_t>& known = it->second;
    for (std::size_t row = 0; row < rows; ++row) {
      if (known[row] < 0) known[row] = Evaluate(*where, cache, none, row) ? 1 : 0;
    }
    for (PlanNode* n : likes) n->memo = nullptr;
  }
}

void AttachMemo(CachePlan& plan, const PropertyCache& cache, LikeMemo& memo) {
  std::vector<PlanNode*> likes;
  LikeNodes(plan.where.get(), likes);
  std::string whole;
  // A condition that reads no column (the full-text match alone) is true for every row:
  // nothing to keep.
  const bool wholeKnown = plan.where && ReadsAnyColumn(*plan.where) && Signature(*plan.where, whole);
  const std::size_t need = likes.size() + (wholeKnown ? 1 : 0);
  // Room is made before any node points into the map: clearing it later would leave the
  // nodes attached first pointing at freed results. A plan with more patterns than the map
  // keeps matches none.
  if (need > kMaxMemoPatterns) return;
  if (memo.results.size() + need > kMaxMemoPatterns) memo.Clear();
  for (PlanNode* n : likes) {
    auto& known = memo.results[LikeKey(*n)];
    if (known.size() != cache.size()) known.assign(cache.size(), -1);
    n->memo = &known;
  }
  if (wholeKnown) {
    const std::string key = "plan " + whole;
    auto& known = memo.results[key];
    if (known.size() != cache.size()) known.assign(cache.size(), -1);
    plan.known = &known;
    auto& asked = memo.plans[key];
    if (!asked.where) asked.where = Copy(*plan.where);
    ++asked.uses;
  }
}

bool MeetsFirstTime(const CachePlan& plan, const PropertyCache& cache, std::size_t row) {
  if (!plan.where) return true;
  if (!plan.known) return Evaluate(*plan.where, cache, plan, row);
  std::int8_t& known = (*plan.known)[row];
  if (known < 0) known = Evaluate(*plan.where, cache, plan, row) ? 1 : 0;
  return known == 1;
}

std::vector<ScopeTest> ScopeTests(const TableRef& t) {
  std::vector<ScopeTest> tests;
  if (t.scopes.empty()) tests.push_back({ScopeTest::Kind::Everything, {}});
  for (const auto& s : t.scopes) {
    const std::string p = NormalizeScopePath(s.path);
    if (p.empty()) {
      tests.push_back({ScopeTest::Kind::Nothing, {}});
    } else if (s.traversal == Traversal::Shallow) {
      tests.push_back({ScopeTest::Kind::Folder, p});
    } else if (p == "/") {
      tests.push_back({ScopeTest::Kind::Everything, {}});
    } else {
      tests.push_back({ScopeTest::Kind::Under, p + "/"});
    }
  }
  return tests;
}

bool TakesEverything(std::span<const ScopeTest> tests) {
  return std::any_of(tests.begin(), tests.end(),
                     [](const ScopeTest& t) { return t.kind == ScopeTest::Kind::Everything; });
}

bool InScope(std::span<const ScopeTest> tests, const PropertyCache& cache, std::size_t row) {
  for (const auto& t : tests) {
    switch (t.kind) {
      case ScopeTest::Kind::Nothing: break;
      case ScopeTest::Kind::Everything: return true;
      case ScopeTest::Kind::Folder:
        if (cache.Cell(kCacheDir, row).text == t.path) return true;
        break;
      case ScopeTest::Kind::Under:
        if (cache.Cell(kCachePath, row).text.starts_with(t.path)) return true;
        break;
    }
  }
  return false;
}

}  // namespace qv::platform::indexing
