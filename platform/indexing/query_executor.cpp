#include "platform/indexing/query_executor.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <variant>

#include "common/bit_count.h"
#include "common/oledate.h"
#include "common/utf.h"
#include "platform/indexing/cache_plan.h"
#include "platform/indexing/fts_rank.h"
#include "platform/indexing/like_pattern.h"
#include "platform/indexing/property_snapshot_format.h"
#include "platform/indexing/word_rows_table.h"

namespace qv::platform::indexing {
namespace {

// Prepared statements kept per catalog; the client repeats a few query shapes.
constexpr std::size_t kMaxCachedStatements = 64;

struct ColumnInfo {
  std::string expr;
  ValueKind kind = ValueKind::Null;
};

ValueKind KindOfDbType(std::string_view t, std::uint16_t vt) {
  if (t == "DBTYPE_UI4" || t == "DBTYPE_UI2" || t == "DBTYPE_UI1") return ValueKind::UI4;
  if (t == "DBTYPE_I4" || t == "DBTYPE_I2" || t == "DBTYPE_I1" || t == "DBTYPE_BOOL") {
    return ValueKind::I4;
  }
  if (t == "DBTYPE_I8" || t == "DBTYPE_UI8") return ValueKind::I8;
  if (t == "DBTYPE_DATE" || t == "DBTYPE_FILETIME") return ValueKind::Date;
  if (t == "DBTYPE_WSTR" || t == "DBTYPE_STR" || t == "DBTYPE_BSTR") return ValueKind::Str;
  if (t == "DBTYPE_GUID") return ValueKind::Guid;
  switch (vt) {
    case VT_UI4: return ValueKind::UI4;
    case VT_I4:
    case VT_I2: return ValueKind::I4;
    case VT_DATE: return ValueKind::Date;
    case VT_CLSID: return ValueKind::Guid;
    default: return ValueKind::Str;
  }
}

bool ParseNumber(std::string_view s, std::int64_t& i, double& d, bool& isReal) {
  isReal = false;
  bool neg = false;
  std::string_view t = s;
  if (!t.empty() && t.front() == '-') {
    neg = true;
    t.remove_prefix(1);
  }
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    std::uint64_t u = 0;
    auto [p, ec] = std::from_chars(t.data() + 2, t.data() + t.size(), u, 16);
    if (ec != std::errc() || p != t.data() + t.size()) return false;
    // In unsigned arithmetic: negating the lowest value must not overflow.
    i = static_cast<std::int64_t>(neg ? 0 - u : u);
    return true;
  }
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), i);
  if (ec == std::errc() && p == s.data() + s.size()) return true;
  auto [q, ec2] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (ec2 == std::errc() && q == s.data() + s.size() && std::isfinite(d)) {
    isReal = true;
    return true;
  }
  return false;
}

std::string FtsQuote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The operands of a chain of one operator (a tree of And, or of Or, nodes), left to right.
template <typename Node, typename Kind>
void ChainOperands(const Node& n, Kind kind, std::vector<const Node*>& out) {
  if (n.kind != kind) {
    out.push_back(&n);
    return;
  }
  ChainOperands(*n.left, kind, out);
  ChainOperands(*n.right, kind, out);
}

// Whether one FTS5 text says the node: FTS5 has no NOT of its own, only "a NOT b", so every
// NOT must stand in an AND chain that also has a term to keep.
bool Expressible(const ContentNode& n) {
  switch (n.kind) {
    case ContentNode::Kind::Term: return true;
    case ContentNode::Kind::Not: return false;
    case ContentNode::Kind::Or: return Expressible(*n.left) && Expressible(*n.right);
    case ContentNode::Kind::And: {
      std::vector<const ContentNode*> ops;
      ChainOperands(n, ContentNode::Kind::And, ops);
      bool kept = false;
      for (const ContentNode* op : ops) {
        const bool negative = op->kind == ContentNode::Kind::Not;
        kept = kept || !negative;
        if (!Expressible(negative ? *op->left : *op)) return false;
      }
      return kept;
    }
  }
  return false;
}

std::string FtsText(const ContentNode& n);

// FTS5 text of the operands of an AND chain that has at least one part to keep; the parts
// to exclude are Not nodes.
std::string FtsAndText(std::span<const ContentNode* const> ops) {
  std::string out;
  // A run of excluded parts becomes one "NOT (x OR y)" after the part kept before it;
  // excluded parts before the first kept one wait for it.
  std::vector<const ContentNode*> excluded;
  auto flushExcluded = [&] {
    if (excluded.empty() || out.empty()) return;
    out += " NOT ";
    if (excluded.size() == 1 && excluded[0]->kind == ContentNode::Kind::Term) {
      out += FtsText(*excluded[0]);
    } else {
      out += '(';
      for (std::size_t i = 0; i < excluded.size(); ++i) {
        if (i) out += " OR ";
        out += FtsText(*excluded[i]);
      }
      out += ')';
    }
    excluded.clear();
  };
  for (const ContentNode* op : ops) {
    if (op->kind == ContentNode::Kind::Not) {
      excluded.push_back(op->left.get());
      continue;
    }
    if (!out.empty()) {
      flushExcluded();
      out += " AND ";
    }
    const bool group = op->kind == ContentNode::Kind::Or;
    out += group ? "(" + FtsText(*op) + ")" : FtsText(*op);
    flushExcluded();  // the ones that waited for a kept part
  }
  flushExcluded();
  return out;
}

// FTS5 text of an expressible node, written flat: FTS5's parser has a small fixed stack, and
// a parenthesis per operator made a pasted query of a hundred words overflow it. A chain of
// one operator is written without parentheses; only an OR inside an AND and the excluded
// part of "a NOT (b OR c)" get them. NOT binds tighter than AND there, so "a AND b NOT c"
// reads as a AND (b NOT c), which keeps the same rows as (a AND b) NOT c.
std::string FtsText(const ContentNode& n) {
  switch (n.kind) {
    case ContentNode::Kind::Term: return FtsQuote(n.text) + (n.prefix ? "*" : "");
    case ContentNode::Kind::Or: {
      std::vector<const ContentNode*> ops;
      ChainOperands(n, ContentNode::Kind::Or, ops);
      std::string out;
      for (const ContentNode* op : ops) {
        if (!out.empty()) out += " OR ";
        out += FtsText(*op);  // an AND needs no parentheses inside an OR
      }
      return out;
    }
    case ContentNode::Kind::And: {
      std::vector<const ContentNode*> ops;
      ChainOperands(n, ContentNode::Kind::And, ops);
      return FtsAndText(ops);
    }
    case ContentNode::Kind::Not: break;
  }
  return "\"\"";
}

// SQLite refuses longer LIKE patterns; such a condition stays in SQL to fail as it does.
constexpr std::size_t kMaxLikePattern = 50000;

// What a search says when the word reader finds the full-text index's pages damaged.
constexpr const char* kWordsDamaged =
    "the catalog's full-text index is damaged: rebuild the catalog";

class Compiler {
 public:
  Compiler(const ParsedQuery& q, const CatalogDb* db) : q_(q), db_(db) {}

  bool Resolve(const std::string& name, ColumnInfo& out, std::string& error) const {
    const std::string n = AsciiLower(name);
    if (n == "rank") {
      // Not a bare "1000": SQLite reads an integer literal in ORDER BY as a column number.
      out = {ranked_ ? "MAX(1, CAST(1000.0 * (-r.b) / (1.0 - r.b) + 0.5 AS INTEGER))"
                     : "CAST(1000 AS INTEGER)",
             ValueKind::I4};
      return true;
    }
    if (n == "write") return out = {"d.write", ValueKind::Date}, true;
    if (n == "attrib") return out = {"d.attrib", ValueKind::UI4}, true;
    if (n == "path") return out = {"d.path", ValueKind::Str}, true;
    if (n == "filename") return out = {"d.filename", ValueKind::Str}, true;
    if (n == "doctitle") return out = {"d.title", ValueKind::Str}, true;
    if (n == "directory") return out = {"d.dir", ValueKind::Str}, true;
    if (n == "size") return out = {"d.size", ValueKind::I8}, true;
    for (const auto& p : q_.properties) {
      if (!EqualsNoCase(p.alias, name)) continue;
      const PropColumn* col = db_ ? db_->ColumnOf(PropertyKey(p.fmtid, p.id)) : nullptr;
      out = {col ? "d." + col->column : "NULL", KindOfDbType(p.dbtype, col ? col->vt : 0)};
      return true;
    }
    error = "unknown column '" + name + "'";
    return false;
  }

  // Picks the condition that ranks the rows and prepares its join.
  HRESULT ChooseRanked(const Condition* c) {
    if (!c) return S_OK;
    if (c->kind == Condition::Kind::And) {
      HRESULT hr = ChooseRanked(c->left.get());
      if (Failed(hr) || ranked_) return hr;
      return ChooseRanked(c->right.get());
    }
    if (c->kind != Condition::Kind::FullText) return S_OK;
    std::unique_ptr<ContentNode> node;
    std::string err;
    const HRESULT hr = ParseContentText(c->text, c->freetext, node, err);
    if (Failed(hr)) return S_OK;  // reported when the condition is compiled
    if (!Expressible(*node)) return S_OK;
    ranked_ = c;
    rankedMatch_ = ColumnFilter(c->column, FtsText(*node));
    return S_OK;
  }

  HRESULT Where(const Condition& c, std::string& sql, std::vector<Param>& params,
                std::string& error) const {
    switch (c.kind) {
      case Condition::Kind::And:
      case Condition::Kind::Or: {
        // One pair of parentheses per chain: SQLite's parser stack is small and fixed.
        std::vector<const Condition*> ops;
        ChainOperands(c, c.kind, ops);
        sql = "(";
        for (std::size_t i = 0; i < ops.size(); ++i) {
          std::string part;
          const HRESULT hr = Where(*ops[i], part, params, error);
          if (Failed(hr)) return hr;
          if (i) sql += c.kind == Condition::Kind::And ? " AND " : " OR ";
          sql += part;
        }
        sql += ")";
        return S_OK;
      }
      case Condition::Kind::Not: {
        // Every condition here is true or false, never NULL: NOT NOT x is x.
        if (c.left->kind == Condition::Kind::Not) return Where(*c.left->left, sql, params, error);
        std::string a;
        HRESULT hr = Where(*c.left, a, params, error);
        if (Failed(hr)) return hr;
        sql = "(NOT " + a + ")";
        return S_OK;
      }
      case Condition::Kind::FullText: return FullText(c, sql, params, error);
      case Condition::Kind::IsNull: {
        ColumnInfo col;
        if (!Resolve(c.column, col, error)) return DB_E_ERRORSINCOMMAND;
        sql = "((" + col.expr + ") IS " + (c.negated ? "NOT NULL)" : "NULL)");
        return S_OK;
      }
      case Condition::Kind::Like: {
        ColumnInfo col;
        if (!Resolve(c.column, col, error)) return DB_E_ERRORSINCOMMAND;
        sql = "COALESCE((" + col.expr + ")" + (c.negated ? " NOT" : "") + " LIKE ?, 0)";
        params.emplace_back(c.literal.text);
        return S_OK;
      }
      case Condition::Kind::Compare: return Compare(c, sql, params, error);
    }
    return E_UNEXPECTED;
  }

