#pragma once
// Which paths a catalog's scopes take in: a path is in when it is an included folder or lies
// below one, and no excluded scope takes it out. Excluded scopes may be patterns, where "*"
// stands for any run of characters ("/home/*/AppData/*").
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform::indexing {

// Lexically normal, absolute, without a trailing slash (except "/" itself); empty when the
// path is relative or empty.
std::string NormalizeScopePath(std::string_view path);
// `path` is `folder` or lies below it (both normalized).
bool IsAtOrBelow(std::string_view path, std::string_view folder);

struct ScopeEntry {
  std::string path;
  bool excluded = false;
};

class ScopeSet {
 public:
  explicit ScopeSet(const std::vector<ScopeEntry>& scopes);
  bool Covers(std::string_view path) const;
  bool IsExcluded(std::string_view path) const;
  const std::vector<std::string>& roots() const { return included_; }

 private:
  std::vector<std::string> included_;
  std::vector<std::string> excluded_;
};

}  // namespace qv::platform::indexing
