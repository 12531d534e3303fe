// Feeds arbitrary bytes to the recent-files list reader and to the file-URL decoder: neither
// may crash, and what they return must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/desktop/xbel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bool complete = false;
  const auto bookmarks = qv::platform::ParseXbel(text, &complete);
  for (const auto& b : bookmarks) {
    if (b.href.empty() || b.href.size() > size * 4) std::abort();  // entities only shrink
    std::string path;
    if (qv::platform::LocalPathFromFileUrl(b.href, path)) {
      if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) std::abort();
    }
  }
  std::string path;
  if (qv::platform::LocalPathFromFileUrl(text, path) && path.front() != '/') std::abort();
  return 0;
}
