#include "tracer/detection/title_match.h"

#include "common/utf.h"
#include "tracer/detection/detection_constants.h"

namespace qv::tracer {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The first occurrence of `needle` in `hay` at or after `from`, without ASCII case.
std::size_t FindNoCase(std::string_view hay, std::string_view needle, std::size_t from) {
  if (needle.empty() || needle.size() > hay.size()) return std::string_view::npos;
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
    std::size_t k = 0;
    while (k < needle.size() && Lower(hay[i + k]) == Lower(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

bool EqualAt(std::string_view hay, std::size_t at, std::string_view s) {
  return at <= hay.size() && hay.size() - at >= s.size() &&
         EqualsNoCase(hay.substr(at, s.size()), s);
}

}  // namespace

bool IsTitleDelimiter(char c) { return kTitleDelimiters.find(c) != std::string_view::npos; }

std::optional<TitlePattern> PrepareTitlePattern(std::string_view path) {
  if (path.size() > kMaxPathBytes) return std::nullopt;
  TitlePattern p;
  const auto slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  p.directory = path.substr(0, nameStart);
  const std::string_view name = path.substr(nameStart);
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    p.baseName = name;
  } else {
    p.baseName = name.substr(0, dot);
    p.extension = name.substr(dot + 1);
    p.hasExtension = true;
  }
  return p;
}

int ScoreTitle(std::string_view title, const TitlePattern& p) {
  if (title.empty() || p.baseName.empty()) return kScoreNone;
  int best = kScoreNone;
  for (std::size_t at = FindNoCase(title, p.baseName, 0); at != std::string_view::npos;
       at = FindNoCase(title, p.baseName, at + 1)) {
    std::size_t q = at + p.baseName.size();
    int level = kScoreBaseName;
    if (p.hasExtension && q < title.size() && title[q] == '.' &&
        EqualAt(title, q + 1, p.extension)) {
      q += 1 + p.extension.size();
      level = kScoreNameAndExtension;
    }
    std::size_t start = at;
    if (p.directory.empty()) {
      level += 2;
    } else if (at >= p.directory.size() &&
               EqualAt(title, at - p.directory.size(), p.directory)) {
      start = at - p.directory.size();
      level += 2;
    }
    const bool before = start == 0 || IsTitleDelimiter(title[start - 1]);
    const bool after = q == title.size() || IsTitleDelimiter(title[q]);
    if (!before || !after) continue;
    if (level > best) best = level;
    if (best == kScorePathAndExtension) break;
  }
  return best;
}

int ScoreTitle(std::string_view title, std::string_view path) {
  const auto p = PrepareTitlePattern(path);
  return p ? ScoreTitle(title, *p) : kScoreNone;
}

}  // namespace qv::tracer
