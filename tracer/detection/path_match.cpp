#include "tracer/detection/path_match.h"

namespace qv::tracer {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Greedy matching with one back-track point (the last '*'): linear in practice and never
// worse than item length times pattern length, so hostile patterns cannot blow up.
bool MatchOne(std::string_view s, std::string_view p) {
  std::size_t si = 0, pi = 0;
  std::size_t star = std::string_view::npos, mark = 0;
  while (si < s.size()) {
    if (pi < p.size() && (p[pi] == '?' || (p[pi] != '*' && Lower(p[pi]) == Lower(s[si])))) {
      ++si;
      ++pi;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = si;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

bool PathMatchSpec(std::string_view item, std::string_view spec) {
  while (!spec.empty()) {
    while (!spec.empty() && spec.front() == ' ') spec.remove_prefix(1);
    const auto semi = spec.find(';');
    const std::string_view one = spec.substr(0, semi);
    spec = semi == std::string_view::npos ? std::string_view{} : spec.substr(semi + 1);
    if (one.empty()) continue;
    if (one == "*.*" || MatchOne(item, one)) return true;
  }
  return false;
}

}  // namespace qv::tracer
