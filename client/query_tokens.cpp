#include "client/query_tokens.h"

#include <array>
#include <new>

#include "common/utf.h"

namespace qv::client {
namespace {

struct Prefix {
  std::string_view text;
  bool isOp;
  TokenOp op;
  TokenKind kind;
};

// Tested in this order where a token may begin; letters compare without case. Operator
// words need their trailing blank, so "ANDROID" and a final "AND" stay words.
constexpr std::array<Prefix, 15> kPrefixes = {{
    {"+", true, TokenOp::And, TokenKind::Word},
    {"&", true, TokenOp::And, TokenKind::Word},
    {"AND ", true, TokenOp::And, TokenKind::Word},
    {"|", true, TokenOp::Or, TokenKind::Word},
    {"OR ", true, TokenOp::Or, TokenKind::Word},
    {"-", true, TokenOp::Not, TokenKind::Word},
    {"NOT ", true, TokenOp::Not, TokenKind::Word},
    {"startdate:", false, TokenOp::None, TokenKind::StartDate},
    {"sdate:", false, TokenOp::None, TokenKind::StartDate},
    {"enddate:", false, TokenOp::None, TokenKind::EndDate},
    {"edate:", false, TokenOp::None, TokenKind::EndDate},
    {"directory:", false, TokenOp::None, TokenKind::Directory},
    {"dir:", false, TokenOp::None, TokenKind::Directory},
    {"subdir:", false, TokenOp::None, TokenKind::SubDirectory},
    {"sdir:", false, TokenOp::None, TokenKind::SubDirectory},
}};

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

class Tokenizer {
 public:
  Tokenizer(std::string_view text, QueryTokens& out) : s_(text), out_(out) {}

  void Run() {
    std::size_t i = 0;
    while (i < s_.size()) {
      if (const std::size_t bl = BlankAt(s_.substr(i))) {
        if (begun_ && !inQuotes_) {
          Finish(i);
        }
        i += bl;  // blanks before a token are skipped; inside quotes they stay in the span
        continue;
      }
      if (s_[i] == '"') {
        std::size_t n = 0;
        while (i + n < s_.size() && s_[i + n] == '"') ++n;
        if (begun_) {
          if (n % 2 == 1) Finish(i + n - 1);  // the last quote of the run closes the token
        } else if (n % 2 == 1) {
          Begin(i + 1);
          inQuotes_ = true;
          if (kind_ == TokenKind::Word) kind_ = TokenKind::Phrase;
        } else {
          Begin(i);  // an even run opens an unquoted token made of quotes
        }
        i += n;
        continue;
      }
      if (!begun_) {
        if (const std::size_t matched = MatchPrefix(s_.substr(i))) {
          i += matched;
          continue;
        }
        Begin(i);
      }
      ++i;
    }
    Finish(s_.size());
  }

 private:
  std::size_t MatchPrefix(std::string_view rest) {
    auto apply = [&](const Prefix& p) {
      if (p.isOp) {
        op_ = p.op;
      } else {
        kind_ = p.kind;
      }
      return p.text.size();
    };
    for (const auto& p : kPrefixes) {
      if (StartsNoCase(rest, p.text)) return apply(p);
    }
    return 0;
  }

  void Begin(std::size_t at) {
    begun_ = true;
    start_ = at;
  }

  void Finish(std::size_t end) {
    if (begun_ && end > start_) {
      QueryToken t{kind_, op_, s_.substr(start_, end - start_)};
      // "a b |c": an Or joins the term before it when that one had no operator.
      if (t.op == TokenOp::Or && !out_.empty() && out_.back().op == TokenOp::None) {
        out_.back().op = TokenOp::Or;
      }
      out_.push_back(t);
    }
    begun_ = false;
    inQuotes_ = false;
    op_ = TokenOp::None;
    kind_ = TokenKind::Word;
  }

  std::string_view s_;
  QueryTokens& out_;
  bool begun_ = false;
  bool inQuotes_ = false;
  std::size_t start_ = 0;
  TokenOp op_ = TokenOp::None;
  TokenKind kind_ = TokenKind::Word;
};

}  // namespace

std::size_t BlankAt(std::string_view s) {
  if (s.empty()) return 0;
  const char c = s[0];
  if (c == ' ' || c == '\r' || c == '\n' || c == '\t') return 1;
  // U+2028 and U+2029 (line and paragraph separators) in UTF-8.
  if (s.size() >= 3 && static_cast<unsigned char>(s[0]) == 0xE2 &&
      static_cast<unsigned char>(s[1]) == 0x80 &&
      (static_cast<unsigned char>(s[2]) == 0xA8 || static_cast<unsigned char>(s[2]) == 0xA9)) {
    return 3;
  }
  return 0;
}

bool IsBlankText(std::string_view text) {
  while (!text.empty()) {
    const std::size_t bl = BlankAt(text);
    if (bl == 0) return false;
    text.remove_prefix(bl);
  }
  return true;
}

HRESULT ParseQuery(std::string_view text, QueryTokens& tokens) {
  tokens.clear();
  try {
    Tokenizer(text, tokens).Run();
  } catch (const std::bad_alloc&) {
    tokens.clear();
    return E_OUTOFMEMORY;
  }
  return tokens.empty() ? S_FALSE : S_OK;
}

HRESULT CheckQueryTokens(const QueryTokens& tokens, bool& noTextTerms, Messages& messages) {
  if (tokens.empty()) return S_FALSE;
  for (const auto& t : tokens) {
    if (!IsTextTerm(t)) continue;
    noTextTerms = false;
    if (t.op == TokenOp::Not) {
      messages.push_back(kMsgFirstTermExcluded);
      return DB_E_ERRORSINCOMMAND;
    }
    return S_OK;
  }
  noTextTerms = true;
  return S_OK;
}

}  // namespace qv::client