  const Condition* ranked() const { return ranked_; }
  const std::string& rankedMatch() const { return rankedMatch_; }

 private:
  // A column filter takes the phrase after it, so a whole text goes in parentheses.
  static std::string ColumnFilter(const std::string& column, std::string text) {
    if (EqualsNoCase(column, "ALL")) return text;
    if (EqualsNoCase(column, "CONTENTS")) return "contents : (" + text + ")";
    return "props : (" + text + ")";
  }

  HRESULT FullText(const Condition& c, std::string& sql, std::vector<Param>& params,
                   std::string& error) const {
    if (&c == ranked_) {
      sql = "1";  // the ranking join already keeps only matching rows
      return S_OK;
    }
    std::unique_ptr<ContentNode> node;
    const HRESULT hr = ParseContentText(c.text, c.freetext, node, error);
    if (Failed(hr)) return hr;
    sql = ContentSql(*node, c.column, params);
    return S_OK;
  }

  static std::string MatchSql(std::string text, const std::string& column,
                              std::vector<Param>& params) {
    params.emplace_back(ColumnFilter(column, std::move(text)));
    return "d.id IN (SELECT rowid FROM fts WHERE fts MATCH ?)";
  }

  std::string ContentSql(const ContentNode& n, const std::string& column,
                         std::vector<Param>& params) const {
    if (Expressible(n)) return MatchSql(FtsText(n), column, params);
    switch (n.kind) {
      case ContentNode::Kind::Not:
        if (n.left->kind == ContentNode::Kind::Not) return ContentSql(*n.left->left, column, params);
        return "(NOT " + ContentSql(*n.left, column, params) + ")";
      case ContentNode::Kind::And:
      case ContentNode::Kind::Or: {
        // The parts one full-text text can say go together into one match; the rest are
        // matched each on its own.
        const bool isAnd = n.kind == ContentNode::Kind::And;
        std::vector<const ContentNode*> ops, together, alone;
        ChainOperands(n, n.kind, ops);
        bool kept = false;
        for (const ContentNode* op : ops) {
          const bool negative = op->kind == ContentNode::Kind::Not;
          if (Expressible(isAnd && negative ? *op->left : *op)) {
            kept = kept || !negative;
            together.push_back(op);
          } else {
            alone.push_back(op);
          }
        }
        std::vector<std::string> parts;
        if (isAnd && !kept) {
          alone = ops;
        } else if (together.size() == 1) {
          parts.push_back(MatchSql(FtsText(*together[0]), column, params));
        } else if (!together.empty()) {
          std::string text;
          if (isAnd) {
            text = FtsAndText(together);
          } else {
            for (const ContentNode* op : together) {
              if (!text.empty()) text += " OR ";
              text += FtsText(*op);
            }
          }
          parts.push_back(MatchSql(text, column, params));
        }
        for (const ContentNode* op : alone) parts.push_back(ContentSql(*op, column, params));
        std::string out = "(";
        for (std::size_t i = 0; i < parts.size(); ++i) {
          if (i) out += isAnd ? " AND " : " OR ";
          out += parts[i];
        }
        return out + ")";
      }
      case ContentNode::Kind::Term: break;
    }
    return "0";
  }

  // The column of a comparison and the value it is compared with, typed for the column.
  HRESULT CompareOperand(const Condition& c, ColumnInfo& col, Param& param, bool& nocase,
                         std::string& error) const {
    if (!Resolve(c.column, col, error)) return DB_E_ERRORSINCOMMAND;
    nocase = false;
    std::int64_t i = 0;
    double d = 0;
    bool real = false;
    switch (col.kind) {
      case ValueKind::I4:
      case ValueKind::UI4:
      case ValueKind::I8:
      case ValueKind::Null:
        if (!ParseNumber(c.literal.text, i, d, real)) {
          error = "'" + c.literal.text + "' is not a number for " + c.column;
          return DB_E_ERRORSINCOMMAND;
        }
        if (real) {
          param = d;
        } else {
          param = i;
        }
        break;
      case ValueKind::Date:
        if (c.literal.isString) {
          if (!ParseQueryDate(c.literal.text, d)) {
            error = "'" + c.literal.text + "' is not a date";
            return DB_E_ERRORSINCOMMAND;
          }
        } else if (!ParseNumber(c.literal.text, i, d, real)) {
          error = "'" + c.literal.text + "' is not a date";
          return DB_E_ERRORSINCOMMAND;
        } else if (!real) {
          d = static_cast<double>(i);
        }
        param = d;
        break;
      case ValueKind::Str:
        param = c.literal.text;
        nocase = true;
        break;
      case ValueKind::Guid: {
        Guid g;
        // A text that is no GUID matches no GUID.
        param = ParseLooseGuid(c.literal.text, g) ? FormatGuid(g) : std::string("-");
        nocase = true;
        break;
      }
    }
    return S_OK;
  }

  HRESULT Compare(const Condition& c, std::string& sql, std::vector<Param>& params,
                  std::string& error) const {
    ColumnInfo col;
    Param param;
    bool nocase = false;
    const HRESULT hr = CompareOperand(c, col, param, nocase, error);
    if (Failed(hr)) return hr;
    params.push_back(std::move(param));
    sql = "COALESCE((" + col.expr + ") " + c.op + " ?" + (nocase ? " COLLATE NOCASE" : "") +
          ", 0)";
    return S_OK;
  }

 public:
  // The condition as a plan over the property cache; false when some part of it cannot be
  // answered there exactly as SQLite answers it (the query then runs in SQL).
  bool Plan(const Condition& c, const PropertyCache& cache, CachePlan& plan,
            std::unique_ptr<PlanNode>& out) const {
    out = std::make_unique<PlanNode>();
    PlanNode& n = *out;
    std::string error;
    switch (c.kind) {
      case Condition::Kind::And:
      case Condition::Kind::Or:
        n.kind = c.kind == Condition::Kind::And ? PlanNode::Kind::And : PlanNode::Kind::Or;
        return Plan(*c.left, cache, plan, n.left) && Plan(*c.right, cache, plan, n.right);
      case Condition::Kind::Not:
        n.kind = PlanNode::Kind::Not;
        return Plan(*c.left, cache, plan, n.left);
      case Condition::Kind::FullText: {
        if (&c == ranked_) {
          n.kind = PlanNode::Kind::True;  // the ranked scan yields only matching rows
          return true;
        }
        std::unique_ptr<ContentNode> node;
        if (Failed(ParseContentText(c.text, c.freetext, node, error))) return false;
        return PlanContent(*node, c.column, plan, n);
      }
      case Condition::Kind::IsNull: {
        ColumnInfo col;
        if (!Resolve(c.column, col, error) || !PlanColumn(col, cache, n.column)) return false;
        n.kind = PlanNode::Kind::IsNull;
        n.negated = c.negated;
        return true;
      }
      case Condition::Kind::Like: {
        ColumnInfo col;
        if (!Resolve(c.column, col, error) || !PlanColumn(col, cache, n.column)) return false;
        // SQLite reads a number as text for LIKE; only text columns match the same here.
        if (n.column >= 0 && !cache.AllText(n.column)) return false;
        if (c.literal.text.size() > kMaxLikePattern) return false;
        n.kind = PlanNode::Kind::Like;
        n.negated = c.negated;
        n.param = c.literal.text;
        n.like.emplace(c.literal.text);
        return true;
      }
      case Condition::Kind::Compare: {
        ColumnInfo col;
        if (Failed(CompareOperand(c, col, n.param, n.nocase, error))) return false;
        if (!PlanColumn(col, cache, n.column)) return false;
        n.kind = PlanNode::Kind::Compare;
        n.op = c.op;
        return true;
      }
    }
    return false;
  }

 private:
  // The cache column of an expression; -1 for a property this catalog does not cache. The
  // rank is not a column.
  static bool PlanColumn(const ColumnInfo& col, const PropertyCache& cache, int& column) {
    if (col.expr == "NULL") {
      column = -1;
      return true;
    }
    column = cache.ColumnOf(col.expr);
    return column >= 0;
  }

  bool PlanContent(const ContentNode& c, const std::string& column, CachePlan& plan,
                   PlanNode& n) const {
    if (Expressible(c)) {
      n.kind = PlanNode::Kind::InSet;
      n.set = plan.matchTexts.size();
      plan.matchTexts.push_back(ColumnFilter(column, FtsText(c)));
      return true;
    }
    switch (c.kind) {
      case ContentNode::Kind::Not:
        n.kind = PlanNode::Kind::Not;
        n.left = std::make_unique<PlanNode>();
        return PlanContent(*c.left, column, plan, *n.left);
      case ContentNode::Kind::And:
      case ContentNode::Kind::Or:
        n.kind = c.kind == ContentNode::Kind::And ? PlanNode::Kind::And : PlanNode::Kind::Or;
        n.left = std::make_unique<PlanNode>();
        n.right = std::make_unique<PlanNode>();
        return PlanContent(*c.left, column, plan, *n.left) &&
               PlanContent(*c.right, column, plan, *n.right);
      case ContentNode::Kind::Term: break;
    }
    return false;
  }

  const ParsedQuery& q_;
  const CatalogDb* db_;
  const Condition* ranked_ = nullptr;
  std::string rankedMatch_;
};

// rank = max(1, round(1000 * s / (s + 1))) for the BM25 score s (FTS5 reports -s).
std::int64_t RankOfScore(double bm25) {
  const double s = -bm25;
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(1000.0 * s / (1.0 + s) + 0.5));
}

// `v` is a fresh NULL value.
void ReadValue(const Statement& st, int col, ValueKind kind, Value& v) {
  const int type = st.Type(col);
  if (type == SQLITE_NULL) return;
  switch (kind) {
    case ValueKind::I4:
    case ValueKind::UI4:
    case ValueKind::I8:
      if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return;
      v.kind = kind;
      v.i = st.Int(col);
      if (kind == ValueKind::UI4) v.i = std::clamp<std::int64_t>(v.i, 0, UINT32_MAX);
      if (kind == ValueKind::I4) v.i = std::clamp<std::int64_t>(v.i, INT32_MIN, INT32_MAX);
      return;
    case ValueKind::Date:
      if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return;
      v.kind = kind;
      v.d = st.Real(col);
      return;
    case ValueKind::Str:
      v.kind = kind;
      v.s = st.Text(col);
      return;
    case ValueKind::Guid: {
      Guid g;
      if (ParseLooseGuid(st.Text(col), g)) {
        v.kind = kind;
        v.g = g;
      }
      return;
    }
    case ValueKind::Null: return;
  }
}

