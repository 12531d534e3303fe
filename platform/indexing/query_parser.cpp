#include "platform/indexing/query_parser.h"

#include <cctype>
#include <charconv>

#include "common/utf.h"
#include "platform/indexing/catalog_keys.h"

namespace qv::platform::indexing {
namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '-' ||
         c == '#';
}
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

struct Token {
  enum class Kind { End, Ident, Number, String, Punct };
  Kind kind = Kind::End;
  std::string text;
  std::size_t pos = 0;
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}

  bool Next(Token& t, std::string& error) {
    while (i_ < s_.size() && IsBlank(s_[i_])) ++i_;
    t = Token{};
    t.pos = i_;
    if (i_ >= s_.size()) return true;
    const char c = s_[i_];
    if (IsIdentStart(c)) {
      const std::size_t start = i_;
      while (i_ < s_.size() && IsIdentChar(s_[i_])) {
        // ".." ends an identifier (catalog..SCOPE), so does a single '-' before a digit? no.
        ++i_;
      }
      t.kind = Token::Kind::Ident;
      t.text = std::string(s_.substr(start, i_ - start));
      return true;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '-' && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1])))) {
      const std::size_t start = i_;
      ++i_;
      while (i_ < s_.size() &&
             (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.')) {
        if (s_[i_] == '.' && i_ + 1 < s_.size() && s_[i_ + 1] == '.') break;
        ++i_;
      }
      t.kind = Token::Kind::Number;
      t.text = std::string(s_.substr(start, i_ - start));
      return true;
    }
    if (c == '\'') {
      ++i_;
      std::string text;
      for (;;) {
        if (i_ >= s_.size()) {
          error = "a string that starts at offset " + std::to_string(t.pos) + " is not closed";
          return false;
        }
        if (s_[i_] == '\'') {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
            text += '\'';
            i_ += 2;
            continue;
          }
          ++i_;
          break;
        }
        text += s_[i_++];
      }
      t.kind = Token::Kind::String;
      t.text = std::move(text);
      return true;
    }
    static constexpr std::string_view kTwo[] = {"..", "!=", "<>", "<=", ">="};
    for (auto two : kTwo) {
      if (s_.substr(i_, 2) == two) {
        t.kind = Token::Kind::Punct;
        t.text = std::string(two == "<>" ? "!=" : two);
        i_ += 2;
        return true;
      }
    }
    if (std::string_view("(),;=<>*").find(c) != std::string_view::npos) {
      t.kind = Token::Kind::Punct;
      t.text = std::string(1, c);
      ++i_;
      return true;
    }
    error = "unexpected character '" + std::string(1, c) + "' at offset " + std::to_string(i_);
    return false;
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

class Parser {
 public:
  Parser(std::string_view text, std::string& error) : lex_(text), error_(error) {}

  HRESULT Run(ParsedQuery& q) {
    if (!Advance()) return Fail();
    while (IsWord("SET")) {
      if (!ParseSet(q)) return Fail();
    }
    if (!ExpectWord("SELECT") || !ParseColumns(q) || !ExpectWord("FROM") || !ParseFrom(q)) {
      return Fail();
    }
    if (IsWord("WHERE")) {
      if (!Advance() || !(q.where = ParseOr(0))) return Fail();
    }
    if (IsWord("ORDER")) {
      if (!Advance() || !ExpectWord("BY") || !ParseOrder(q)) return Fail();
    }
    if (IsPunct(";") && !Advance()) return Fail();
    if (tok_.kind != Token::Kind::End) {
      Error("unexpected '" + tok_.text + "'");
      return Fail();
    }
    return S_OK;
  }

