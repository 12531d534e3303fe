#include "client/query_tokens.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::client {
namespace {

using K = TokenKind;
using O = TokenOp;

struct Tok {
  K kind;
  O op;
  std::string text;
  friend bool operator==(const Tok&, const Tok&) = default;
};
std::ostream& operator<<(std::ostream& os, const Tok& t) {
  return os << "{" << static_cast<int>(t.kind) << "," << static_cast<int>(t.op) << ",'" << t.text
            << "'}";
}

std::vector<Tok> Parse(const std::string& text, HRESULT* hr = nullptr) {
  QueryTokens tokens;
  const HRESULT r = ParseQuery(text, tokens);
  if (hr) *hr = r;
  std::vector<Tok> out;
  for (const auto& t : tokens) out.push_back({t.kind, t.op, std::string(t.text)});
  return out;
}

TEST(QueryTokens, OperatorsAndTheirWords) {
  EXPECT_EQ(Parse("report -draft"),
            (std::vector<Tok>{{K::Word, O::None, "report"}, {K::Word, O::Not, "draft"}}));
  const std::vector<Tok> ored{{K::Word, O::Or, "a"}, {K::Word, O::Or, "b"}};
  EXPECT_EQ(Parse("a OR b"), ored);
  EXPECT_EQ(Parse("a |b"), ored);
  EXPECT_EQ(Parse("a or b"), ored);  // operator words compare without case
  EXPECT_EQ(Parse("a b |c"), (std::vector<Tok>{{K::Word, O::None, "a"},
                                                {K::Word, O::Or, "b"},
                                                {K::Word, O::Or, "c"}}));
  // Operator words need their blank: at the end, or run into a word, they are words.
  EXPECT_EQ(Parse("a OR"), (std::vector<Tok>{{K::Word, O::None, "a"}, {K::Word, O::None, "OR"}}));
  EXPECT_EQ(Parse("ANDROID"), (std::vector<Tok>{{K::Word, O::None, "ANDROID"}}));
  EXPECT_EQ(Parse("x AND y +z &w NOT v"),
            (std::vector<Tok>{{K::Word, O::None, "x"},
                              {K::Word, O::And, "y"},
                              {K::Word, O::And, "z"},
                              {K::Word, O::And, "w"},
                              {K::Word, O::Not, "v"}}));
  // A later operator before the same token replaces the earlier one; inside a word a minus
  // is just a character.
  EXPECT_EQ(Parse("+-x well-known"),
            (std::vector<Tok>{{K::Word, O::Not, "x"}, {K::Word, O::None, "well-known"}}));
}

TEST(QueryTokens, QuotesPhrasesAndKeywords) {
  EXPECT_EQ(Parse("\"budget plan\" sdate:1/2/2004"),
            (std::vector<Tok>{{K::Phrase, O::None, "budget plan"},
                              {K::StartDate, O::None, "1/2/2004"}}));
  EXPECT_EQ(Parse("sdate: 1/2/2004"), (std::vector<Tok>{{K::StartDate, O::None, "1/2/2004"}}));
  EXPECT_EQ(Parse("dir:\"/home/me/My Documents\""),
            (std::vector<Tok>{{K::Directory, O::None, "/home/me/My Documents"}}));
  EXPECT_EQ(Parse("SDIR:/a STARTDATE:1 enddate:2 edate:3 directory:/b subdir:/c"),
            (std::vector<Tok>{{K::SubDirectory, O::None, "/a"},
                              {K::StartDate, O::None, "1"},
                              {K::EndDate, O::None, "2"},
                              {K::EndDate, O::None, "3"},
                              {K::Directory, O::None, "/b"},
                              {K::SubDirectory, O::None, "/c"}}));
  // Keywords are seen only where a token may begin.
  EXPECT_EQ(Parse("xdir:/a"), (std::vector<Tok>{{K::Word, O::None, "xdir:/a"}}));
  // An unclosed quote makes the rest one phrase, blanks and all.
  EXPECT_EQ(Parse("a \"b c  d"),
            (std::vector<Tok>{{K::Word, O::None, "a"}, {K::Phrase, O::None, "b c  d"}}));
  EXPECT_EQ(Parse("edate:1/2/2004 10:30"),
            (std::vector<Tok>{{K::EndDate, O::None, "1/2/2004"}, {K::Word, O::None, "10:30"}}));
  // Runs of quotes: an even run stays in the text, an odd run ends the token before its last
  // quote.
  EXPECT_EQ(Parse("\"\"x"), (std::vector<Tok>{{K::Word, O::None, "\"\"x"}}));
  EXPECT_EQ(Parse("\"a \"\"b\"\"\""), (std::vector<Tok>{{K::Phrase, O::None, "a \"\"b\"\""}}));
  EXPECT_EQ(Parse("ab\"cd"),
            (std::vector<Tok>{{K::Word, O::None, "ab"}, {K::Word, O::None, "cd"}}));
  // An odd run opening a token: the phrase starts after the first quote of the run.
  EXPECT_EQ(Parse("\"\"\" a"), (std::vector<Tok>{{K::Phrase, O::None, "\"\" a"}}));
  // An empty phrase makes no token.
  HRESULT hr;
  EXPECT_TRUE(Parse("\"\" ", &hr).size() == 1);
  EXPECT_TRUE(Parse("\"", &hr).empty());
  EXPECT_EQ(hr, S_FALSE);
}

TEST(QueryTokens, BlanksOnlyAndUnicodeSeparators) {
  HRESULT hr = S_OK;
  EXPECT_TRUE(Parse(" \t\r\n \u2028\u2029 ", &hr).empty());
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(Parse("caf\u00e9\u2029b\u00fcro", &hr),
            (std::vector<Tok>{{K::Word, O::None, "caf\u00e9"}, {K::Word, O::None, "b\u00fcro"}}));
  EXPECT_EQ(hr, S_OK);
  // A keyword alone has nothing to apply to.
  EXPECT_TRUE(Parse("dir:  ", &hr).empty());
}

TEST(QueryTokens, FirstTermMayNotBeExcluded) {
  QueryTokens tokens;
  Messages messages;
  bool noText = true;
  ParseQuery("-draft report", tokens);
  EXPECT_EQ(CheckQueryTokens(tokens, noText, messages), DB_E_ERRORSINCOMMAND);
  EXPECT_EQ(messages, Messages{kMsgFirstTermExcluded});

  messages.clear();
  ParseQuery("sdate:1/1/2004 dir:/x", tokens);
  EXPECT_EQ(CheckQueryTokens(tokens, noText, messages), S_OK);
  EXPECT_TRUE(noText);
  // Dates before the first term do not count as the first term.
  ParseQuery("sdate:1/1/2004 report -draft", tokens);
  EXPECT_EQ(CheckQueryTokens(tokens, noText, messages), S_OK);
  EXPECT_FALSE(noText);

  tokens.clear();
  noText = true;
  EXPECT_EQ(CheckQueryTokens(tokens, noText, messages), S_FALSE);
  EXPECT_TRUE(noText);  // left as it was
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace qv::client