// Whether a condition reads the rank.
bool NamesRank(const Condition* c) {
  if (!c) return false;
  switch (c->kind) {
    case Condition::Kind::And:
    case Condition::Kind::Or:
    case Condition::Kind::Not: return NamesRank(c->left.get()) || NamesRank(c->right.get());
    case Condition::Kind::FullText: return false;
    default: return AsciiLower(c->column) == "rank";
  }
}

// The conditions that a top-level AND chain joins, left to right.
void Conjuncts(const Condition* c, std::vector<const Condition*>& out) {
  if (!c) return;
  if (c->kind == Condition::Kind::And) {
    Conjuncts(c->left.get(), out);
    Conjuncts(c->right.get(), out);
    return;
  }
  out.push_back(c);
}

std::string ScopeSql(const TableRef& t, std::vector<Param>& params) {
  if (t.scopes.empty()) return "1";
  std::string sql;
  for (const auto& s : t.scopes) {
    if (!sql.empty()) sql += " OR ";
    const std::string p = NormalizeScopePath(s.path);
    if (p.empty()) {
      sql += "0";  // not a folder of this system: it holds nothing
    } else if (s.traversal == Traversal::Shallow) {
      sql += "d.dir = ?";
      params.emplace_back(p);
    } else if (p == "/") {
      sql += "1";
    } else {
      sql += "(d.path >= ? AND d.path < ?)";
      params.emplace_back(p + "/");
      params.emplace_back(p + "0");
    }
  }
  return "(" + sql + ")";
}

// BEGIN on construction, COMMIT (which only ends reading) on destruction.
class ReadTransaction {
 public:
  explicit ReadTransaction(Database& db) : db_(db), status_(db.Exec("BEGIN")) {}
  ~ReadTransaction() {
    if (Succeeded(status_)) db_.Exec("COMMIT");
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  HRESULT status() const { return status_; }

 private:
  Database& db_;
  HRESULT status_;
};

HRESULT FtsError(Database& db, int rc, std::string& error) {
  const int ext = sqlite3_extended_errcode(db.handle());
  error = db.LastError();
  // A full-text text that FTS5 cannot read is an error in the command.
  return (ext & 0xFF) == SQLITE_ERROR ? DB_E_ERRORSINCOMMAND : HresultFromSqlite(rc);
}

// A prepared statement from the catalog's cache of them.
HRESULT Prepared(Database& db, std::map<std::string, Statement>& statements,
                 const std::string& sql, Statement*& out, std::string& error) {
  auto st = statements.find(sql);
  if (st == statements.end()) {
    if (statements.size() >= kMaxCachedStatements) statements.clear();
    Statement fresh;
    std::string perr;
    const HRESULT hr = db.Prepare(sql, fresh, &perr);
    if (Failed(hr)) {
      error = "the catalog cannot run the query: " + perr;
      return hr;
    }
    st = statements.emplace(sql, std::move(fresh)).first;
  }
  out = &st->second;
  out->Reset();
  return S_OK;
}

// A row a query takes from the property cache, with its rank.
struct CacheHit {
  std::uint32_t row;
  std::int32_t rank;
};

}  // namespace

// A large word's matches fill a few arrays of a query's own; kept from one query to the next,
// they cost no fresh pages each time (the allocator hands large blocks back to the system).
struct QueryScratch {
  std::vector<CacheHit> hits;
  std::vector<std::uint32_t> freq;
  std::vector<std::int64_t> tokens;
  std::vector<double> scores;
};

namespace {

struct CacheQuery {
  Database& db;
  QueryScratch& scratch;
  const std::vector<PropColumn>& props;
  std::shared_ptr<const PropertyCache>& cache;
  std::int64_t& lastVersion;
  bool& wanted;
  std::optional<OwedSnapshot>& snapshotOwed;
  std::optional<OwedSnapshot>& snapshotKept;
  std::size_t& likesKept;
  const std::filesystem::path& snapshot;  // where a snapshot of the cache may be kept
  std::uint64_t file;                     // the database file's inode
  LikeMemo& likeMemo;
  bool& phraseHits;
  std::map<std::string, Statement>& statements;
  std::unique_ptr<FtsWordReader>& words;
};

HRESULT LoadCache(Database& db, std::span<const PropColumn> props, std::int64_t version,
                  std::shared_ptr<const PropertyCache>& cache, LikeMemo& memo) {
  const HRESULT hr = PropertyCache::Load(db, props, version, cache);
  if (Failed(hr) || hr == E_NOTIMPL) return hr;
  // LIKE results belong to the snapshot they were matched in; the patterns on the documents'
  // own columns (the client's path exclusions, in every search), and the whole conditions
  // made of them, stay, to be matched anew.
  std::vector<std::string> kept;
  for (const auto& [key, known] : memo.results) {
    const auto plan = memo.plans.find(key);
    if (LikeKeyColumn(key, kCacheDocColumns) >= 0 ||
        (KeepsPlan(memo, key) && plan->second.where &&
         ReadsColumnsBelow(*plan->second.where, kCacheDocColumns))) {
      kept.push_back(key);
    }
  }
  memo.results.clear();
  memo.snapshot = cache.get();
  for (const std::string& key : kept) memo.results[key].assign(cache->size(), -1);
  std::erase_if(memo.plans, [&](const auto& p) { return !memo.results.contains(p.first); });
  // Older asks count for less with each new cache, so that conditions no longer asked give
  // way; one carried stays kept until others are asked more.
  for (auto& [key, plan] : memo.plans) plan.uses = std::max(plan.uses / 2, kPlanUsesToKeep);
  return hr;
}

// A snapshot is mapped for a first query whose word matches at least one document in this
// many (see RunOnCache).
constexpr std::int64_t kMatchesPerMappedRow = 100;

// The LIKE patterns and whole plans whose results a memo holds for a snapshot to keep.
std::size_t KeptResults(const LikeMemo& memo) {
  return static_cast<std::size_t>(
      std::count_if(memo.results.begin(), memo.results.end(), [&](const auto& r) {
        return KeptWithSnapshot(memo, r.first, PropertyCache::kMaxColumns);
      }));
}

// The snapshot another process left of the catalog as this transaction sees it, if there is
// one: mapped, it answers at once. A snapshot that is missing, of another state or damaged
// is passed over (a damaged one is replaced by the next load that keeps one).
bool MapSnapshot(CacheQuery& c, std::int64_t version) {
  ChangeStamp stamp;
  if (ReadChangeStamp(c.db, stamp) != S_OK) return false;
  stamp.file = c.file;
  std::shared_ptr<const PropertyCache> mapped;
  LikeMemo likes;  // the LIKE results kept with it
  if (PropertyCache::Open(c.snapshot, stamp, c.props, version, mapped, &likes) != S_OK) {
    return false;
  }
  c.cache = std::move(mapped);
  c.likeMemo = std::move(likes);
  c.snapshotKept = OwedSnapshot{stamp, c.cache};
  c.likesKept = KeptResults(c.likeMemo);
  return true;
}

// Runs one table of the query over the property cache: the rows it takes (cache row and
// rank, in id order). `done` stays false when the query needs the SQL form.
HRESULT RunOnCache(CacheQuery c, const Compiler& comp, const ParsedQuery& q,
                   const TableRef& table, const std::vector<ColumnInfo>& slots,
                   std::size_t rankSlot, std::span<const std::size_t> keySlots,
                   std::size_t maxRows, std::vector<int>& slotColumn,
                   std::vector<CacheHit>& hits, bool& done, std::string& error) {
  done = false;
  // One read transaction: the full-text reads see the snapshot the cache holds.
  ReadTransaction tx(c.db);
  if (Failed(tx.status())) return tx.status();
  std::int64_t version = 0;
  HRESULT hr = PropertyCache::DataVersion(c.db, version);
  if (Failed(hr)) return hr;
  // A snapshot answers only for the catalog as this transaction sees it. It is (re)loaded
  // only for a catalog that stood still since the last query: a one-off query, or one while
  // the indexer is busy, costs a load it never earns back, and runs as SQL instead.
  const bool stood = version == c.lastVersion;
  c.lastVersion = version;
  // A one-word query's rows, read once here where they decide whether to map a snapshot.
  std::optional<HRESULT> wordRead;
  std::span<const WordPosting> postings;
  std::int64_t tableRows = 0, tableTokens = 0;
  auto readWord = [&] {
    if (!wordRead) {
      if (!c.words) c.words = std::make_unique<FtsWordReader>(c.db.handle());
      wordRead = c.words->Read(comp.rankedMatch(), postings, tableRows, tableTokens);
    }
    return *wordRead;
  };
  // Mapping a snapshot and checking it costs about what SQL pays for a hundredth of the
  // documents: a first query of a word with fewer matches runs as SQL.
  auto worthMapping = [&] {
    if (stood || !comp.ranked()) return true;
    return readWord() != S_OK ||
           static_cast<std::int64_t>(postings.size()) >= tableRows / kMatchesPerMappedRow;
  };
  if ((!c.cache || !c.cache->Current(version, c.props.size())) &&
      !(worthMapping() && MapSnapshot(c, version))) {
    if (!stood) {
      c.wanted = true;  // a process that searches on may load it before the next query
      return S_OK;
    }
    c.wanted = false;
    hr = LoadCache(c.db, c.props, version, c.cache, c.likeMemo);
    if (hr == E_NOTIMPL) return S_OK;  // more cached properties than the cache holds
    if (Failed(hr)) return hr;
    // Kept in a file later, between queries, by a process that does that.
    ChangeStamp stamp;
    if (ReadChangeStamp(c.db, stamp) == S_OK) c.snapshotOwed = {stamp, c.cache};
  }
  // SQLite's NOCASE and LIKE stop at a NUL inside a text; the cache leaves those to SQL.
  if (c.cache->textHasNul()) return S_OK;
  CachePlan plan;
  if (q.where && !comp.Plan(*q.where, *c.cache, plan, plan.where)) return S_OK;
  if (c.likeMemo.snapshot != c.cache.get()) {
    c.likeMemo.Clear();
    c.likeMemo.snapshot = c.cache.get();
  }
  AttachMemo(plan, *c.cache, c.likeMemo);
  slotColumn.assign(slots.size(), -1);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (i == rankSlot) continue;
    if (slots[i].expr == "NULL") continue;
    slotColumn[i] = c.cache->ColumnOf(slots[i].expr);
    if (slotColumn[i] < 0) return S_OK;  // no such column in the cache: SQL has it
    const bool text = slots[i].kind == ValueKind::Str || slots[i].kind == ValueKind::Guid;
    if (text && !c.cache->AllText(slotColumn[i])) return S_OK;
  }
  // With a row limit SQLite picks the rows by its own order, and the two orders agree only
  // where a key's values read as its type without change: integers for integer keys,
  // numbers for dates, text for text; GUID keys SQLite orders by their text.
  if (maxRows) {
    for (std::size_t slot : keySlots) {
      if (slot == rankSlot || slotColumn[slot] < 0) continue;
      const int col = slotColumn[slot];
      switch (slots[slot].kind) {
        case ValueKind::I4:
        case ValueKind::UI4:
        case ValueKind::I8:
          if (!c.cache->AllInteger(col)) return S_OK;
          break;
        case ValueKind::Date:
          if (!c.cache->AllNumber(col)) return S_OK;
          break;
        case ValueKind::Str: break;  // text only, checked above
        default: return S_OK;
      }
    }
  }
  // The full-text conditions that are not the ranked one: which rows match each.
  for (const std::string& match : plan.matchTexts) {
    Statement* st = nullptr;
    hr = Prepared(c.db, c.statements, "SELECT rowid FROM fts WHERE fts MATCH ?", st, error);
    if (Failed(hr)) return hr;
    st->Bind(1, std::string_view(match));
    std::vector<bool>& set = plan.sets.emplace_back(c.cache->size(), false);
    std::size_t hint = 0;
    int rc;
    while ((rc = st->Step()) == SQLITE_ROW) {
      const std::size_t row = c.cache->Find(st->Int(0), hint);
      if (row < c.cache->size()) set[hint = row] = true;
    }
    st->Reset();
    if (rc != SQLITE_DONE) return FtsError(c.db, rc, error);
  }
  const std::vector<ScopeTest> scope = ScopeTests(table);
  const bool everywhere = TakesEverything(scope);
  auto take = [&](std::size_t row, std::int64_t rank) {
    if (!everywhere && !InScope(scope, *c.cache, row)) return false;
    if (!Meets(plan, *c.cache, row)) return false;
    hits.push_back({static_cast<std::uint32_t>(row), static_cast<std::int32_t>(rank)});
    return true;
  };
  if (!comp.ranked()) {
    for (std::size_t row = 0; row < c.cache->size(); ++row) take(row, 1000);
    done = true;
    return S_OK;
  }
  // One word, the common case, is read from the index's pages when they are in a form
  // known here: FTS5's cursor costs more than all the rest of a large word's query.
  hr = readWord();
  if (Failed(hr)) {
    error = kWordsDamaged;
    return hr;
  }
  if (hr == S_OK) {
    PhraseHits phrases =
        OnePhraseHits(tableRows, tableTokens, static_cast<std::int64_t>(postings.size()));
    // The rows taken first, with their hits and lengths, then their ranks in one loop.
    const std::size_t first = hits.size();
    hits.reserve(first + postings.size());
    std::vector<std::uint32_t>& freq = c.scratch.freq;
    std::vector<std::int64_t>& tokens = c.scratch.tokens;
    freq.clear();
    tokens.clear();
    freq.reserve(postings.size());
    tokens.reserve(postings.size());
    std::size_t hint = 0;
    for (const WordPosting& p : postings) {
      const std::size_t row = c.cache->Find(p.rowid, hint);
      if (row == c.cache->size()) continue;  // waiting for its first filtering
      hint = row;
      if (take(row, 0)) {
        freq.push_back(p.hits);
        tokens.push_back(c.cache->tokens(row));
      }
    }
    std::vector<double>& scores = c.scratch.scores;
    scores.assign(freq.size(), 0.0);
    OnePhraseScores(phrases, freq, tokens, scores);
    for (std::size_t i = 0; i < scores.size(); ++i) {
      hits[first + i].rank = static_cast<std::int32_t>(RankOfScore(-scores[i]));
    }
    done = true;
    return S_OK;
  }
  if (!c.phraseHits) {
    hr = RegisterPhraseHits(c.db.handle());
    if (Failed(hr)) return S_OK;  // no auxiliary functions here: bm25() in SQL does it
    c.phraseHits = true;
  }
  Statement* st = nullptr;
  hr = Prepared(c.db, c.statements,
                "SELECT rowid, qv_phrase_hits(fts, ?2) FROM fts WHERE fts MATCH ?1", st, error);
  if (Failed(hr)) return hr;
  PhraseHits phrases;
  phrases.mayDeferIdf = true;
  st->Bind(1, std::string_view(comp.rankedMatch()));
  sqlite3_bind_pointer(st->get(), 2, &phrases, kPhraseHitsPointer, nullptr);
  // A one-phrase query learns its IDF only when every row is listed: until then the rows
  // taken keep their hit counts, and are ranked at the end.
  std::vector<std::uint32_t> waitingFreq;
  std::int64_t listed = 0;
  std::size_t hint = 0;
  int rc;
  while ((rc = st->Step()) == SQLITE_ROW) {
    ++listed;
    const std::size_t row = c.cache->Find(st->Int(0), hint);
    if (row == c.cache->size()) continue;  // waiting for its first filtering
    hint = row;
    if (!phrases.idfDeferred) {
      take(row, RankOfScore(-Bm25Score(phrases, c.cache->tokens(row))));
    } else if (take(row, 0)) {
      waitingFreq.push_back(static_cast<std::uint32_t>(phrases.freq[0]));
    }
  }
  st->Reset();
  if (rc != SQLITE_DONE) return FtsError(c.db, rc, error);
  if (phrases.idfDeferred) {
    FinishDeferredIdf(phrases, listed);
    const std::size_t first = hits.size() - waitingFreq.size();
    for (std::size_t i = 0; i < waitingFreq.size(); ++i) {
      CacheHit& hit = hits[first + i];
      phrases.freq[0] = waitingFreq[i];
      hit.rank = static_cast<std::int32_t>(
          RankOfScore(-Bm25Score(phrases, c.cache->tokens(hit.row))));
    }
  }
  done = true;
  return S_OK;
}

