#pragma once
// One hive in memory: a tree of keys, each with its values and sub-keys in stored order.
// Names compare without case (ASCII folding) and keep the spelling they were first
// written with.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/registry/registry.h"

namespace qv::platform {

// Clears the members that the value's type does not use, so that equal values compare equal.
RegValue Normalized(RegValue v);

class RegKey {
 public:
  explicit RegKey(std::string name) : name_(std::move(name)) {}
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  const std::string& name() const { return name_; }
  const std::vector<std::pair<std::string, RegValue>>& values() const { return values_; }
  const std::vector<std::unique_ptr<RegKey>>& subkeys() const { return subkeys_; }

  const RegKey* FindSubkey(std::string_view name) const;
  RegKey* FindSubkey(std::string_view name);
  // The existing sub-key of that name, or a new one appended with this spelling.
  RegKey& AddSubkey(std::string_view name, bool* created = nullptr);
  bool RemoveSubkey(std::string_view name);

  const RegValue* FindValue(std::string_view name) const;
  // Stores a normalized copy; an existing value keeps its place and spelling. True when
  // anything changed.
  bool SetValue(std::string_view name, const RegValue& v);
  bool RemoveValue(std::string_view name);

 private:
  std::string name_;
  std::vector<std::pair<std::string, RegValue>> values_;
  std::vector<std::unique_ptr<RegKey>> subkeys_;
  // ASCII-lowered name -> position, so that large keys do not make parsing quadratic.
  std::unordered_map<std::string, std::size_t> valueIndex_;
  std::unordered_map<std::string, std::size_t> keyIndex_;
};

// Same names (exact spelling), values and order throughout.
bool SameTree(const RegKey& a, const RegKey& b);

}  // namespace qv::platform
