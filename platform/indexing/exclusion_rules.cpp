#include "platform/indexing/exclusion_rules.h"

#include <algorithm>

#include <fnmatch.h>

#include "platform/folders/folders.h"
#include "platform/indexing/scope_set.h"

namespace qv::platform::indexing {
namespace {

std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < path.size()) {
    const std::size_t slash = path.find('/', at);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > at) out.emplace_back(path.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

bool PartMatches(const std::string& pattern, const std::string& name) {
  if (pattern.find_first_of("*?[") == std::string::npos) return pattern == name;
  return fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) == 0;
}

bool MatchesAt(const std::vector<std::string>& parts, const std::vector<std::string>& path,
               std::size_t start) {
  if (start + parts.size() > path.size()) return false;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!PartMatches(parts[i], path[start + i])) return false;
  }
  return true;
}

}  // namespace

ExclusionRules::ExclusionRules(const std::vector<std::string>& extra,
                               const std::filesystem::path& home,
                               const std::filesystem::path& stateRoot) {
  std::vector<std::string> all(kBuiltinExcludedFolders.begin(), kBuiltinExcludedFolders.end());
  all.insert(all.end(), extra.begin(), extra.end());
  const std::string homeText = NormalizeScopePath(home.string());
  for (const auto& raw : all) {
    std::string text = raw;
    if (text == "~" || text.starts_with("~/")) {
      if (homeText.empty()) continue;  // no home folder to anchor it to
      text = homeText + text.substr(1);
    }
    Entry e;
    e.anchored = !text.empty() && text.front() == '/';
    e.parts = Components(text);
    // "." and ".." name no folder: such an entry is ignored.
    if (std::any_of(e.parts.begin(), e.parts.end(),
                    [](const std::string& p) { return p == "." || p == ".."; })) {
      e.parts.clear();
    }
    if (e.parts.empty()) continue;
    text_ += raw + "\n";
    entries_.push_back(std::move(e));
  }
  // A root given as a relative path (QV_ROOT=./x) is still left out.
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(stateRoot, ec);
  if (std::string s = NormalizeScopePath(ec ? stateRoot.string() : absolute.string());
      !s.empty()) {
    stateRoots_.push_back(s);
    const std::string real = NormalizeScopePath(std::filesystem::weakly_canonical(s, ec).string());
    if (!ec && !real.empty() && real != s) stateRoots_.push_back(real);
  }
}

ExclusionRules ExclusionRules::Load(Registry& registry, const std::filesystem::path& stateRoot) {
  std::vector<std::string> extra;
  std::vector<std::pair<std::string, RegValue>> values;
  if (registry.EnumValues(Hive::LocalMachine, kExcludedFoldersKey, values) == 0) {
    for (const auto& [name, value] : values) {
      if (!name.empty()) extra.push_back(name);
    }
  } else if (!registry.KeyExists(Hive::LocalMachine, kExcludedFoldersKey)) {
    // Shown to the user; a failure to write it changes nothing of what is left out.
    for (const auto entry : kBuiltinExcludedFolders) {
      registry.SetValue(Hive::LocalMachine, kExcludedFoldersKey, entry, RegValue::Sz("built-in"));
    }
  }
  return ExclusionRules(extra, KnownFolderPath(stateRoot, KnownFolder::Personal), stateRoot);
}

bool ExclusionRules::IsSecret(std::string_view path) const {
  const auto parts = Components(path);
  for (const auto& e : entries_) {
    if (e.anchored) {
      if (MatchesAt(e.parts, parts, 0)) return true;
      continue;
    }
    for (std::size_t start = 0; start + e.parts.size() <= parts.size(); ++start) {
      if (MatchesAt(e.parts, parts, start)) return true;
    }
  }
  return false;
}

bool ExclusionRules::InStateRoot(std::string_view path) const {
  for (const auto& r : stateRoots_) {
    if (IsAtOrBelow(path, r)) return true;
  }
  return false;
}

bool ExclusionRules::InsideStateRoot(std::string_view path) const {
  for (const auto& r : stateRoots_) {
    if (path != r && IsAtOrBelow(path, r)) return true;
  }
  return false;
}

std::string ExclusionRules::Describe() const {
  std::string out = text_;
  for (const auto& r : stateRoots_) out += "root " + r + "\n";
  return out;
}

}  // namespace qv::platform::indexing