// The values of the rows read by SQL. A search may read tens of thousands of rows and show
// twenty, and every page of memory it writes costs a page fault, so a row keeps only the
// values it has: a bit per stored column (in 64-bit words) says which, and those follow in
// column order, eight bytes each: the number itself, or the address of a text kept here (its
// length in the four bytes before it). A value's kind is its column's. Rows and texts live
// in blocks that never move once filled: growing costs no copies, and the order keys can
// point into the texts.
class SqlValues {
 public:
  static constexpr std::size_t kNull = SIZE_MAX;

  // Starts a row of up to `stored` values, all in one block; `row` is where it begins.
  // False when the store is full. Its values are then set in column order.
  bool BeginRow(std::size_t stored, std::uint32_t& row) {
    const std::size_t words = Words(stored);
    if (words + stored > kBlock) return false;
    if (blocks_.empty() || used_ + words + stored > kBlock) {
      if (blocks_.size() >= UINT32_MAX / kBlock) return false;
      blocks_.push_back(std::make_unique_for_overwrite<Cell[]>(kBlock));
      used_ = 0;
    }
    row = static_cast<std::uint32_t>((blocks_.size() - 1) * kBlock + used_);
    row_ = row;
    for (std::size_t w = 0; w < words; ++w) at(row_ + w).bits = 0;
    used_ += words;
    return true;
  }
  // Drops the row begun last (its texts stay, unused).
  void DropRow() { used_ = row_ % kBlock; }
  // Value `column` of the row begun last; columns in increasing order.
  void SetInt(std::size_t column, std::int64_t v) { Next(column).i = v; }
  void SetReal(std::size_t column, double v) { Next(column).d = v; }
  // A copy of `bytes`, which stays where it is.
  bool SetText(std::size_t column, std::string_view bytes) {
    if (bytes.size() > UINT32_MAX - sizeof(std::uint32_t)) return false;
    const auto n = static_cast<std::uint32_t>(bytes.size());
    const std::size_t need = sizeof n + bytes.size();
    char* room;
    if (need > kTextBlock / 4) {
      texts_.push_back(std::make_unique_for_overwrite<char[]>(need));
      room = texts_.back().get();
    } else {
      if (!textRoom_ || textUsed_ + need > kTextBlock) {
        texts_.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
        textRoom_ = texts_.back().get();
        textUsed_ = 0;
      }
      room = textRoom_ + textUsed_;
      textUsed_ += need;
    }
    std::memcpy(room, &n, sizeof n);
    bytes.copy(room + sizeof n, bytes.size());
    Next(column).text = room + sizeof n;
    return true;
  }

  // Where value `column` of the row at `row` (of `stored` values) is; kNull for NULL.
  std::size_t Find(std::uint32_t row, std::size_t stored, std::size_t column) const {
    const std::uint64_t word = at(row + column / 64).bits;
    const std::uint64_t bit = std::uint64_t{1} << (column % 64);
    if (!(word & bit)) return kNull;
    std::size_t before = static_cast<std::size_t>(CountBits(word & (bit - 1)));
    for (std::size_t w = 0; w < column / 64; ++w) {
      before += static_cast<std::size_t>(CountBits(at(row + w).bits));
    }
    return std::size_t{row} + Words(stored) + before;
  }
  bool IsNull(std::size_t i) const { return i == kNull; }
  std::int64_t Int(std::size_t i) const { return at(i).i; }
  double Real(std::size_t i) const { return at(i).d; }
  std::string_view Text(std::size_t i) const {
    if (IsNull(i)) return {};
    const char* t = at(i).text;
    std::uint32_t n = 0;
    std::memcpy(&n, t - sizeof n, sizeof n);
    return {t, n};
  }

 private:
  union Cell {
    std::uint64_t bits;  // a row's words of which values it has
    std::int64_t i;      // I4, UI4, I8
    double d;            // Date
    const char* text;    // Str, Guid
  };
  static std::size_t Words(std::size_t stored) { return (stored + 63) / 64; }
  Cell& at(std::size_t i) const { return blocks_[i / kBlock][i % kBlock]; }
  Cell& Next(std::size_t column) {
    at(row_ + column / 64).bits |= std::uint64_t{1} << (column % 64);
    return at((blocks_.size() - 1) * kBlock + used_++);
  }

  static constexpr std::size_t kBlock = 8192;  // 64 KiB: from the heap, not a mapping each
  static constexpr std::size_t kTextBlock = 64 * 1024;
  std::vector<std::unique_ptr<Cell[]>> blocks_;
  std::size_t used_ = 0;  // cells in the last block
  std::size_t row_ = 0;   // where the row begun last begins
  std::vector<std::unique_ptr<char[]>> texts_;
  char* textRoom_ = nullptr;  // the block that small texts are copied into
  std::size_t textUsed_ = 0;
};

// Reads column `col` of a SQL row into value `i` of the row the store began last, as
// ReadValue reads it into a value; false when the store is full.
bool ReadSqlCell(const Statement& st, int col, ValueKind kind, SqlValues& store,
                 std::size_t i) {
  const int type = st.Type(col);
  if (type == SQLITE_NULL) return true;
  switch (kind) {
    case ValueKind::Str: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), col));
      const auto n = static_cast<std::size_t>(sqlite3_column_bytes(st.get(), col));
      return !p || store.SetText(i, {p, n});
    }
    case ValueKind::Guid: {
      Value v;
      ReadValue(st, col, kind, v);
      if (v.IsNull()) return true;
      std::array<char, sizeof(Guid)> bytes;
      std::memcpy(bytes.data(), &v.g, sizeof(Guid));
      return store.SetText(i, {bytes.data(), bytes.size()});
    }
    default: {
      Value v;
      ReadValue(st, col, kind, v);
      if (v.IsNull()) return true;
      if (kind == ValueKind::Date) {
        store.SetReal(i, v.d);
      } else {
        store.SetInt(i, v.i);
      }
      return true;
    }
  }
}

