// The excluded-folder entries come from the registry, where the user (or anyone who can write
// the hive) puts them. Any entries and any path: no crash, and nothing an entry makes secret,
// nor anything in the installation root, is ever taken in by a scope outside that root.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/indexing/exclusion_rules.h"
#include "platform/indexing/scope_set.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace ix = qv::platform::indexing;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  // Entries one a line; the last line is the path asked about.
  std::vector<std::string> entries;
  std::size_t at = 0;
  for (std::size_t nl; (nl = all.find('\n', at)) != std::string_view::npos; at = nl + 1) {
    entries.emplace_back(all.substr(at, nl - at));
  }
  const std::string path = ix::NormalizeScopePath(all.substr(at));
  if (path.empty()) return 0;
  auto rules = std::make_shared<const ix::ExclusionRules>(entries, "/h", "/h/.local/qv");
  const ix::ScopeSet scopes({{"/", false}, {"/h", false}, {"/h/.local", false}}, rules);
  const bool covered = scopes.Covers(path);
  if (covered && (rules->IsSecret(path) || rules->InStateRoot(path))) std::abort();
  return 0;
}
