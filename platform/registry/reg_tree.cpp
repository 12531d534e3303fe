#include "platform/registry/reg_tree.h"

#include "common/utf.h"

namespace qv::platform {

RegValue Normalized(RegValue v) {
  RegValue out;
  out.type = v.type;
  switch (v.type) {
    case RegType::Dword: out.dword = v.dword; break;
    case RegType::Sz:
    case RegType::ExpandSz: out.text = std::move(v.text); break;
    case RegType::MultiSz: out.strings = std::move(v.strings); break;
    case RegType::Binary: out.binary = std::move(v.binary); break;
  }
  return out;
}

const RegKey* RegKey::FindSubkey(std::string_view name) const {
  const auto it = keyIndex_.find(AsciiLower(name));
  return it == keyIndex_.end() ? nullptr : subkeys_[it->second].get();
}

RegKey* RegKey::FindSubkey(std::string_view name) {
  return const_cast<RegKey*>(std::as_const(*this).FindSubkey(name));
}

RegKey& RegKey::AddSubkey(std::string_view name, bool* created) {
  auto [it, inserted] = keyIndex_.try_emplace(AsciiLower(name), subkeys_.size());
  if (created) *created = inserted;
  if (inserted) subkeys_.push_back(std::make_unique<RegKey>(std::string(name)));
  return *subkeys_[it->second];
}

bool RegKey::RemoveSubkey(std::string_view name) {
  const auto it = keyIndex_.find(AsciiLower(name));
  if (it == keyIndex_.end()) return false;
  const std::size_t pos = it->second;
  keyIndex_.erase(it);
  subkeys_.erase(subkeys_.begin() + static_cast<std::ptrdiff_t>(pos));
  for (auto& [k, i] : keyIndex_) {
    if (i > pos) --i;
  }
  return true;
}

const RegValue* RegKey::FindValue(std::string_view name) const {
  const auto it = valueIndex_.find(AsciiLower(name));
  return it == valueIndex_.end() ? nullptr : &values_[it->second].second;
}

bool RegKey::SetValue(std::string_view name, const RegValue& v) {
  RegValue n = Normalized(v);
  auto [it, inserted] = valueIndex_.try_emplace(AsciiLower(name), values_.size());
  if (inserted) {
    values_.emplace_back(std::string(name), std::move(n));
    return true;
  }
  RegValue& slot = values_[it->second].second;
  if (slot == n) return false;
  slot = std::move(n);
  return true;
}

bool RegKey::RemoveValue(std::string_view name) {
  const auto it = valueIndex_.find(AsciiLower(name));
  if (it == valueIndex_.end()) return false;
  const std::size_t pos = it->second;
  valueIndex_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(pos));
  for (auto& [k, i] : valueIndex_) {
    if (i > pos) --i;
  }
  return true;
}

bool SameTree(const RegKey& a, const RegKey& b) {
  if (a.name() != b.name() || a.values() != b.values() ||
      a.subkeys().size() != b.subkeys().size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.subkeys().size(); ++i) {
    if (!SameTree(*a.subkeys()[i], *b.subkeys()[i])) return false;
  }
  return true;
}

}  // namespace qv::platform