// The value at `i` in the store (kNull for NULL), of a column of `kind`.
void CellValue(const SqlValues& store, std::size_t i, ValueKind kind, Value& v) {
  if (store.IsNull(i)) return;
  v.kind = kind;
  switch (kind) {
    case ValueKind::Null: return;
    case ValueKind::Str: v.s = store.Text(i); return;
    case ValueKind::Guid: std::memcpy(&v.g, store.Text(i).data(), sizeof(Guid)); return;
    case ValueKind::Date: v.d = store.Real(i); return;
    default: v.i = store.Int(i); return;
  }
}

// The rows of one table of a query, before they are ordered.
struct Source {
  std::shared_ptr<const PropertyCache> cache;  // null: the rows came from SQL
  std::vector<ColumnInfo> slots;
  std::vector<int> slotColumn;  // cache column per slot, -1 for none
  std::size_t rankSlot = 0;
  // SQL rows keep only the slots somebody reads, side by side: per slot its place in a
  // row's values, -1 for a slot that is always NULL.
  std::vector<int> storedAt;
  std::size_t stored = 0;

  // A slot's kind: the rank is worked out as an integer whatever the column says.
  ValueKind KindOf(std::size_t slot) const {
    return slot == rankSlot ? ValueKind::I4 : slots[slot].kind;
  }
  // Where the SQL row at `row` keeps its value of a stored slot (kNull for NULL).
  std::size_t ValueAt(const SqlValues& store, std::uint32_t row, std::size_t slot) const {
    return store.Find(row, stored, static_cast<std::size_t>(storedAt[slot]));
  }
};
struct Pending {
  std::uint32_t source;
  std::uint32_t index;  // SQL: where its row begins in sqlValues; cache: the cache row
  std::int32_t rank;    // cache rows
};

// An order key of a row, copied into a small flat cell so that comparing two rows reads
// neither row. A column's keys are all of one kind (or NULL).
struct KeyCell {
  enum class Kind : std::uint8_t { Null, Int, Real, Text, Guid } kind = Kind::Null;
  std::uint32_t length = 0;  // Text
  std::uint64_t value = 0;   // Int: the integer; Real: the double's bits; Text, Guid: address
};
static_assert(sizeof(KeyCell) == 16);
// A row's path: a cache row's place among its snapshot's paths, or a SQL row's text.
struct PathKey {
  const PropertyCache* snapshot = nullptr;
  const char* text = nullptr;
  std::uint32_t rowOrLength = 0;  // the cache row, or the text's length
  std::uint32_t order = 0;
  std::string_view Text() const {
    return snapshot ? snapshot->Cell(kCachePath, rowOrLength).text
                    : std::string_view(text, rowOrLength);
  }
};

double KeyReal(const KeyCell& k) {
  if (k.kind == KeyCell::Kind::Int) return static_cast<double>(static_cast<std::int64_t>(k.value));
  double d;
  std::memcpy(&d, &k.value, sizeof d);
  return d;
}

// Two keys of which neither is NULL, nor both integers or both reals.
[[gnu::noinline]] int CompareOtherKeys(const KeyCell& a, const KeyCell& b) {
  switch (a.kind) {
    case KeyCell::Kind::Text:
      return CompareNoCase({reinterpret_cast<const char*>(a.value), a.length},
                           {reinterpret_cast<const char*>(b.value), b.length});
    case KeyCell::Kind::Guid: {
      // By the GUID's fields, as the values compare.
      Guid ga, gb;
      std::memcpy(&ga, reinterpret_cast<const void*>(a.value), sizeof ga);
      std::memcpy(&gb, reinterpret_cast<const void*>(b.value), sizeof gb);
      Value va, vb;
      va.kind = vb.kind = ValueKind::Guid;
      va.g = ga;
      vb.g = gb;
      return CompareValues(va, vb);
    }
    case KeyCell::Kind::Int:
      if (b.kind == KeyCell::Kind::Int) {
        const auto ia = static_cast<std::int64_t>(a.value), ib = static_cast<std::int64_t>(b.value);
        return ia < ib ? -1 : ia > ib;
      }
      [[fallthrough]];
    default: {
      const double da = KeyReal(a), db = KeyReal(b);
      if (da != db) return da < db ? -1 : 1;
      return 0;
    }
  }
}

// Inline for the keys a search compares most (a missing value, the rank, a date): a large
// word's query compares tens of thousands of rows.
inline int CompareKey(const KeyCell& a, const KeyCell& b) {
  if (a.kind == KeyCell::Kind::Null || b.kind == KeyCell::Kind::Null) {
    return a.kind == b.kind ? 0 : (a.kind == KeyCell::Kind::Null ? -1 : 1);
  }
  if (a.kind == b.kind && a.kind == KeyCell::Kind::Int) {
    const auto ia = static_cast<std::int64_t>(a.value), ib = static_cast<std::int64_t>(b.value);
    return ia < ib ? -1 : ia > ib;
  }
  if (a.kind == b.kind && a.kind == KeyCell::Kind::Real) {
    const double da = std::bit_cast<double>(a.value), db = std::bit_cast<double>(b.value);
    if (da != db) return da < db ? -1 : 1;
    return 0;
  }
  return CompareOtherKeys(a, b);
}

// The order key of the value at `at` in the store (kNull for NULL), of a column of `kind`.
KeyCell SqlKey(const SqlValues& store, std::size_t at, ValueKind kind) {
  KeyCell k;
  if (store.IsNull(at)) return k;
  switch (kind) {
    case ValueKind::Null: break;
    case ValueKind::Str: {
      const std::string_view t = store.Text(at);
      k.kind = KeyCell::Kind::Text;
      k.value = reinterpret_cast<std::uintptr_t>(t.data());
      k.length = static_cast<std::uint32_t>(std::min<std::size_t>(t.size(), UINT32_MAX));
      break;
    }
    case ValueKind::Guid:
      k.kind = KeyCell::Kind::Guid;
      k.value = reinterpret_cast<std::uintptr_t>(store.Text(at).data());
      break;
    case ValueKind::Date: {
      const double d = store.Real(at);
      k.kind = KeyCell::Kind::Real;
      std::memcpy(&k.value, &d, sizeof d);
      break;
    }
    default:
      k.kind = KeyCell::Kind::Int;
      k.value = static_cast<std::uint64_t>(store.Int(at));
      break;
  }
  return k;
}

// The order key of a cache row's value in `slot`. A GUID key points at a copy kept in
// `guids`; without one (null, for keys read as rows are compared) it stays NULL, and such
// keys are always copied.
void CacheKey(const Source& src, std::size_t slot, const Pending& p, KeyCell& k,
              std::deque<Guid>* guids) {
  k = KeyCell{};
  auto real = [&](double d) {
    k.kind = KeyCell::Kind::Real;
    std::memcpy(&k.value, &d, sizeof d);
  };
  auto integer = [&](std::int64_t i) {
    k.kind = KeyCell::Kind::Int;
    k.value = static_cast<std::uint64_t>(i);
  };
  if (slot == src.rankSlot) return integer(p.rank);
  if (src.slotColumn[slot] < 0) return;
  const ValueKind kind = src.slots[slot].kind;
  if (kind == ValueKind::Date) {
    if (const double* reals = src.cache->Reals(src.slotColumn[slot])) return real(reals[p.index]);
  }
  const CacheCell cell = src.cache->Cell(src.slotColumn[slot], p.index);
  if (cell.type == SQLITE_NULL) return;
  switch (kind) {
    case ValueKind::Str:
      k.kind = KeyCell::Kind::Text;
      k.value = reinterpret_cast<std::uintptr_t>(cell.text.data());
      k.length = static_cast<std::uint32_t>(std::min<std::size_t>(cell.text.size(), UINT32_MAX));
      return;
    case ValueKind::Date:
      if (cell.type == SQLITE_INTEGER) return real(static_cast<double>(cell.i));
      if (cell.type == SQLITE_FLOAT) return real(cell.d);
      return;
    default: break;
  }
  Value v;
  ReadCell(cell, kind, v);
  switch (v.kind) {
    case ValueKind::Null:
    case ValueKind::Str: return;  // no column of another kind reads as text
    case ValueKind::Guid:
      if (!guids) return;
      k.kind = KeyCell::Kind::Guid;
      k.value = reinterpret_cast<std::uintptr_t>(&guids->emplace_back(v.g));
      return;
    case ValueKind::Date: return real(v.d);
    default: return integer(v.i);
  }
}

}  // namespace

// The matches of a query in a heap by their order keys: building it costs a few comparisons
// per match, and each row asked for costs a logarithm, so a query pays for the match scan
// and the rows it shows, not for sorting every match.
class RowHeap final : public ResultSet::Unordered {
 public:
  std::vector<Source> sources;
  std::vector<Pending> pending;
  SqlValues sqlValues;  // SQL rows' values; their keys point into these
  std::size_t nkeys = 0;
  std::vector<std::uint8_t> descending;  // per key: 1 for a descending key
  // nkeys per pending row, when the keys are copied (see lazyKeys)
  std::unique_ptr<KeyCell[]> cells;
  std::vector<PathKey> paths;
  std::deque<Guid> guids;  // GUID keys read from a cache: where their keys point
  std::vector<std::uint32_t> lazySource;  // per source: its ResultSet source, or kWhole
  std::vector<std::size_t> columnSlot;
  // Keys read where the rows keep them (the SQL store, the cache), once a row as the first
  // rows are picked, and `cells` and `paths` left empty until a reader goes past those: a
  // word that matches a third of the documents spent more on copying every key of every row
  // than on putting the first screenfuls in order. Not for GUID keys of a cache, which need
  // a copy.
  bool lazyKeys = false;
  // Rows of one snapshot compare by their places in path order, others by the paths' bytes.
  // Where a snapshot read from a file meets another source, its places are not trusted to
  // be the bytes' order (a damaged file), and its rows compare by their bytes too: a sort
  // whose order goes round in circles reads out of bounds.
  bool placesByText = false;
  std::vector<std::size_t> keySlot;
  std::size_t pathSlot = 0;

