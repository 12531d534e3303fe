// Reads arbitrary text as the catalog values of the registry, which the user (or another
// version) may have written by hand: a catalog name, a scope's data, a property-cache
// registration (value name, a line feed, then its data) and a loose GUID. Nothing may crash,
// and a name accepted as a catalog's can never lead out of the catalogs' folder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/indexing/catalog_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform::indexing;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (IsPlainCatalogName(text) &&
      (text.empty() || text.find('/') != std::string_view::npos ||
       text.find("..") != std::string_view::npos || text.find('\0') != std::string_view::npos)) {
    __builtin_trap();
  }
  bool excluded = false;
  ParseScopeData(text, excluded);
  qv::Guid g;
  ParseLooseGuid(text, g);
  const auto nl = text.find('\n');
  const std::string_view name = text.substr(0, nl);
  const std::string_view value = nl == std::string_view::npos ? "" : text.substr(nl + 1);
  CachedProperty p;
  if (ParseCachedProperty(name, value, p)) {
    const std::string key = p.Key();
    if (key.empty() || key.front() != '{') __builtin_trap();
  }
  return 0;
}
