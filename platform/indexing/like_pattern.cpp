#include "platform/indexing/like_pattern.h"

#include "common/utf.h"

namespace qv::platform::indexing {
namespace {

// One character from `at`: a lead byte takes every continuation byte after it, as SQLite's
// own UTF-8 reader does; any other byte is a character of its own.
std::size_t NextChar(std::string_view s, std::size_t at) {
  const auto lead = static_cast<unsigned char>(s[at++]);
  if (lead >= 0xC0) {
    while (at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) ++at;
  }
  return at;
}

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

}  // namespace

bool LikeMatches(std::string_view pattern, std::string_view text) {
  const std::string_view p = UpToNul(pattern), s = UpToNul(text);
  constexpr std::size_t kNone = std::string_view::npos;
  std::size_t pi = 0, si = 0;
  // Where the last '%' was, and where in the text its run ends so far: on a mismatch the run
  // takes one more character and matching resumes after the '%'.
  std::size_t starP = kNone, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '%') {
      starP = ++pi;
      starS = si;
      continue;
    }
    if (pi < p.size()) {
      const std::size_t sn = NextChar(s, si);
      if (p[pi] == '_') {
        ++pi;
        si = sn;
        continue;
      }
      const std::size_t pn = NextChar(p, pi);
      bool same = pn - pi == sn - si;
      for (std::size_t k = 0; same && k < pn - pi; ++k) {
        same = AsciiLowerChar(p[pi + k]) == AsciiLowerChar(s[si + k]);
      }
      if (same) {
        pi = pn;
        si = sn;
        continue;
      }
    }
    if (starP == kNone) return false;
    starS = NextChar(s, starS);
    si = starS;
    pi = starP;
  }
  while (pi < p.size() && p[pi] == '%') ++pi;
  return pi == p.size();
}

}  // namespace qv::platform::indexing