  KeyCell KeyOf(std::uint32_t x, std::size_t k) const {
    if (!lazyKeys) return cells[std::size_t{x} * nkeys + k];
    const Pending& p = pending[x];
    const Source& src = sources[p.source];
    const std::size_t slot = keySlot[k];
    KeyCell cell;
    if (!src.cache) {
      return SqlKey(sqlValues, src.ValueAt(sqlValues, p.index, slot), src.KindOf(slot));
    }
    // The two commonest keys of a search answer here: its rank, and a value the row lacks.
    if (slot == src.rankSlot) {
      cell.kind = KeyCell::Kind::Int;
      cell.value = static_cast<std::uint64_t>(std::int64_t{p.rank});
      return cell;
    }
    const int column = src.slotColumn[slot];
    if (column < 0 || !src.cache->Has(column, p.index)) return cell;
    CacheKey(src, slot, p, cell, nullptr);
    return cell;
  }
  PathKey PathOf(std::uint32_t x) const {
    const Pending& p = pending[x];
    const Source& src = sources[p.source];
    PathKey path;
    if (src.cache && src.slotColumn[pathSlot] == kCachePath && !placesByText) {
      path = {src.cache.get(), nullptr, p.index, src.cache->pathOrder(p.index)};
    } else if (src.cache && src.slotColumn[pathSlot] == kCachePath) {
      const std::string_view text = src.cache->Cell(kCachePath, p.index).text;
      path.text = text.data();
      path.rowOrLength = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
    } else if (!src.cache) {
      const std::string_view text = sqlValues.Text(src.ValueAt(sqlValues, p.index, pathSlot));
      path.text = text.data();
      path.rowOrLength = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
    }
    return path;
  }

  // Whether row x comes before row y. The last tie-break is the order the rows were read
  // in, so the order is total.
  // (Keys copied: see CopyKeys.)
  bool Before(std::uint32_t x, std::uint32_t y) const {
    return KeysBefore(cells.get() + std::size_t{x} * nkeys, paths[x], x,
                      cells.get() + std::size_t{y} * nkeys, paths[y], y);
  }
  bool KeysBefore(const KeyCell* a, const PathKey& pa, std::uint32_t x, const KeyCell* b,
                  const PathKey& pb, std::uint32_t y) const {
    for (std::size_t k = 0; k < nkeys; ++k) {
      const int c = CompareKey(a[k], b[k]);
      if (c != 0) return descending[k] ? c > 0 : c < 0;
    }
    return PathBefore(pa, pb, x, y);
  }

  // Every row's keys copied into `cells` and `paths`, GUIDs beside them.
  void CopyKeys() {
    cells = std::make_unique_for_overwrite<KeyCell[]>(pending.size() * nkeys);
    paths.assign(pending.size(), PathKey{});
    constexpr std::size_t kAhead = 8;  // rows prefetched ahead of the one read
    for (std::size_t r = 0; r < pending.size(); ++r) {
      if (r + kAhead < pending.size()) {
        const Pending& next = pending[r + kAhead];
        if (const auto& cache = sources[next.source].cache) cache->Prefetch(next.index);
      }
      const Pending& p = pending[r];
      const Source& src = sources[p.source];
      KeyCell* k = cells.get() + r * nkeys;
      for (std::size_t i = 0; i < nkeys; ++i) {
        if (src.cache) {
          CacheKey(src, keySlot[i], p, k[i], &guids);
        } else {
          k[i] = SqlKey(sqlValues, src.ValueAt(sqlValues, p.index, keySlot[i]),
                        src.KindOf(keySlot[i]));
        }
      }
      paths[r] = PathOf(static_cast<std::uint32_t>(r));
    }
    lazyKeys = false;
  }

  // Row x's keys, read where the row keeps them or from the copies.
  void KeysOf(std::uint32_t x, KeyCell* k, PathKey& path) const {
    for (std::size_t i = 0; i < nkeys; ++i) k[i] = KeyOf(x, i);
    path = PathAt(x);
  }
  // Row x's path, read where the row keeps it or from the copies.
  PathKey PathAt(std::uint32_t x) const { return lazyKeys ? PathOf(x) : paths[x]; }

  // Whether row x comes before kept row s. Row x's keys are read into `k` and `path` as far
  // as they decide it: `read` of them, and the path as one more when all keys tie. Most
  // matches of a large word lose to the last row kept on their first or second key.
  bool ReadBefore(std::uint32_t x, std::uint32_t s, KeyCell* k, std::size_t& read,
                  PathKey& path) const {
    const KeyCell* b = keptCells_.data() + std::size_t{s} * nkeys;
    for (read = 0; read < nkeys;) {
      k[read] = KeyOf(x, read);
      const int c = CompareKey(k[read], b[read]);
      const bool down = descending[read];
      ++read;
      if (c != 0) return down ? c > 0 : c < 0;
    }
    path = PathAt(x);
    ++read;
    return PathBefore(path, keptPaths_[s], x, keptRow_[s]);
  }

  // The path, by byte; rows of one snapshot know their order already.
  static bool PathBefore(const PathKey& pa, const PathKey& pb, std::uint32_t x, std::uint32_t y) {
    if (pa.snapshot && pa.snapshot == pb.snapshot) {
      if (pa.order != pb.order) return pa.order < pb.order;
      return x < y;
    }
    const int c = pa.Text().compare(pb.Text());
    return c != 0 ? c < 0 : x < y;
  }

  // The first rows in order are picked in one pass: a heap bounded to kHeapRows keeps the
  // best rows seen so far, with their keys, and each row it turns away, or drops, comes after
  // all it keeps; a row's keys are read once, to be held against the last row kept. The rest
  // are sorted only for a reader that goes on past those rows (scoring many visited rows, a
  // list scrolled far).
  void Build() {
    const std::size_t n = pending.size();
    const std::size_t k = std::min(n, kHeapRows);
    keptCells_.resize(k * nkeys);
    keptPaths_.resize(k);
    keptRow_.resize(k);
    std::vector<std::uint32_t> kept(k);
    for (std::uint32_t s = 0; s < k; ++s) {
      keptRow_[s] = s;
      KeysOf(s, keptCells_.data() + s * nkeys, keptPaths_[s]);
      kept[s] = s;
    }
    std::make_heap(kept.begin(), kept.end(), KeptOrder{this});  // the last kept on top
    // Each row after the first k turns one row away, itself or a kept one: n - k in all.
    rest_.resize(n - k);
    std::uint32_t* away = rest_.data();
    std::vector<KeyCell> keys(nkeys);
    PathKey path;
    const std::vector<int> lacking = FirstKeyColumns();
    for (auto i = static_cast<std::uint32_t>(k); i < n; ++i) {
      if (!lacking.empty() && LosesOnRank(i, lacking, kept.front())) {
        *away++ = i;
        continue;
      }
      std::size_t read = 0;
      if (!ReadBefore(i, kept.front(), keys.data(), read, path)) {
        *away++ = i;
        continue;
      }
      if (read <= nkeys) {
        for (; read < nkeys; ++read) keys[read] = KeyOf(i, read);
        path = PathAt(i);
      }
      // Row i takes the place of the last kept row, and sinks to where it belongs.
      const std::uint32_t s = kept.front();
      *away++ = keptRow_[s];
      keptRow_[s] = i;
      std::copy(keys.begin(), keys.end(), keptCells_.begin() + s * nkeys);
      keptPaths_[s] = path;
      SinkTop(kept);
    }
    std::sort_heap(kept.begin(), kept.end(), KeptOrder{this});
    first_.resize(k);
    for (std::size_t s = 0; s < k; ++s) first_[s] = keptRow_[kept[s]];
    next_ = 0;
  }

  // Where the first key is a cache column and the second the rank, most matches of a large
  // word lack the first key (it is a visit's date, say) as the last kept row does, and lose
  // to it on the rank. Per source: the cache column of the first key (-1: none, so every row
  // lacks it), or kNotQuick where a row needs the general reading; empty when no source is
  // quick.
  static constexpr int kNotQuick = -2;
  std::vector<int> FirstKeyColumns() const {
    std::vector<int> columns(sources.size(), kNotQuick);
    if (!lazyKeys || nkeys < 2) return {};
    bool any = false;
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Source& src = sources[i];
      if (!src.cache || keySlot[0] == src.rankSlot || keySlot[1] != src.rankSlot) continue;
      columns[i] = src.slotColumn[keySlot[0]];
      any = true;
    }
    if (!any) columns.clear();
    return columns;
  }
  // Whether row x comes after kept row s on the quick reading: both lack the first key, and
  // x's rank comes after s's. False says only that the general reading must decide.
  bool LosesOnRank(std::uint32_t x, const std::vector<int>& lacking, std::uint32_t s) const {
    const KeyCell* top = keptCells_.data() + std::size_t{s} * nkeys;
    if (top[0].kind != KeyCell::Kind::Null || top[1].kind != KeyCell::Kind::Int) return false;
    const Pending& p = pending[x];
    const int column = lacking[p.source];
    if (column == kNotQuick || (column >= 0 && sources[p.source].cache->Has(column, p.index))) {
      return false;
    }
    const auto rank = static_cast<std::int64_t>(top[1].value);
    return descending[1] ? p.rank < rank : p.rank > rank;
  }

  // The top of the heap of kept rows, changed, moved down to where it belongs: one pass
  // where popping the heap and pushing onto it take two.
  void SinkTop(std::vector<std::uint32_t>& kept) const {
    const KeptOrder before{this};  // the row that comes later sits nearer the top
    const std::size_t n = kept.size();
    const std::uint32_t top = kept[0];
    std::size_t at = 0;
    for (;;) {
      std::size_t child = 2 * at + 1;
      if (child >= n) break;
      if (child + 1 < n && before(kept[child], kept[child + 1])) ++child;
      if (!before(top, kept[child])) break;
      kept[at] = kept[child];
      at = child;
    }
    kept[at] = top;
  }

  void Next(ResultSet& out) override {
    if (next_ == first_.size()) {
      if (lazyKeys) CopyKeys();
      std::sort(rest_.begin(), rest_.end(), InOrder{this});
      first_ = std::move(rest_);
      rest_ = {};
      next_ = 0;
    }
    const std::uint32_t at = first_[next_++];
    const Pending& p = pending[at];
    if (sources[p.source].cache) {
      out.AddCached(lazySource[p.source], p.index, p.rank);
      return;
    }
    // A SQL row becomes a whole row only now, from the values of the slots it kept.
    const Source& src = sources[p.source];
    Row row(columnSlot.size());
    for (std::size_t c = 0; c < columnSlot.size(); ++c) {
      const std::size_t slot = columnSlot[c];
      if (src.storedAt[slot] < 0) continue;
      CellValue(sqlValues, src.ValueAt(sqlValues, p.index, slot), src.KindOf(slot), row[c]);
    }
    out.AddWhole(std::move(row));
  }

 private:
  struct InOrder {
    const RowHeap* heap;
    bool operator()(std::uint32_t x, std::uint32_t y) const { return heap->Before(x, y); }
  };
  // Kept rows by their place in keptRow_.
  struct KeptOrder {
    const RowHeap* heap;
    bool operator()(std::uint32_t a, std::uint32_t b) const {
      const std::size_t n = heap->nkeys;
      return heap->KeysBefore(heap->keptCells_.data() + a * n, heap->keptPaths_[a],
                              heap->keptRow_[a], heap->keptCells_.data() + b * n,
                              heap->keptPaths_[b], heap->keptRow_[b]);
    }
  };
  static constexpr std::size_t kHeapRows = 256;
  std::vector<KeyCell> keptCells_;  // the kept rows' keys, nkeys each
  std::vector<PathKey> keptPaths_;
  std::vector<std::uint32_t> keptRow_;
  std::vector<std::uint32_t> first_;  // in order from next_ on
  std::vector<std::uint32_t> rest_;   // all after first_, unordered
  std::size_t next_ = 0;
};

