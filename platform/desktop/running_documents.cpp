#include "platform/desktop/running_documents.h"

namespace qv::platform {

std::uint32_t DocumentKey(std::string_view path) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : path) {
    h ^= c;
    h *= 16777619u;
  }
  return h == 0 ? 1 : h;
}

}  // namespace qv::platform
