#pragma once
// LIKE as the catalogs' SQL reads it: '%' matches any run of characters, '_' one character
// (a UTF-8 sequence), ASCII letters match without case and every other byte exactly, and text
// ends at its first NUL. Matching in C++ spares a call into SQLite for every row.
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform::indexing {

// A pattern read once and matched against many texts.
class LikePattern {
 public:
  explicit LikePattern(std::string_view pattern);
  bool Matches(std::string_view text) const;
  // The same for a text known to hold no NUL byte.
  bool MatchesWhole(std::string_view text) const;

 private:
  std::string pattern_;  // up to its first NUL
  // A pattern of ASCII bytes without '_' is its pieces between the '%'s: the first must
  // start the text, the last end it, and the others are found in order, leftmost first.
  bool pieces_ = false;
  std::vector<std::string> parts_;
  // Per piece: the byte searched for with memchr, and where in the piece it is (-1: the
  // piece is all letters and is looked for by its first letter in either case).
  std::vector<int> anchorAt_;
  bool leadingPercent_ = false, trailingPercent_ = false;
};

bool LikeMatches(std::string_view pattern, std::string_view text);

}  // namespace qv::platform::indexing
