#pragma once
// Which paths a catalog's scopes take in: a path is in when it is an included folder or lies
// below one, and no excluded scope takes it out. Excluded scopes may be patterns, where "*"
// stands for any run of characters ("/home/*/AppData/*"). Hidden files and folders (names
// beginning with ".") below a scope's folder are left out; a scope that names a hidden
// folder itself takes it in. With exclusion rules, secret folders are never taken in, nor
// the installation root, unless the scope's folder lies inside that root.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform::indexing {

// Lexically normal, absolute, without a trailing slash (except "/" itself); empty when the
// path is relative or empty.
std::string NormalizeScopePath(std::string_view path);
// `path` is `folder` or lies below it (both normalized).
bool IsAtOrBelow(std::string_view path, std::string_view folder);

class ExclusionRules;

struct ScopeEntry {
  std::string path;
  bool excluded = false;
};

class ScopeSet {
 public:
  explicit ScopeSet(const std::vector<ScopeEntry>& scopes,
                    std::shared_ptr<const ExclusionRules> rules = nullptr);
  // Some scope takes the path in.
  bool Covers(std::string_view path) const;
  // The scope with its folder at `root` takes in `path` (at or below root).
  bool Admits(std::string_view root, std::string_view path) const;
  // An excluded scope or a secret folder takes the path out, whatever the scope.
  bool IsExcluded(std::string_view path) const;
  const std::vector<std::string>& roots() const { return included_; }

 private:
  std::vector<std::string> included_;
  std::vector<std::string> excluded_;
  std::shared_ptr<const ExclusionRules> rules_;
};

}  // namespace qv::platform::indexing
