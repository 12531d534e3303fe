#pragma once
#include <cstdint>
#include <string_view>

namespace qv {

// The scope number of an identity string: a shift-add-xor hash over its UTF-16LE bytes,
// seed 0, unsigned 32-bit arithmetic.
std::uint32_t ScopeHash(std::string_view identityUtf8);

}  // namespace qv
