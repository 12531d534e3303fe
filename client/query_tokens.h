#pragma once
// The query language of the search box: a one-line text becomes a list of tokens (words,
// phrases, date bounds and folders, each with an operator). The tokens borrow the text: it
// must stay alive and unchanged while they are used. An empty span never becomes a token.
#include <cstdint>
#include <string_view>
#include <vector>

#include "client/messages.h"
#include "common/hresult.h"

namespace qv::client {

enum class TokenKind : std::int32_t {
  Word = 1,
  Phrase = 2,
  StartDate = 3,
  EndDate = 4,
  Directory = 5,     // one folder, without its sub-folders
  SubDirectory = 6,  // a folder and everything below it
};

enum class TokenOp : std::int32_t { None = 0, And = 1, Or = 2, Not = 3 };

struct QueryToken {
  TokenKind kind = TokenKind::Word;
  TokenOp op = TokenOp::None;
  std::string_view text;
  friend bool operator==(const QueryToken&, const QueryToken&) = default;
};

using QueryTokens = std::vector<QueryToken>;

inline bool IsTextTerm(const QueryToken& t) {
  return t.kind == TokenKind::Word || t.kind == TokenKind::Phrase;
}
inline bool IsFolderToken(const QueryToken& t) {
  return t.kind == TokenKind::Directory || t.kind == TokenKind::SubDirectory;
}
inline bool IsDateToken(const QueryToken& t) {
  return t.kind == TokenKind::StartDate || t.kind == TokenKind::EndDate;
}

// Length in bytes of the blank at the start of `s` (space, CR, LF, tab, U+2028, U+2029), or 0.
std::size_t BlankAt(std::string_view s);

// True when the text is nothing but blanks: such a query counts as an empty one.
bool IsBlankText(std::string_view text);

// Clears `tokens` and fills them from the text. S_OK when at least one token was made,
// S_FALSE when none, E_OUTOFMEMORY when the list cannot grow.
HRESULT ParseQuery(std::string_view text, QueryTokens& tokens);

// S_FALSE for an empty list (the flag is left as it was). Otherwise the flag tells whether
// the query has no word or phrase at all (dates and folders only); DB_E_ERRORSINCOMMAND with
// kMsgFirstTermExcluded added when the first word or phrase is excluded.
HRESULT CheckQueryTokens(const QueryTokens& tokens, bool& noTextTerms, Messages& messages);

}  // namespace qv::client
