#include "platform/com/class_registry.h"

#include "common/utf.h"

namespace qv::platform {

void ClassRegistry::Register(const Guid& clsid, std::string_view progId,
                             std::string_view versionIndependent, Factory factory) {
  std::lock_guard lock(mutex_);
  factories_[clsid] = std::move(factory);
  if (!progId.empty()) progIds_[AsciiLower(progId)] = clsid;
  if (!versionIndependent.empty()) progIds_[AsciiLower(versionIndependent)] = clsid;
}

void ClassRegistry::Unregister(const Guid& clsid) {
  std::lock_guard lock(mutex_);
  factories_.erase(clsid);
  std::erase_if(progIds_, [&](const auto& kv) { return kv.second == clsid; });
}

HRESULT ClassRegistry::Create(const Guid& clsid, std::shared_ptr<ComObject>& out) const {
  Factory factory;
  {
    std::lock_guard lock(mutex_);
    auto it = factories_.find(clsid);
    if (it == factories_.end()) return REGDB_E_CLASSNOTREG;
    factory = it->second;
  }
  // The factory runs outside the lock: it may create other classes itself.
  const HRESULT hr = factory(out);
  if (Succeeded(hr) && !out) return E_UNEXPECTED;
  return hr;
}

HRESULT ClassRegistry::ClsidFromProgId(std::string_view progId, Guid& out) const {
  std::lock_guard lock(mutex_);
  auto it = progIds_.find(AsciiLower(progId));
  if (it == progIds_.end()) return CO_E_CLASSSTRING;
  out = it->second;
  return S_OK;
}

}  // namespace qv::platform
