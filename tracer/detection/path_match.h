#pragma once
// Matching an item string against a path pattern: '*' is any run of characters, '?'
// any one character, letters compare without ASCII case, and the whole string must match.
// A pattern list may hold several, separated by semicolons; spaces before each are skipped.
// "*.*" matches everything, also names without a dot.
#include <string_view>

namespace qv::tracer {

bool PathMatchSpec(std::string_view item, std::string_view spec);

}  // namespace qv::tracer
