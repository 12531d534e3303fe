#include "platform/indexing/like_pattern.h"

#include <cstdint>
#include <cstring>

#include "common/utf.h"

namespace qv::platform::indexing {
namespace {

// One character from `at`, decoded as SQLite's own UTF-8 reader decodes it: a lead byte
// takes every continuation byte after it, and what is no valid character (a lone lead byte,
// an overlong form, a surrogate) becomes U+FFFD; any other byte is a character of its own.
std::size_t NextChar(std::string_view s, std::size_t at, std::uint32_t& cp) {
  const auto lead = static_cast<unsigned char>(s[at++]);
  cp = lead;
  if (lead < 0xC0) return at;
  cp = lead < 0xE0 ? lead & 0x1F
       : lead < 0xF0 ? lead & 0x0F
       : lead < 0xF8 ? lead & 0x07
       : lead < 0xFC ? lead & 0x03
       : lead < 0xFE ? lead & 0x01
                     : 0;
  while (at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) {
    cp = (cp << 6) + (static_cast<unsigned char>(s[at++]) & 0x3F);
  }
  if (cp < 0x80 || (cp & 0xFFFFF800) == 0xD800 || (cp & 0xFFFFFFFE) == 0xFFFE) cp = 0xFFFD;
  return at;
}

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// ASCII bytes equal without case.
bool SameFolded(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  }
  return true;
}

// The general matcher, character by character with a return to the last '%'.
bool MatchGeneral(std::string_view p, std::string_view s) {
  constexpr std::size_t kNone = std::string_view::npos;
  std::size_t pi = 0, si = 0;
  // Where the last '%' was, and where in the text its run ends so far: on a mismatch the run
  // takes one more character and matching resumes after the '%'.
  std::size_t starP = kNone, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '%') {
      while (pi < p.size() && p[pi] == '%') ++pi;
      if (pi == p.size()) return true;  // a trailing '%' takes the rest, whatever it is
      starP = pi;
      starS = si;
      continue;
    }
    if (pi < p.size()) {
      std::uint32_t sc = 0, pc = 0;
      const std::size_t sn = NextChar(s, si, sc);
      if (p[pi] == '_') {
        ++pi;
        si = sn;
        continue;
      }
      const std::size_t pn = NextChar(p, pi, pc);
      // Characters match when equal, or ASCII letters of either case.
      const bool same = pc == sc || (pc < 0x80 && sc < 0x80 &&
                                     AsciiLowerChar(static_cast<char>(pc)) ==
                                         AsciiLowerChar(static_cast<char>(sc)));
      if (same) {
        pi = pn;
        si = sn;
        continue;
      }
    }
    if (starP == kNone) return false;
    std::uint32_t skipped = 0;
    starS = NextChar(s, starS, skipped);
    si = starS;
    pi = starP;
  }
  while (pi < p.size() && p[pi] == '%') ++pi;
  return pi == p.size();
}

}  // namespace

LikePattern::LikePattern(std::string_view pattern) : pattern_(UpToNul(pattern)) {
  pieces_ = true;
  for (char c : pattern_) {
    if (c == '_' || static_cast<unsigned char>(c) >= 0x80) pieces_ = false;
  }
  if (!pieces_) return;
  leadingPercent_ = !pattern_.empty() && pattern_.front() == '%';
  trailingPercent_ = !pattern_.empty() && pattern_.back() == '%';
  std::string part;
  for (char c : pattern_) {
    if (c == '%') {
      if (!part.empty()) parts_.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts_.push_back(std::move(part));
  // The anchor is the piece's rarest-looking byte that is no letter: a path holds many '/'
  // and some '.', and fewer of anything else.
  for (const std::string& piece : parts_) {
    int best = -1, bestRank = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
      const char c = AsciiLowerChar(piece[i]);
      if (c >= 'a' && c <= 'z') continue;
      const int rank = c == '/' ? 1 : c == '.' ? 2 : 3;
      if (rank > bestRank) best = static_cast<int>(i), bestRank = rank;
    }
    anchorAt_.push_back(best);
  }
}

bool LikePattern::Matches(std::string_view text) const { return MatchesWhole(UpToNul(text)); }

bool LikePattern::MatchesWhole(std::string_view s) const {
  if (!pieces_) return MatchGeneral(pattern_, s);
  // An ASCII piece can only match whole characters of the text, so bytes will do.
  if (parts_.empty()) return leadingPercent_ || s.empty();  // "%..." or ""
  std::size_t from = 0, first = 0, last = parts_.size();
  if (!leadingPercent_) {
    const std::string& head = parts_.front();
    if (s.size() < head.size() || !SameFolded(s.data(), head.data(), head.size())) return false;
    from = head.size();
    first = 1;
    if (parts_.size() == 1 && !trailingPercent_) return s.size() == head.size();
  }
  std::size_t end = s.size();
  if (!trailingPercent_ && last > first) {
    const std::string& tail = parts_.back();
    if (end - from < tail.size() ||
        !SameFolded(s.data() + end - tail.size(), tail.data(), tail.size())) {
      return false;
    }
    end -= tail.size();
    --last;
  }
  for (std::size_t k = first; k < last; ++k) {
    const std::string& piece = parts_[k];
    const char lead = AsciiLowerChar(piece.front());
    const int anchor = anchorAt_[k];
    bool found = false;
    while (from + piece.size() <= end) {
      if (anchor >= 0) {
        const std::size_t a = static_cast<std::size_t>(anchor);
        const void* at =
            std::memchr(s.data() + from + a, piece[a], end - piece.size() + 1 - from);
        if (!at) break;
        from = static_cast<std::size_t>(static_cast<const char*>(at) - s.data()) - a;
      } else if (AsciiLowerChar(s[from]) != lead) {
        ++from;
        continue;
      }
      if (SameFolded(s.data() + from, piece.data(), piece.size())) {
        found = true;
        break;
      }
      ++from;
    }
    if (!found) return false;
    from += piece.size();
  }
  return true;
}

bool LikeMatches(std::string_view pattern, std::string_view text) {
  return LikePattern(pattern).Matches(text);
}

}  // namespace qv::platform::indexing