 private:
  HRESULT Fail() {
    if (error_.empty()) error_ = "the query text cannot be read";
    return DB_E_ERRORSINCOMMAND;
  }
  bool Advance() { return lex_.Next(tok_, error_); }
  bool IsWord(std::string_view w) const {
    return tok_.kind == Token::Kind::Ident && EqualsNoCase(tok_.text, w);
  }
  bool IsPunct(std::string_view p) const {
    return tok_.kind == Token::Kind::Punct && tok_.text == p;
  }
  bool Error(const std::string& what) {
    if (error_.empty()) error_ = what + " at offset " + std::to_string(tok_.pos);
    return false;
  }
  bool ExpectWord(std::string_view w) {
    if (!IsWord(w)) return Error("expected " + std::string(w));
    return Advance();
  }
  bool ExpectPunct(std::string_view p) {
    if (!IsPunct(p)) return Error("expected '" + std::string(p) + "'");
    return Advance();
  }
  bool TakeIdent(std::string& out) {
    if (tok_.kind != Token::Kind::Ident) return Error("expected a name");
    out = tok_.text;
    return Advance();
  }
  bool TakeString(std::string& out) {
    if (tok_.kind != Token::Kind::String) return Error("expected a quoted string");
    out = tok_.text;
    return Advance();
  }

