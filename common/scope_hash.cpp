#include "common/scope_hash.h"

#include "common/utf.h"

namespace qv {

std::uint32_t ScopeHash(std::string_view identityUtf8) {
  std::uint32_t h = 0;
  for (std::uint8_t b : Utf8ToUtf16LeBytes(identityUtf8)) h ^= (h << 5) + (h >> 2) + b;
  return h;
}

}  // namespace qv
