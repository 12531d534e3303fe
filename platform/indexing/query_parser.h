#pragma once
// The query text the search client sends to the catalogs, parsed. The subset read here:
//
//   query     := { SET PROPERTYNAME 'fmtid' PROPID (number | 'name') AS alias [TYPE dbtype] ; }
//                SELECT column { , column } FROM from [ WHERE cond ] [ ORDER BY key { , key } ]
//                [ ; ]
//   from      := table | ( TABLE table { UNION ALL TABLE table } )
//   table     := [ catalog .. ] SCOPE ( [ 'traversal' { , 'traversal' } ] )
//   traversal := ( SHALLOW | DEEP ) TRAVERSAL OF "path"
//   cond      := and { OR and }          and := unary { AND unary }
//   unary     := NOT unary | ( cond ) | CONTAINS ( [column ,] 'text' )
//              | FREETEXT ( [column ,] 'text' ) | column relop literal
//              | column [NOT] LIKE 'pattern' | column IS [NOT] NULL
//   relop     := = | != | <> | < | <= | > | >=
//   key       := column [ ASC | DESC ]
//
// Keywords and column names compare without case; strings are in single quotes with ''
// for a quote; numbers are decimal or 0x hexadecimal.
//
// The text of CONTAINS:
//   cexpr := cand { ( OR | "|" ) cand }     cand := cnot { ( AND | "&" ) cnot }
//   cnot  := ( NOT | "!" ) cnot | ( cexpr ) | "phrase" | word
// NOT binds tighter than AND, AND tighter than OR. A term ending in "*" matches every word
// that begins with it. FREETEXT's text is a list of words, any of which may match.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"

namespace qv::platform::indexing {

// The provider's errors: a command it cannot read, and a full-text condition made only of
// words that carry no meaning.
inline constexpr HRESULT DB_E_ERRORSINCOMMAND = MakeHr(0x80040E14);
inline constexpr HRESULT QUERY_E_ALLNOISE = MakeHr(0x80041605);

// Inputs longer than this, or nested deeper, are refused. A condition and a full-text text
// inside it may each nest this deep (a parenthesis or a NOT is one level): SQLite's parser
// stack, fixed and small, takes not much more than twice that many nested parentheses.
inline constexpr std::size_t kMaxQueryText = 1u << 20;
inline constexpr int kMaxQueryDepth = 12;
// A condition, or a full-text text, joins at most this many parts with AND and OR. (SQLite
// refuses deeper expressions than a few hundred joined parts make anyway.)
inline constexpr int kMaxQueryParts = 400;

struct PropertyDecl {
  std::string alias;
  Guid fmtid;
  std::variant<std::uint32_t, std::string> id{std::uint32_t{0}};
  std::string dbtype;  // upper-case, e.g. "DBTYPE_UI4"; empty when not given
};

enum class Traversal { Shallow, Deep };
struct ScopeSpec {
  Traversal traversal = Traversal::Deep;
  std::string path;
};
struct TableRef {
  std::string catalog;            // empty: the default catalog
  std::vector<ScopeSpec> scopes;  // empty: the whole catalog
};

struct ContentNode {
  enum class Kind { Term, And, Or, Not };
  Kind kind = Kind::Term;
  std::string text;  // Term: the words (a phrase when several)
  bool prefix = false;
  std::unique_ptr<ContentNode> left, right;  // Not uses left only
};

struct Literal {
  bool isString = false;
  std::string text;
};

struct Condition {
  enum class Kind { And, Or, Not, Compare, Like, IsNull, FullText };
  Kind kind = Kind::Compare;
  std::unique_ptr<Condition> left, right;  // And, Or, Not
  std::string column;                      // Compare, Like, IsNull; FullText: ALL/CONTENTS
  std::string op;                          // Compare: "=", "!=", "<", "<=", ">", ">="
  Literal literal;                         // Compare, Like
  bool negated = false;                    // NOT LIKE, IS NOT NULL
  bool freetext = false;                   // FullText
  std::string text;                        // FullText: the text inside the quotes
};

struct OrderKey {
  std::string column;
  bool descending = false;
};

struct ParsedQuery {
  std::vector<PropertyDecl> properties;
  std::vector<std::string> columns;
  std::vector<TableRef> tables;
  std::unique_ptr<Condition> where;
  std::vector<OrderKey> order;
};

// DB_E_ERRORSINCOMMAND with `error` telling where and what, on text that does not read.
HRESULT ParseQueryText(std::string_view text, ParsedQuery& out, std::string& error);

// The full-text text of CONTAINS (or FREETEXT) as a tree. Terms without any letter or digit
// carry no meaning and are dropped; when nothing is left, `out` is null and the result
// QUERY_E_ALLNOISE.
HRESULT ParseContentText(std::string_view text, bool freetext, std::unique_ptr<ContentNode>& out,
                         std::string& error);

// True when the term has a letter or digit (any non-ASCII character counts as one).
bool HasWordCharacter(std::string_view text);

}  // namespace qv::platform::indexing