  bool ParseSet(ParsedQuery& q) {
    PropertyDecl d;
    std::string fmtid;
    if (!Advance() || !ExpectWord("PROPERTYNAME") || !TakeString(fmtid)) return false;
    if (!ParseLooseGuid(fmtid, d.fmtid)) return Error("'" + fmtid + "' is not a property set id");
    if (!ExpectWord("PROPID")) return false;
    if (tok_.kind == Token::Kind::String) {
      if (tok_.text.empty()) return Error("empty property name");
      d.id = tok_.text;
    } else if (tok_.kind == Token::Kind::Number) {
      std::uint32_t n = 0;
      std::string_view s = tok_.text;
      int base = 10;
      if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
      }
      auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), n, base);
      if (ec != std::errc() || p != s.data() + s.size()) return Error("bad PROPID");
      d.id = n;
    } else {
      return Error("expected a PROPID");
    }
    if (!Advance() || !ExpectWord("AS") || !TakeIdent(d.alias)) return false;
    if (IsWord("TYPE")) {
      if (!Advance() || !TakeIdent(d.dbtype)) return false;
      for (auto& c : d.dbtype) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    q.properties.push_back(std::move(d));
    return ExpectPunct(";");
  }

  bool ParseColumns(ParsedQuery& q) {
    for (;;) {
      std::string col;
      if (!TakeIdent(col)) return false;
      q.columns.push_back(std::move(col));
      if (!IsPunct(",")) return true;
      if (!Advance()) return false;
    }
  }

  bool ParseTraversal(const std::string& text, ScopeSpec& out) {
    std::string_view s = text;
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    auto word = [&](std::string_view w) {
      if (s.size() < w.size() || !EqualsNoCase(s.substr(0, w.size()), w)) return false;
      s.remove_prefix(w.size());
      while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
      return true;
    };
    if (word("SHALLOW")) {
      out.traversal = Traversal::Shallow;
    } else if (word("DEEP")) {
      out.traversal = Traversal::Deep;
    } else {
      return Error("a scope must be SHALLOW or DEEP TRAVERSAL OF \"folder\"");
    }
    if (!word("TRAVERSAL") || !word("OF")) return Error("expected TRAVERSAL OF in a scope");
    const auto open = s.find('"');
    const auto close = s.rfind('"');
    if (open != 0 || close == open) return Error("a scope's folder must be in double quotes");
    for (char c : s.substr(close + 1)) {
      if (!IsBlank(c)) return Error("unexpected text after a scope's folder");
    }
    out.path = std::string(s.substr(1, close - 1));
    if (out.path.empty()) return Error("empty scope folder");
    return true;
  }

  bool ParseTable(TableRef& t) {
    if (tok_.kind != Token::Kind::Ident) return Error("expected a catalog or SCOPE");
    if (!IsWord("SCOPE")) {
      t.catalog = tok_.text;
      if (!Advance() || !ExpectPunct("..")) return false;
    } else {
      // "SCOPE" may itself be a catalog's name when ".." follows.
      Token save = tok_;
      if (!Advance()) return false;
      if (IsPunct("..")) {
        t.catalog = save.text;
        if (!Advance()) return false;
      } else {
        return ParseScopeArgs(t);
      }
    }
    if (!ExpectWord("SCOPE")) return false;
    return ParseScopeArgs(t);
  }

  bool ParseScopeArgs(TableRef& t) {
    if (!ExpectPunct("(")) return false;
    if (IsPunct(")")) return Advance();
    for (;;) {
      std::string text;
      if (!TakeString(text)) return false;
      ScopeSpec spec;
      if (!ParseTraversal(text, spec)) return false;
      t.scopes.push_back(std::move(spec));
      if (IsPunct(")")) return Advance();
      if (!ExpectPunct(",")) return false;
    }
  }

  bool ParseFrom(ParsedQuery& q) {
    if (!IsPunct("(")) {
      TableRef t;
      if (!ParseTable(t)) return false;
      q.tables.push_back(std::move(t));
      return true;
    }
    if (!Advance()) return false;
    for (;;) {
      TableRef t;
      if (!ExpectWord("TABLE") || !ParseTable(t)) return false;
      q.tables.push_back(std::move(t));
      if (IsPunct(")")) return Advance();
      if (!ExpectWord("UNION") || !ExpectWord("ALL")) return false;
    }
  }

  // Counts a part joined by AND or OR; false (with the error) past the limit.
  bool MorePart() {
    if (++parts_ <= kMaxQueryParts) return true;
    Error("the condition has too many parts");
    return false;
  }

  std::unique_ptr<Condition> ParseOr(int depth) {
    auto left = ParseAnd(depth);
    while (left && IsWord("OR")) {
      if (!MorePart() || !Advance()) return nullptr;
      auto right = ParseAnd(depth);
      if (!right) return nullptr;
      auto n = std::make_unique<Condition>();
      n->kind = Condition::Kind::Or;
      n->left = std::move(left);
      n->right = std::move(right);
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<Condition> ParseAnd(int depth) {
    auto left = ParseUnary(depth);
    while (left && IsWord("AND")) {
      if (!MorePart() || !Advance()) return nullptr;
      auto right = ParseUnary(depth);
      if (!right) return nullptr;
      auto n = std::make_unique<Condition>();
      n->kind = Condition::Kind::And;
      n->left = std::move(left);
      n->right = std::move(right);
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<Condition> ParseUnary(int depth) {
    if (depth > kMaxQueryDepth) {
      Error("the condition is nested too deeply");
      return nullptr;
    }
    if (IsWord("NOT")) {
      if (!Advance()) return nullptr;
      auto inner = ParseUnary(depth + 1);
      if (!inner) return nullptr;
      auto n = std::make_unique<Condition>();
      n->kind = Condition::Kind::Not;
      n->left = std::move(inner);
      return n;
    }
    if (IsPunct("(")) {
      if (!Advance()) return nullptr;
      auto inner = ParseOr(depth + 1);
      if (!inner || !ExpectPunct(")")) return nullptr;
      return inner;
    }
    if (IsWord("CONTAINS") || IsWord("FREETEXT")) {
      auto n = std::make_unique<Condition>();
      n->kind = Condition::Kind::FullText;
      n->freetext = IsWord("FREETEXT");
      n->column = "ALL";
      if (!Advance() || !ExpectPunct("(")) return nullptr;
      if (tok_.kind == Token::Kind::Ident) {
        n->column = tok_.text;
        if (!Advance() || !ExpectPunct(",")) return nullptr;
      }
      if (!TakeString(n->text) || !ExpectPunct(")")) return nullptr;
      return n;
    }
    auto n = std::make_unique<Condition>();
    if (!TakeIdent(n->column)) return nullptr;
    if (IsWord("IS")) {
      n->kind = Condition::Kind::IsNull;
      if (!Advance()) return nullptr;
      if (IsWord("NOT")) {
        n->negated = true;
        if (!Advance()) return nullptr;
      }
      if (!ExpectWord("NULL")) return nullptr;
      return n;
    }
    if (IsWord("NOT") || IsWord("LIKE")) {
      n->kind = Condition::Kind::Like;
      if (IsWord("NOT")) {
        n->negated = true;
        if (!Advance()) return nullptr;
      }
      if (!ExpectWord("LIKE")) return nullptr;
      n->literal.isString = true;
      if (!TakeString(n->literal.text)) return nullptr;
      return n;
    }
    static constexpr std::string_view kOps[] = {"=", "!=", "<", "<=", ">", ">="};
    bool isOp = false;
    for (auto op : kOps) isOp = isOp || IsPunct(op);
    if (!isOp) {
      Error("expected a comparison after '" + n->column + "'");
      return nullptr;
    }
    n->kind = Condition::Kind::Compare;
    n->op = tok_.text;
    if (!Advance()) return nullptr;
    if (tok_.kind == Token::Kind::String) {
      n->literal = {true, tok_.text};
    } else if (tok_.kind == Token::Kind::Number) {
      n->literal = {false, tok_.text};
    } else {
      Error("expected a value");
      return nullptr;
    }
    if (!Advance()) return nullptr;
    return n;
  }

  bool ParseOrder(ParsedQuery& q) {
    for (;;) {
      OrderKey k;
      if (!TakeIdent(k.column)) return false;
      if (IsWord("DESC") || IsWord("ASC")) {
        k.descending = IsWord("DESC");
        if (!Advance()) return false;
      }
      q.order.push_back(std::move(k));
      if (!IsPunct(",")) return true;
      if (!Advance()) return false;
    }
  }

  Lexer lex_;
  Token tok_;
  std::string& error_;
  int parts_ = 0;  // parts joined by AND and OR so far
};

// ---- full-text text ----

struct CToken {
  enum class Kind { End, Term, And, Or, Not, Open, Close };
  Kind kind = Kind::End;
  std::string text;
  bool prefix = false;
};

class ContentLexer {
 public:
  explicit ContentLexer(std::string_view s) : s_(s) {}
  CToken Next() {
    while (i_ < s_.size() && IsBlank(s_[i_])) ++i_;
    CToken t;
    if (i_ >= s_.size()) return t;
    const char c = s_[i_];
    auto single = [&](CToken::Kind k) {
      ++i_;
      t.kind = k;
      return t;
    };
    if (c == '&') return single(CToken::Kind::And);
    if (c == '|') return single(CToken::Kind::Or);
    if (c == '!') return single(CToken::Kind::Not);
    if (c == '(') return single(CToken::Kind::Open);
    if (c == ')') return single(CToken::Kind::Close);
    t.kind = CToken::Kind::Term;
    if (c == '"') {
      ++i_;
      // A doubled quote inside a phrase stands for a quote; an unclosed phrase runs to the end.
      while (i_ < s_.size()) {
        if (s_[i_] == '"') {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == '"') {
            t.text += '"';
            i_ += 2;
            continue;
          }
          ++i_;
          break;
        }
        t.text += s_[i_++];
      }
    } else {
      while (i_ < s_.size() && !IsBlank(s_[i_]) && std::string_view("&|!()\"").find(s_[i_]) ==
                                                       std::string_view::npos) {
        t.text += s_[i_++];
      }
      if (EqualsNoCase(t.text, "AND")) t.kind = CToken::Kind::And;
      if (EqualsNoCase(t.text, "OR")) t.kind = CToken::Kind::Or;
      if (EqualsNoCase(t.text, "NOT")) t.kind = CToken::Kind::Not;
    }
    if (t.kind == CToken::Kind::Term) {
      while (!t.text.empty() && IsBlank(t.text.back())) t.text.pop_back();
      if (!t.text.empty() && t.text.back() == '*') {
        t.prefix = true;
        while (!t.text.empty() && t.text.back() == '*') t.text.pop_back();
      }
      for (auto& ch : t.text) {
        if (ch == '\r' || ch == '\n' || ch == '\t') ch = ' ';
      }
    }
    return t;
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

using NodePtr = std::unique_ptr<ContentNode>;

NodePtr Combine(ContentNode::Kind kind, NodePtr a, NodePtr b) {
  // A dropped (noise) operand leaves the other one alone.
  if (!a) return b;
  if (!b) return a;
  auto n = std::make_unique<ContentNode>();
  n->kind = kind;
  n->left = std::move(a);
  n->right = std::move(b);
  return n;
}

class ContentParser {
 public:
  ContentParser(std::string_view text, std::string& error) : lex_(text), error_(error) {
    tok_ = lex_.Next();
  }
  bool Parse(NodePtr& out) {
    if (!ParseOr(out, 0)) return false;
    if (tok_.kind != CToken::Kind::End) {
      error_ = "unexpected text in the full-text condition";
      return false;
    }
    return true;
  }

 private:
  bool MorePart() {
    if (++parts_ <= kMaxQueryParts) return true;
    error_ = "the full-text condition has too many parts";
    return false;
  }
  bool ParseOr(NodePtr& out, int depth) {
    if (!ParseAnd(out, depth)) return false;
    while (tok_.kind == CToken::Kind::Or) {
      if (!MorePart()) return false;
      tok_ = lex_.Next();
      NodePtr right;
      if (!ParseAnd(right, depth)) return false;
      out = Combine(ContentNode::Kind::Or, std::move(out), std::move(right));
    }
    return true;
  }
  bool ParseAnd(NodePtr& out, int depth) {
    if (!ParseNot(out, depth)) return false;
    while (tok_.kind == CToken::Kind::And) {
      if (!MorePart()) return false;
      tok_ = lex_.Next();
      NodePtr right;
      if (!ParseNot(right, depth)) return false;
      out = Combine(ContentNode::Kind::And, std::move(out), std::move(right));
    }
    return true;
  }
  bool ParseNot(NodePtr& out, int depth) {
    if (depth > kMaxQueryDepth) {
      error_ = "the full-text condition is nested too deeply";
      return false;
    }
    out.reset();
    switch (tok_.kind) {
      case CToken::Kind::Not: {
        tok_ = lex_.Next();
        NodePtr inner;
        if (!ParseNot(inner, depth + 1)) return false;
        if (inner) {
          out = std::make_unique<ContentNode>();
          out->kind = ContentNode::Kind::Not;
          out->left = std::move(inner);
        }
        return true;
      }
      case CToken::Kind::Open:
        tok_ = lex_.Next();
        if (!ParseOr(out, depth + 1)) return false;
        if (tok_.kind != CToken::Kind::Close) {
          error_ = "a parenthesis in the full-text condition is not closed";
          return false;
        }
        tok_ = lex_.Next();
        return true;
      case CToken::Kind::Term:
        if (HasWordCharacter(tok_.text)) {
          out = std::make_unique<ContentNode>();
          out->text = tok_.text;
          out->prefix = tok_.prefix;
        }
        tok_ = lex_.Next();
        return true;
      default:
        error_ = "expected a word or phrase in the full-text condition";
        return false;
    }
  }

  ContentLexer lex_;
  CToken tok_;
  std::string& error_;
  int parts_ = 0;
};

}  // namespace

bool HasWordCharacter(std::string_view text) {
  for (unsigned char c : text) {
    if (std::isalnum(c) || c >= 0x80) return true;
  }
  return false;
}

HRESULT ParseQueryText(std::string_view text, ParsedQuery& out, std::string& error) {
  out = ParsedQuery{};
  error.clear();
  if (text.size() > kMaxQueryText) {
    error = "the query text is too long";
    return DB_E_ERRORSINCOMMAND;
  }
  return Parser(text, error).Run(out);
}

HRESULT ParseContentText(std::string_view text, bool freetext, std::unique_ptr<ContentNode>& out,
                         std::string& error) {
  out.reset();
  error.clear();
  if (text.size() > kMaxQueryText) {
    error = "the full-text condition is too long";
    return DB_E_ERRORSINCOMMAND;
  }
  if (freetext) {
    std::string word;
    auto flush = [&] {
      while (!word.empty() && word.back() == '*') word.pop_back();
      if (HasWordCharacter(word)) {
        auto n = std::make_unique<ContentNode>();
        n->text = word;
        out = Combine(ContentNode::Kind::Or, std::move(out), std::move(n));
      }
      word.clear();
    };
    for (char c : text) {
      if (IsBlank(c) || c == '"') {
        flush();
      } else {
        word += c;
      }
    }
    flush();
  } else if (!ContentParser(text, error).Parse(out)) {
    return DB_E_ERRORSINCOMMAND;
  }
  if (!out) {
    error = "the full-text condition has only words that are ignored";
    return QUERY_E_ALLNOISE;
  }
  return S_OK;
}

}  // namespace qv::platform::indexing
