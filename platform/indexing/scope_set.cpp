#include "platform/indexing/scope_set.h"

#include <fnmatch.h>

#include <filesystem>

#include "platform/indexing/exclusion_rules.h"

namespace qv::platform::indexing {

std::string NormalizeScopePath(std::string_view path) {
  if (path.empty() || path.front() != '/') return {};
  std::string s = std::filesystem::path(path).lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool IsAtOrBelow(std::string_view path, std::string_view folder) {
  if (folder == "/") return !path.empty() && path.front() == '/';
  if (path.size() < folder.size() || path.substr(0, folder.size()) != folder) return false;
  return path.size() == folder.size() || path[folder.size()] == '/';
}

ScopeSet::ScopeSet(const std::vector<ScopeEntry>& scopes,
                   std::shared_ptr<const ExclusionRules> rules)
    : rules_(std::move(rules)) {
  for (const auto& s : scopes) {
    if (s.excluded) {
      // Patterns stay as written (a pattern's "*" must survive); plain folders normalized.
      const bool pattern = s.path.find_first_of("*?[") != std::string::npos;
      std::string p = pattern ? s.path : NormalizeScopePath(s.path);
      if (!p.empty()) excluded_.push_back(std::move(p));
    } else {
      std::string p = NormalizeScopePath(s.path);
      if (!p.empty()) included_.push_back(std::move(p));
    }
  }
}

bool ScopeSet::IsExcluded(std::string_view path) const {
  const std::string p(path);
  for (const auto& e : excluded_) {
    if (e.find_first_of("*?[") != std::string::npos) {
      if (fnmatch(e.c_str(), p.c_str(), 0) == 0) return true;
    } else if (IsAtOrBelow(p, e)) {
      return true;
    }
  }
  return rules_ && rules_->IsSecret(p);
}

bool ScopeSet::Admits(std::string_view root, std::string_view path) const {
  if (!IsAtOrBelow(path, root) || IsExcluded(path)) return false;
  // The root's own stores are reached only by a scope that points inside the root.
  if (rules_ && rules_->InStateRoot(path) && !rules_->InsideStateRoot(root)) return false;
  // A name beginning with "." below the scope's folder is hidden.
  const std::size_t from = root == "/" ? 0 : root.size();
  return path.find("/.", from) == std::string_view::npos;
}

bool ScopeSet::Covers(std::string_view path) const {
  for (const auto& in : included_) {
    if (Admits(in, path)) return true;
  }
  return false;
}

}  // namespace qv::platform::indexing
