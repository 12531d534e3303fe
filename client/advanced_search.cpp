#include "client/advanced_search.h"

#include "client/messages.h"
#include "client/query_tokens.h"

namespace qv::client {
namespace {

std::string_view TrimField(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string TermOf(const QueryToken& t) {
  return t.kind == TokenKind::Phrase ? "\"" + std::string(t.text) + "\"" : std::string(t.text);
}

void Join(std::string& out, std::string_view part) {
  if (part.empty()) return;
  if (!out.empty()) out += ' ';
  out += part;
}

// The field's words and phrases, each with `before` in front of it (`first` for the first).
bool AddTerms(std::string_view field, std::string_view first, std::string_view before,
              bool phrasesOnly, std::string& out) {
  QueryTokens tokens;
  const std::string text(field);
  ParseQuery(text, tokens);
  bool any = false;
  for (const auto& t : tokens) {
    if (!IsTextTerm(t)) continue;  // keywords typed into a field are dropped
    if (phrasesOnly && t.kind != TokenKind::Phrase) return false;
    Join(out, std::string(any ? before : first) + TermOf(t));
    any = true;
  }
  return true;
}

bool DayBefore(const CivilDateTime& a, const CivilDateTime& b) {
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  return a.day < b.day;
}

}  // namespace

std::optional<AdvancedSearchProblem> ComposeAdvancedSearch(
    const AdvancedSearchFields& f, bool foldersAllowed, const DateLocale& dates,
    const std::function<bool(const std::string&)>& isDirectory, std::string& text) {
  std::string out;
  AddTerms(TrimField(f.allWords), "", "", false, out);
  if (std::string_view phrase = TrimField(f.exactPhrase); !phrase.empty()) {
    std::string quoted(phrase);
    if (quoted.front() != '"') quoted.insert(0, 1, '"');
    // A lone quote is not also its own closing quote.
    if (quoted.size() == 1 || quoted.back() != '"') quoted += '"';
    if (!AddTerms(quoted, "", "", true, out)) {
      return AdvancedSearchProblem{kMsgPhraseExpected, AdvancedField::ExactPhrase};
    }
  }
  AddTerms(TrimField(f.anyWords), "", "|", false, out);
  AddTerms(TrimField(f.noneWords), "-", "-", false, out);
  if (f.useStart && f.useEnd && DayBefore(f.end, f.start)) {
    return AdvancedSearchProblem{kMsgStartAfterEnd, AdvancedField::EndDate};
  }
  if (f.useStart) {
    Join(out, "startdate:\"" + dates.FormatShortDate(f.start.year, f.start.month, f.start.day) +
                  "\"");
  }
  if (f.useEnd) {
    Join(out, "enddate:\"" + dates.FormatShortDate(f.end.year, f.end.month, f.end.day) + "\"");
  }
  if (foldersAllowed) {
    const std::string folder(TrimField(f.folder));
    if (!folder.empty()) {
      if (!isDirectory || !isDirectory(folder)) {
        return AdvancedSearchProblem{kMsgNoSuchFolder, AdvancedField::Folder};
      }
      Join(out, (f.includeSubfolders ? "sdir:\"" : "dir:\"") + folder + "\"");
    }
  }
  text = std::move(out);
  return std::nullopt;
}

AdvancedSearchFields DecomposeAdvancedSearch(std::string_view text, bool foldersAllowed,
                                             const DateLocale& dates, DATE now) {
  AdvancedSearchFields f;
  QueryTokens tokens;
  ParseQuery(text, tokens);
  int year = 2000;
  if (auto local = dates.UtcToLocal(now)) year = local->year;
  bool folderTaken = false;
  for (const auto& t : tokens) {
    switch (t.kind) {
      case TokenKind::Word:
      case TokenKind::Phrase:
        if (t.op == TokenOp::Or) {
          Join(f.anyWords, TermOf(t));
        } else if (t.op == TokenOp::Not) {
          Join(f.noneWords, TermOf(t));
        } else if (t.kind == TokenKind::Word) {
          Join(f.allWords, TermOf(t));
        } else {
          Join(f.exactPhrase, TermOf(t));
        }
        break;
      case TokenKind::StartDate:
      case TokenKind::EndDate: {
        const auto d = ReadCivilDate(t.text, dates.Order(), year);
        if (!d) break;
        if (t.kind == TokenKind::StartDate) {
          f.useStart = true;
          f.start = *d;
        } else {
          f.useEnd = true;
          f.end = *d;
        }
        break;
      }
      case TokenKind::Directory:
      case TokenKind::SubDirectory:
        if (foldersAllowed && !folderTaken) {
          folderTaken = true;
          f.folder = std::string(t.text);
          f.includeSubfolders = t.kind == TokenKind::SubDirectory;
        }
        break;
    }
  }
  return f;
}

}  // namespace qv::client
