#include "shell/settings/pattern_lists.h"

namespace qv::settings {

namespace {

// Paths here are POSIX paths, but a pattern written with backslashes keeps them: both count
// as separators. New prefixes use '/', the separator that matches the paths we record.
bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string_view Trim(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string NormaliseFilePattern(std::string_view pattern) {
  std::string p(pattern);
  if (p.empty()) return p;
  const bool wildcardStart = p[0] == '*' || p[0] == '?';
  const bool rooted = IsSeparator(p[0]) || (p.size() > 1 && p[1] == ':');
  if (!wildcardStart && !rooted) p.insert(0, p[0] == '.' ? "*" : "*/");

  std::size_t lastSep = std::string::npos;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (IsSeparator(p[i])) lastSep = i;
  }
  const std::size_t dot = p.rfind('.');
  const bool hasDot = dot != std::string::npos && (lastSep == std::string::npos || dot > lastSep);
  const bool onlyFinalDot = hasDot && dot + 1 == p.size();
  // A pattern already ending in '*' is open-ended: appending ".*" would make each new
  // normalisation of the shown text change the list ("dir/*" to "dir/*.*", which no longer
  // matches names without a dot).
  if ((!hasDot || onlyFinalDot) && p.back() != '*') {
    p += (p.back() == '.' || IsSeparator(p.back())) ? "*" : ".*";
  }
  return p;
}

std::string NormaliseWebPattern(std::string_view pattern) {
  std::string p(pattern);
  if (p.empty()) return p;
  if (p[0] != '*' && p[0] != '?' && p.find(':') == std::string::npos) p.insert(0, "*");
  const char last = p.back();
  if (last != '*' && last != '/' && last != '?' && p.find('=') == std::string::npos) p += '*';
  return p;
}

std::vector<std::string> NormalisePatternText(std::string_view text, PatternKind kind) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    if (!line.empty()) {
      out.push_back(kind == PatternKind::File ? NormaliseFilePattern(line)
                                              : NormaliseWebPattern(line));
    }
    pos = end + 1;
  }
  return out;
}

std::string PatternText(const std::vector<std::string>& patterns) {
  std::string text;
  for (const auto& p : patterns) {
    if (!text.empty()) text += "\r\n";
    text += p;
  }
  return text;
}

}  // namespace qv::settings
