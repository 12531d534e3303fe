#include "platform/indexing/query_executor.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <variant>

#include "common/oledate.h"
#include "common/utf.h"

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

Value ReadValue(const Statement& st, int col, ValueKind kind) {
  Value v;
  if (st.IsNull(col)) return v;
  const int type = st.Type(col);
  switch (kind) {
    case ValueKind::I4:
    case ValueKind::UI4:
    case ValueKind::I8:
      if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return v;
      v.kind = kind;
      v.i = st.Int(col);
      if (kind == ValueKind::UI4) v.i = std::clamp<std::int64_t>(v.i, 0, UINT32_MAX);
      if (kind == ValueKind::I4) v.i = std::clamp<std::int64_t>(v.i, INT32_MIN, INT32_MAX);
      return v;
    case ValueKind::Date:
      if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return v;
      v.kind = kind;
      v.d = st.Real(col);
      return v;
    case ValueKind::Str:
      v.kind = kind;
      v.s = st.Text(col);
      return v;
    case ValueKind::Guid: {
      Guid g;
      if (ParseLooseGuid(st.Text(col), g)) {
        v.kind = kind;
        v.g = g;
      }
      return v;
    }
    case ValueKind::Null: return v;
  }
  return v;
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
      const std::string x = AsciiLower(a.s), y = AsciiLower(b.s);
      return x < y ? -1 : x > y;
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

  const std::size_t keys = q.order.size();
  std::vector<std::pair<std::vector<Value>, std::string>> rows;  // values + order keys, path
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
    std::string sql = "SELECT ";
    std::vector<ValueKind> kinds;
    auto addColumn = [&](const std::string& c) {
      ColumnInfo info;
      comp.Resolve(c, info, error);
      sql += (kinds.empty() ? "" : ", ") + info.expr;
      kinds.push_back(info.kind);
    };
    for (const auto& c : q.columns) addColumn(c);
    for (const auto& k : q.order) addColumn(k.column);
    sql += ", d.path FROM docs d";
    if (comp.ranked()) {
      sql += " JOIN (SELECT rowid AS rid, bm25(fts) AS b FROM fts WHERE fts MATCH ?) r "
             "ON r.rid = d.id";
      params.emplace_back(comp.rankedMatch());
    }
    sql += " WHERE d.state <> 0 AND " + ScopeSql(table, params);
    if (q.where) {
      std::string where;
      hr = comp.Where(*q.where, where, params, error);
      if (Failed(hr)) return hr;
      sql += " AND " + where;
    }
    if (!q.order.empty()) {
      sql += " ORDER BY ";
      for (std::size_t i = 0; i < keys; ++i) {
        ColumnInfo info;
        comp.Resolve(q.order[i].column, info, error);
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
      std::vector<Value> row;
      row.reserve(kinds.size());
      for (std::size_t i = 0; i < kinds.size(); ++i) {
        row.push_back(ReadValue(s, static_cast<int>(i), kinds[i]));
      }
      rows.emplace_back(std::move(row), s.Text(static_cast<int>(kinds.size())));
    }
    s.Reset();
    if (rc != SQLITE_DONE) {
      const int ext = sqlite3_extended_errcode(cat->db->db().handle());
      error = cat->db->db().LastError();
      // A full-text text that FTS5 cannot read is an error in the command.
      return (ext & 0xFF) == SQLITE_ERROR ? DB_E_ERRORSINCOMMAND : HresultFromSqlite(rc);
    }
  }

  const std::size_t ncols = q.columns.size();
  if (q.tables.size() > 1 && !q.order.empty()) {
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
      for (std::size_t i = 0; i < keys; ++i) {
        const int c = CompareValues(a.first[ncols + i], b.first[ncols + i]);
        if (c != 0) return q.order[i].descending ? c > 0 : c < 0;
      }
      return a.second < b.second;
    });
  }
  if (options.maxRows && rows.size() > options.maxRows) rows.resize(options.maxRows);
  out.rows.reserve(rows.size());
  for (auto& r : rows) {
    r.first.resize(ncols);
    out.rows.push_back(std::move(r.first));
  }
  return S_OK;
}

}  // namespace qv::platform::indexing
