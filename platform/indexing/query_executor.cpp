#include "platform/indexing/query_executor.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <variant>

#include "common/oledate.h"
#include "common/utf.h"
#include "platform/indexing/like_pattern.h"

namespace qv::platform::indexing {
namespace {

using Param = std::variant<std::int64_t, double, std::string>;

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
    i = neg ? -static_cast<std::int64_t>(u) : static_cast<std::int64_t>(u);
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

bool Expressible(const ContentNode& n) {
  switch (n.kind) {
    case ContentNode::Kind::Term: return true;
    case ContentNode::Kind::Not: return false;
    case ContentNode::Kind::Or: return Expressible(*n.left) && Expressible(*n.right);
    case ContentNode::Kind::And: {
      auto side = [](const ContentNode& x) {
        return x.kind == ContentNode::Kind::Not ? Expressible(*x.left) : Expressible(x);
      };
      const bool ln = n.left->kind == ContentNode::Kind::Not;
      const bool rn = n.right->kind == ContentNode::Kind::Not;
      return !(ln && rn) && side(*n.left) && side(*n.right);
    }
  }
  return false;
}

// FTS5 text of an expressible node: its NOT is binary ("a NOT b").
std::string FtsText(const ContentNode& n) {
  switch (n.kind) {
    case ContentNode::Kind::Term: return FtsQuote(n.text) + (n.prefix ? "*" : "");
    case ContentNode::Kind::Or: return "(" + FtsText(*n.left) + " OR " + FtsText(*n.right) + ")";
    case ContentNode::Kind::And:
      if (n.right->kind == ContentNode::Kind::Not) {
        return "(" + FtsText(*n.left) + " NOT " + FtsText(*n.right->left) + ")";
      }
      if (n.left->kind == ContentNode::Kind::Not) {
        return "(" + FtsText(*n.right) + " NOT " + FtsText(*n.left->left) + ")";
      }
      return "(" + FtsText(*n.left) + " AND " + FtsText(*n.right) + ")";
    case ContentNode::Kind::Not: break;
  }
  return "\"\"";
}

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
        std::string a, b;
        HRESULT hr = Where(*c.left, a, params, error);
        if (Failed(hr)) return hr;
        hr = Where(*c.right, b, params, error);
        if (Failed(hr)) return hr;
        sql = "(" + a + (c.kind == Condition::Kind::And ? " AND " : " OR ") + b + ")";
        return S_OK;
      }
      case Condition::Kind::Not: {
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
  static std::string ColumnFilter(const std::string& column, std::string text) {
    if (EqualsNoCase(column, "ALL")) return text;
    if (EqualsNoCase(column, "CONTENTS")) return "contents : " + text;
    return "props : " + text;
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

  std::string ContentSql(const ContentNode& n, const std::string& column,
                         std::vector<Param>& params) const {
    if (Expressible(n)) {
      params.emplace_back(ColumnFilter(column, FtsText(n)));
      return "d.id IN (SELECT rowid FROM fts WHERE fts MATCH ?)";
    }
    switch (n.kind) {
      case ContentNode::Kind::Not: return "(NOT " + ContentSql(*n.left, column, params) + ")";
      case ContentNode::Kind::And:
      case ContentNode::Kind::Or: {
        std::string a = ContentSql(*n.left, column, params);
        std::string b = ContentSql(*n.right, column, params);
        return "(" + a + (n.kind == ContentNode::Kind::And ? " AND " : " OR ") + b + ")";
      }
      case ContentNode::Kind::Term: break;
    }
    return "0";
  }

  HRESULT Compare(const Condition& c, std::string& sql, std::vector<Param>& params,
                  std::string& error) const {
    ColumnInfo col;
    if (!Resolve(c.column, col, error)) return DB_E_ERRORSINCOMMAND;
    std::string collate;
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
          params.emplace_back(d);
        } else {
          params.emplace_back(i);
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
        params.emplace_back(d);
        break;
      case ValueKind::Str:
        params.emplace_back(c.literal.text);
        collate = " COLLATE NOCASE";
        break;
      case ValueKind::Guid: {
        Guid g;
        // A text that is no GUID matches no GUID.
        params.emplace_back(ParseLooseGuid(c.literal.text, g) ? FormatGuid(g) : std::string("-"));
        collate = " COLLATE NOCASE";
        break;
      }
    }
    sql = "COALESCE((" + col.expr + ") " + c.op + " ?" + collate + ", 0)";
    return S_OK;
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

// SQLite refuses longer LIKE patterns; such a condition stays in SQL to fail as it does.
constexpr std::size_t kMaxLikePattern = 50000;

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

}  // namespace

std::string Value::ToString() const {
  switch (kind) {
    case ValueKind::Null: return "NULL";
    case ValueKind::I4:
    case ValueKind::UI4:
    case ValueKind::I8: return std::to_string(i);
    case ValueKind::Date: return FormatIsoDate(d);
    case ValueKind::Str: return s;
    case ValueKind::Guid: return FormatGuid(g);
  }
  return {};
}

int CompareValues(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  switch (a.kind) {
    case ValueKind::I4:
    case ValueKind::UI4:
    case ValueKind::I8: return a.i < b.i ? -1 : a.i > b.i;
    case ValueKind::Date: return a.d < b.d ? -1 : a.d > b.d;
    case ValueKind::Str: {
      // ASCII letters without case, the rest by byte, as SQLite's NOCASE.
      const std::size_t n = std::min(a.s.size(), b.s.size());
      for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(AsciiLowerChar(a.s[i]));
        const auto y = static_cast<unsigned char>(AsciiLowerChar(b.s[i]));
        if (x != y) return x < y ? -1 : 1;
      }
      return a.s.size() < b.s.size() ? -1 : a.s.size() > b.s.size();
    }
    case ValueKind::Guid: return a.g < b.g ? -1 : (b.g < a.g ? 1 : 0);
    case ValueKind::Null: return 0;
  }
  return 0;
}

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
  if (it != catalogs_.end() && it->second.db && inodeOf(it->second.file) != it->second.inode) {
    catalogs_.erase(it);
    it = catalogs_.end();
  }
  if (it == catalogs_.end() || !it->second.db) {
    std::filesystem::path location;
    HRESULT hr = admin_.GetLocation(name, location);
    if (Failed(hr)) return hr;
    OpenCatalog c;
    c.file = CatalogDb::DatabasePath(location);
    c.inode = inodeOf(c.file);
    hr = CatalogDb::OpenForQuery(location, c.db);
    if (Failed(hr) && hr != STG_E_FILENOTFOUND) return hr;
    it = catalogs_.insert_or_assign(key, std::move(c)).first;
  }
  out = &it->second;
  return S_OK;
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
  // order keys and the path tie-break read, each read once per row.
  std::vector<std::vector<Value>> rows;
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
        rowLikes.push_back({slotOf(c->column), c});
      } else {
        sqlConditions.push_back(c);
      }
    }
    // The rank is worked out here from the raw score, so BM25 runs once per row.
    const auto rankAt = std::find(slotNames.begin(), slotNames.end(), "rank");
    const std::size_t rankSlot =
        comp.ranked() && rankAt != slotNames.end() ? rankAt - slotNames.begin() : slots.size();
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < slots.size(); ++i) {
      sql += (i ? ", " : "") + (i == rankSlot ? std::string("r.b") : slots[i].expr);
    }
    sql += " FROM docs d";
    if (comp.ranked()) {
      sql += " JOIN (SELECT rowid AS rid, bm25(fts) AS b FROM fts WHERE fts MATCH ?) r "
             "ON r.rid = d.id";
      params.emplace_back(comp.rankedMatch());
    }
    sql += " WHERE d.state <> 0 AND " + ScopeSql(table, params);
    for (const Condition* c : sqlConditions) {
      std::string where;
      hr = comp.Where(*c, where, params, error);
      if (Failed(hr)) return hr;
      sql += " AND " + where;
    }
    // With a row limit the catalog keeps only its best rows; without one, every row comes
    // and the sort below is the only one (sorting in SQLite costs more than the query).
    if (options.maxRows && !q.order.empty()) {
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

    auto st = cat->statements.find(sql);
    if (st == cat->statements.end()) {
      if (cat->statements.size() >= kMaxCachedStatements) cat->statements.clear();
      Statement fresh;
      std::string perr;
      hr = cat->db->db().Prepare(sql, fresh, &perr);
      if (Failed(hr)) {
        error = "the catalog cannot run the query: " + perr;
        return hr;
      }
      st = cat->statements.emplace(sql, std::move(fresh)).first;
    }
    Statement& s = st->second;
    s.Reset();
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
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
      std::vector<Value>& row = rows.emplace_back(slots.size());
      for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i == rankSlot) {
          row[i].kind = ValueKind::I4;
          row[i].i = RankOfScore(s.Real(static_cast<int>(i)));
        } else {
          ReadValue(s, static_cast<int>(i), slots[i].kind, row[i]);
        }
      }
      for (const RowLike& like : rowLikes) {
        // A missing value meets neither LIKE nor NOT LIKE.
        const Value& v = row[like.slot];
        if (v.IsNull() ||
            LikeMatches(like.condition->literal.text, v.s) == like.condition->negated) {
          rows.pop_back();
          break;
        }
      }
    }
    s.Reset();
    if (rc != SQLITE_DONE) {
      const int ext = sqlite3_extended_errcode(cat->db->db().handle());
      error = cat->db->db().LastError();
      // A full-text text that FTS5 cannot read is an error in the command.
      return (ext & 0xFF) == SQLITE_ERROR ? DB_E_ERRORSINCOMMAND : HresultFromSqlite(rc);
    }
  }

  // Sort a permutation, not the rows. Numeric and date keys are copied into one flat array
  // first, so comparing two rows touches neither row; text keys compare in the rows.
  const std::size_t nkeys = keySlot.size();
  struct KeyCell {
    bool null = true;
    bool text = false;
    std::int64_t i = 0;
    double d = 0.0;
  };
  std::vector<KeyCell> cells(rows.size() * nkeys);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t k = 0; k < nkeys; ++k) {
      const Value& v = rows[r][keySlot[k]];
      KeyCell& c = cells[r * nkeys + k];
      c.null = v.IsNull();
      c.text = v.kind == ValueKind::Str || v.kind == ValueKind::Guid;
      c.i = v.i;
      c.d = v.kind == ValueKind::Date ? v.d : 0.0;
    }
  }
  std::vector<std::uint32_t> order(rows.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  if (!q.order.empty()) {
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
      const KeyCell* a = &cells[x * nkeys];
      const KeyCell* b = &cells[y * nkeys];
      for (std::size_t k = 0; k < nkeys; ++k) {
        int c;
        if (a[k].null || b[k].null) {
          c = a[k].null == b[k].null ? 0 : (a[k].null ? -1 : 1);
        } else if (a[k].text) {
          c = CompareValues(rows[x][keySlot[k]], rows[y][keySlot[k]]);
        } else if (a[k].d != b[k].d) {
          c = a[k].d < b[k].d ? -1 : 1;
        } else {
          c = a[k].i < b[k].i ? -1 : a[k].i > b[k].i;
        }
        if (c != 0) return q.order[k].descending ? c > 0 : c < 0;
      }
      return rows[x][pathSlot].s < rows[y][pathSlot].s;
    });
  }
  if (options.maxRows && order.size() > options.maxRows) order.resize(options.maxRows);
  out.rows.reserve(order.size());
  // The column slots come first and in column order unless the select list names a column
  // twice; then a row becomes the answer's row by dropping the slots behind them.
  bool identity = true;
  for (std::size_t c = 0; c < columnSlot.size(); ++c) identity = identity && columnSlot[c] == c;
  if (identity) {
    for (std::uint32_t at : order) {
      rows[at].resize(columnSlot.size());
      out.rows.push_back(std::move(rows[at]));
    }
    return S_OK;
  }
  std::vector<int> uses(columnSlot.size(), 0);
  for (std::size_t c : columnSlot) ++uses[c];
  for (std::uint32_t at : order) {
    auto& row = rows[at];
    std::vector<Value>& o = out.rows.emplace_back();
    o.reserve(columnSlot.size());
    for (std::size_t c : columnSlot) {
      if (uses[c] > 1) {
        o.push_back(row[c]);
      } else {
        o.push_back(std::move(row[c]));
      }
    }
  }
  return S_OK;
}

}  // namespace qv::platform::indexing