bool ParseQueryDate(std::string_view text, double& out) {
  std::string s(text);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(0, 1);
  for (std::size_t i = 0; i < s.size() && i < 10; ++i) {
    if (s[i] == '/') s[i] = '-';
  }
  if (s.size() > 10 && s[10] == ' ') s[10] = 'T';
  const auto d = ParseIsoDate(s);
  if (!d) return false;
  out = *d;
  return true;
}

HRESULT QueryExecutor::Catalog(const std::string& name, OpenCatalog*& out) {
  const std::string key = AsciiLower(name);
  auto it = catalogs_.find(key);
  auto inodeOf = [](const std::filesystem::path& f) -> std::uint64_t {
    struct stat st {};
    return stat(f.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  std::filesystem::path location;
  HRESULT hr = admin_.GetLocation(name, location);
  if (Failed(hr)) return hr;
  auto schemaOf = [](CatalogDb& db) {
    std::int64_t v = -1;
    return Succeeded(db.db().QueryInt("PRAGMA schema_version", v)) ? v : -1;
  };
  if (it != catalogs_.end() && it->second.db &&
      (CatalogDb::DatabasePath(location) != it->second.file ||
       inodeOf(it->second.file) != it->second.inode ||
       schemaOf(*it->second.db) != it->second.schema)) {
    catalogs_.erase(it);
    it = catalogs_.end();
  }
  if (it == catalogs_.end() || !it->second.db) {
    OpenCatalog c;
    c.file = CatalogDb::DatabasePath(location);
    c.inode = inodeOf(c.file);
    hr = CatalogDb::OpenForQuery(location, c.db);
    if (Failed(hr) && hr != STG_E_FILENOTFOUND) return hr;
    if (c.db) c.schema = schemaOf(*c.db);
    it = catalogs_.insert_or_assign(key, std::move(c)).first;
  } else if (!it->second.readOften) {
    // A second query: this process goes on searching the catalog.
    hr = it->second.db->ReadOften();
    if (Failed(hr)) return hr;
    it->second.readOften = true;
  }
  out = &it->second;
  return S_OK;
}

QueryExecutor::QueryExecutor(const CatalogAdmin& admin)
    : admin_(admin), scratch_(std::make_unique<QueryScratch>()) {}

QueryExecutor::~QueryExecutor() = default;

HRESULT QueryExecutor::LoadWantedCaches(std::size_t& loaded) {
  loaded = 0;
  auto loadOne = [&loaded](OpenCatalog& cat) {
    Database& db = cat.db->db();
    ReadTransaction tx(db);
    if (Failed(tx.status())) return tx.status();
    std::int64_t version = 0;
    HRESULT hr = PropertyCache::DataVersion(db, version);
    if (Failed(hr)) return hr;
    // Changed since the query and since the last look: the indexer may be busy, and a load
    // now could be stale by the next query. The catalog is looked at again next time.
    if (version != cat.cacheVersion && version != cat.lookVersion) {
      cat.lookVersion = version;
      return S_OK;
    }
    cat.cacheWanted = false;
    if (cat.cache && cat.cache->Current(version, cat.db->columns().size())) return S_OK;
    hr = LoadCache(db, cat.db->columns(), version, cat.cache, cat.likeMemo);
    if (hr == E_NOTIMPL) return S_OK;  // more cached properties than a cache holds
    if (Failed(hr)) return hr;
    ++loaded;
    ChangeStamp stamp;
    hr = ReadChangeStamp(db, stamp);
    if (hr == S_OK) cat.snapshotOwed = {stamp, cat.cache};
    return Failed(hr) ? hr : S_OK;
  };
  // Written once the read transaction has ended, so that the catalog's log can be folded
  // back meanwhile; and only while the file at the catalog's place is the one read.
  auto saveOne = [](OpenCatalog& cat) {
    OwedSnapshot owed = std::move(*cat.snapshotOwed);
    cat.snapshotOwed.reset();
    struct stat st {};
    if (::stat(cat.file.c_str(), &st) != 0 || st.st_ino != cat.inode) return S_OK;
    owed.stamp.file = cat.inode;
    CompleteMemo(*owed.cache, cat.likeMemo);
    const HRESULT hr =
        owed.cache->Save(cat.file.parent_path() / snapshot::kFileName, owed.stamp, &cat.likeMemo);
    if (Failed(hr)) return hr;
    cat.likesKept = cat.likeMemo.snapshot == owed.cache.get() ? KeptResults(cat.likeMemo) : 0;
    cat.snapshotKept = std::move(owed);
    return S_OK;
  };
  // A catalog that fails is left to its next query, which reports it; the others go on.
  HRESULT first = S_OK;
  for (auto& [name, cat] : catalogs_) {
    if (!cat.db) continue;
    HRESULT hr = S_OK;
    if (cat.cacheWanted) {
      hr = loadOne(cat);
      if (Failed(hr)) cat.cacheWanted = false;
    }
    // Searches on the kept snapshot matched patterns it lacks: kept again, with them.
    if (!cat.snapshotOwed && cat.snapshotKept && cat.snapshotKept->cache == cat.cache &&
        cat.likeMemo.snapshot == cat.cache.get() && KeptResults(cat.likeMemo) > cat.likesKept) {
      cat.snapshotOwed = cat.snapshotKept;
    }
    if (Succeeded(hr) && cat.snapshotOwed) hr = saveOne(cat);
    if (Failed(hr) && Succeeded(first)) first = hr;
  }
  return first;
}

HRESULT QueryExecutor::Execute(std::string_view text, const QueryOptions& options,
                               ResultSet& out, std::string& error) {
  out = ResultSet{};
  ParsedQuery q;
  HRESULT hr = ParseQueryText(text, q, error);
  if (Failed(hr)) return hr;

  // Column names and types do not depend on the catalog; check them once.
  {
    Compiler probe(q, nullptr);
    for (const auto& c : q.columns) {
      ColumnInfo info;
      if (!probe.Resolve(c, info, error)) return DB_E_ERRORSINCOMMAND;
      out.columns.push_back(c);
      out.types.push_back(info.kind);
    }
    for (const auto& k : q.order) {
      ColumnInfo info;
      if (!probe.Resolve(k.column, info, error)) return DB_E_ERRORSINCOMMAND;
    }
  }

  // Every table's rows hold the same slots: the distinct columns that the select list, the
  // order keys and the path tie-break read. A row read by SQL holds them as values; a row of
  // the property cache stays a cache row (and its rank) until the rows are sorted, and then
  // only the answer's columns of the rows kept are read.
  std::vector<Source> sources;
  std::vector<Pending> pending;
  SqlValues sqlValues;
  std::vector<std::size_t> columnSlot, keySlot;
  std::size_t pathSlot = 0;
  for (const auto& table : q.tables) {
    OpenCatalog* cat = nullptr;
    const std::string name = table.catalog.empty() ? options.defaultCatalog : table.catalog;
    if (!IsPlainCatalogName(name)) {
      error = "'" + name + "' is not a catalog name";
      return DB_E_ERRORSINCOMMAND;
    }
    hr = Catalog(name, cat);
    if (Failed(hr)) {
      error = "catalog '" + name + "' cannot be opened";
      return hr;
    }
    Compiler comp(q, cat->db.get());
    hr = comp.ChooseRanked(q.where.get());
    if (Failed(hr)) return hr;
    std::vector<Param> params;
    std::vector<std::string> slotNames;  // lower-case column names, in slot order
    std::vector<ColumnInfo> slots;
    auto slotOf = [&](const std::string& column) {
      const std::string n = AsciiLower(column);
      const auto at = std::find(slotNames.begin(), slotNames.end(), n);
      if (at != slotNames.end()) return static_cast<std::size_t>(at - slotNames.begin());
      ColumnInfo info;
      comp.Resolve(column, info, error);
      slotNames.push_back(n);
      slots.push_back(std::move(info));
      return slots.size() - 1;
    };
    columnSlot.clear();
    keySlot.clear();
    for (const auto& c : q.columns) columnSlot.push_back(slotOf(c));
    for (const auto& k : q.order) keySlot.push_back(slotOf(k.column));
    pathSlot = slotOf("path");
    // A LIKE on a text column that every row must meet is checked on the row, read anyway:
    // calling into SQLite's LIKE for every row costs more than reading the row.
    struct RowLike {
      std::size_t slot;
      const Condition* condition;
      LikePattern pattern;
    };
    std::vector<RowLike> rowLikes;
    std::vector<const Condition*> sqlConditions, conjuncts;
    Conjuncts(q.where.get(), conjuncts);
    for (const Condition* c : conjuncts) {
      ColumnInfo info;
      // Not with a row limit: the catalog's LIMIT must see every condition.
      if (!options.maxRows && c->kind == Condition::Kind::Like &&
          comp.Resolve(c->column, info, error) &&
          info.kind == ValueKind::Str && c->literal.text.size() <= kMaxLikePattern) {
        rowLikes.push_back({slotOf(c->column), c, LikePattern(c->literal.text)});
      } else {
        sqlConditions.push_back(c);
      }
    }
    // The rank is worked out here from the raw score, so BM25 runs once per row.
    const auto rankAt = std::find(slotNames.begin(), slotNames.end(), "rank");
    const std::size_t rankSlot =
        comp.ranked() && rankAt != slotNames.end() ? rankAt - slotNames.begin() : slots.size();
    // Slots only unread answer columns fill are selected as NULL, which SQLite does not read.
    std::vector<bool> unread(slots.size(), false);
    for (std::size_t c = 0; c < columnSlot.size() && c < 64; ++c) {
      if (options.unreadColumns >> c & 1) unread[columnSlot[c]] = true;
    }
    for (std::size_t c = 0; c < columnSlot.size(); ++c) {
      if (c >= 64 || !(options.unreadColumns >> c & 1)) unread[columnSlot[c]] = false;
    }
    for (std::size_t k : keySlot) unread[k] = false;
    unread[pathSlot] = false;
    for (const RowLike& like : rowLikes) unread[like.slot] = false;
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < slots.size(); ++i) {
      sql += (i ? ", " : "") + (i == rankSlot ? std::string("r.b")
                                : unread[i]    ? std::string("NULL")
                                               : slots[i].expr);
    }
    std::vector<Param> whereParams;
    std::string where = " WHERE d.state <> 0 AND " + ScopeSql(table, whereParams);
    for (const Condition* c : sqlConditions) {
      std::string one;
      hr = comp.Where(*c, one, whereParams, error);
      if (Failed(hr)) return hr;
      where += " AND " + one;
    }
    // The rank comes from SQLite's bm25() where the SQL itself sorts or filters by it;
    // elsewhere from the hits qv_phrase_hits counts and each row's length, read here, which
    // spares bm25() its statement per row. Then r.b is the row's id.
    bool ownRank = comp.ranked() && cat->db && !options.maxRows &&
                   std::none_of(sqlConditions.begin(), sqlConditions.end(), NamesRank);
    if (ownRank && !cat->phraseHits) {
      cat->phraseHits = Succeeded(RegisterPhraseHits(cat->db->db().handle()));
      ownRank = cat->phraseHits;
    }
    if (ownRank && !cat->wordRows) {
      cat->wordRows = Succeeded(RegisterWordRows(cat->db->db().handle()));
    }
    int hitsParam = 0;
    // With its own rank, a one-word query may read its rows from the index's pages and join
    // them as a table, with each row's length from the full-text index's table of them
    // after the answer's columns. Which of the two forms runs is known only once the word
    // is read, below.
    std::string sqlOfWords;
    if (ownRank && cat->wordRows) {
      sqlOfWords = sql + ", z.sz FROM docs d JOIN (SELECT rid, hits AS b FROM qv_word_rows(?)) r"
                         " ON r.rid = d.id LEFT JOIN fts_docsize z ON z.id = r.rid";
    }
    sql += " FROM docs d";
    if (comp.ranked()) {
      sql += std::string(" JOIN (SELECT rowid AS rid, ") +
             (ownRank ? "qv_phrase_hits(fts, ?)" : "bm25(fts)") +
             " AS b FROM fts WHERE fts MATCH ?) r ON r.rid = d.id";
      if (ownRank) {
        params.emplace_back(std::int64_t{0});  // bound to the hit counts (or the rows) below
        hitsParam = static_cast<int>(params.size());
      }
      params.emplace_back(comp.rankedMatch());
    }
    const std::size_t matchParams = params.size();
    params.insert(params.end(), whereParams.begin(), whereParams.end());
    sql += where;
    if (!sqlOfWords.empty()) sqlOfWords += where;
    // With a row limit the catalog keeps only its best rows; without one, every row comes
    // and the sort below is the only one (sorting in SQLite costs more than the query).
    if (options.maxRows) {
      sql += " ORDER BY ";
      for (std::size_t i = 0; i < q.order.size(); ++i) {
        const ColumnInfo& info = slots[keySlot[i]];
        // NULL sorts below every value, which is SQLite's own rule.
        sql += info.expr + (info.kind == ValueKind::Str ? " COLLATE NOCASE" : "") +
               (q.order[i].descending ? " DESC, " : " ASC, ");
      }
      sql += "d.path ASC";
    }
    if (options.maxRows) sql += " LIMIT " + std::to_string(options.maxRows);
    if (!cat->db) continue;  // registered, but nothing indexed yet
    const auto source = static_cast<std::uint32_t>(sources.size());
    Source& src = sources.emplace_back();
    src.slots = slots;
    src.rankSlot = rankSlot;
    if (options.propertyCache) {
      const std::size_t rankColumn = rankAt != slotNames.end()
                                         ? static_cast<std::size_t>(rankAt - slotNames.begin())
                                         : slots.size();
      bool done = false;
      std::vector<CacheHit>& hits = scratch_->hits;
      hits.clear();
      hr = RunOnCache({cat->db->db(), *scratch_, cat->db->columns(), cat->cache, cat->cacheVersion,
                       cat->cacheWanted, cat->snapshotOwed, cat->snapshotKept, cat->likesKept,
                       cat->file.parent_path() / snapshot::kFileName, cat->inode,
                       cat->likeMemo, cat->phraseHits, cat->statements, cat->words},
                      comp, q, table, slots, rankColumn, keySlot, options.maxRows,
                      src.slotColumn, hits, done, error);
      if (Failed(hr)) return hr;
      if (done) {
        ++cachedTables_;
        src.cache = cat->cache;
        src.rankSlot = rankColumn;
        const std::size_t from = pending.size();
        pending.resize(from + hits.size());
        for (std::size_t i = 0; i < hits.size(); ++i) {
          pending[from + i] = {source, hits[i].row, hits[i].rank};
        }
        continue;
      }
    }

    // The word's rows and the statement that joins them see one snapshot of the catalog.
    std::optional<ReadTransaction> tx;
    WordRows words;
    PhraseHits phrases;
    if (!sqlOfWords.empty()) {
      tx.emplace(cat->db->db());
      if (Failed(tx->status())) return tx->status();
      if (!cat->words) cat->words = std::make_unique<FtsWordReader>(cat->db->db().handle());
      std::int64_t tableRows = 0, tableTokens = 0;
      hr = cat->words->Read(comp.rankedMatch(), words.rows, tableRows, tableTokens);
      if (Failed(hr)) {
        error = kWordsDamaged;
        return hr;
      }
      if (hr == S_OK) {
        phrases = OnePhraseHits(tableRows, tableTokens,
                                static_cast<std::int64_t>(words.rows.size()));
        sql = std::move(sqlOfWords);
        params.erase(params.begin() + static_cast<std::ptrdiff_t>(matchParams) - 1);
      } else {
        tx.reset();
      }
    }
    const bool fromWords = tx.has_value();
    Statement* prepared = nullptr;
    hr = Prepared(cat->db->db(), cat->statements, sql, prepared, error);
    if (Failed(hr)) return hr;
    Statement& s = *prepared;
    for (std::size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      std::visit([&](const auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>) {
          s.Bind(at, std::string_view(v));
        } else {
          s.Bind(at, v);
        }
      }, params[i]);
    }
    if (fromWords) {
      sqlite3_bind_pointer(s.get(), hitsParam, &words, kWordRowsPointer, nullptr);
    } else if (hitsParam) {
      sqlite3_bind_pointer(s.get(), hitsParam, &phrases, kPhraseHitsPointer, nullptr);
    }
    DocsizeReader sizes(cat->db->db().handle());
    src.storedAt.assign(slots.size(), -1);
    src.stored = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (!unread[i] || i == rankSlot) src.storedAt[i] = static_cast<int>(src.stored++);
    }
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
      std::uint32_t base = 0;
      if (!sqlValues.BeginRow(src.stored, base)) return E_OUTOFMEMORY;
      pending.push_back({source, base, 0});
      for (std::size_t i = 0; i < slots.size(); ++i) {
        if (src.storedAt[i] < 0) continue;
        const auto at = static_cast<std::size_t>(src.storedAt[i]);
        if (i == rankSlot) {
          double bm25 = s.Real(static_cast<int>(i));
          if (hitsParam) {
            std::int64_t tokens = 0;
            int sizeRc = SQLITE_OK;
            if (fromWords) {
              // r.b is the row's hits; its length follows the answer's columns.
              phrases.freq[0] = bm25;
              const int z = static_cast<int>(slots.size());
              if (s.Type(z) == SQLITE_BLOB) {
                const auto* size =
                    static_cast<const std::uint8_t*>(sqlite3_column_blob(s.get(), z));
                tokens = DocsizeTokens(
                    {size, static_cast<std::size_t>(sqlite3_column_bytes(s.get(), z))});
              } else {
                sizeRc = SQLITE_CORRUPT;  // a row the table of lengths lacks
              }
            } else {
              // r.b is the row's id; qv_phrase_hits has counted its hits.
              sizeRc = sizes.Tokens(s.Int(static_cast<int>(i)), tokens);
            }
            if (sizeRc != SQLITE_OK) {
              error = "the full-text index of catalog '" + name + "' is damaged (" +
                      (fromWords ? std::string("a row's length is missing")
                                 : cat->db->db().LastError()) +
                      "); rebuild the catalog";
              s.Reset();
              return HresultFromSqlite(sizeRc);
            }
            bm25 = -Bm25Score(phrases, tokens);
          }
          sqlValues.SetInt(at, RankOfScore(bm25));
        } else if (!ReadSqlCell(s, static_cast<int>(i), slots[i].kind, sqlValues, at)) {
          return E_OUTOFMEMORY;
        }
      }
      for (const RowLike& like : rowLikes) {
        // A missing value meets neither LIKE nor NOT LIKE.
        const std::size_t at = src.ValueAt(sqlValues, base, like.slot);
        if (sqlValues.IsNull(at) ||
            like.pattern.Matches(sqlValues.Text(at)) == like.condition->negated) {
          sqlValues.DropRow();
          pending.pop_back();
          break;
        }
      }
    }
    s.Reset();
    if (rc != SQLITE_DONE) return FtsError(cat->db->db(), rc, error);
  }

  // The rows go into a heap by their keys; the path breaks ties. Rows come out of it as
  // they are asked for.
  auto heap = std::make_unique<RowHeap>();
  RowHeap& h = *heap;
  const std::size_t nkeys = keySlot.size();
  h.nkeys = nkeys;
  for (const auto& k : q.order) h.descending.push_back(k.descending);
  h.keySlot = keySlot;
  h.pathSlot = pathSlot;
  h.sources = std::move(sources);
  h.pending = std::move(pending);
  h.sqlValues = std::move(sqlValues);  // moving the store keeps every value where it is
  h.placesByText = h.sources.size() > 1 &&
                   std::any_of(h.sources.begin(), h.sources.end(), [](const Source& src) {
                     return src.cache && !src.cache->placesArePathOrder();
                   });
  h.lazyKeys = std::none_of(h.sources.begin(), h.sources.end(), [&](const Source& src) {
    return src.cache && std::any_of(keySlot.begin(), keySlot.end(), [&](std::size_t slot) {
             return slot != src.rankSlot && src.slots[slot].kind == ValueKind::Guid;
           });
  });
  if (!h.lazyKeys) h.CopyKeys();

  // A cache row stays in its cache until it is asked for.
  h.lazySource.assign(h.sources.size(), ResultSet::kWhole);
  for (std::size_t i = 0; i < h.sources.size(); ++i) {
    const Source& src = h.sources[i];
    if (!src.cache) continue;
    h.lazySource[i] = static_cast<std::uint32_t>(out.sources_.size());
    ResultSet::Source& lazy = out.sources_.emplace_back();
    lazy.cache = src.cache;
    for (std::size_t slot : columnSlot) {
      lazy.cells.push_back(slot == src.rankSlot ? kRankCell : src.slotColumn[slot]);
      lazy.kinds.push_back(src.slots[slot].kind);
    }
  }
  h.columnSlot = columnSlot;
  // Without order keys the rows still come in path order, so that a row limit keeps the
  // same rows however the catalog was read.
  out.count_ = options.maxRows ? std::min(options.maxRows, h.pending.size()) : h.pending.size();
  h.Build();
  out.pending_.reserve(std::min<std::size_t>(out.count_, 64));
  if (out.count_ > 0) out.rest_ = std::move(heap);
  return S_OK;
}

}  // namespace qv::platform::indexing
