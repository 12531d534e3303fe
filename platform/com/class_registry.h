#pragma once
// The class registry: CLSID and ProgID to a factory, so that creating an object by class
// can fail the way callers expect (REGDB_E_CLASSNOTREG, E_NOINTERFACE, the factory's code).
// Interfaces are plain C++ abstract classes deriving from ComObject.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/guid.h"
#include "common/hresult.h"

namespace qv::platform {

class ComObject {
 public:
  virtual ~ComObject() = default;
};

class ClassRegistry {
 public:
  using Factory = std::function<HRESULT(std::shared_ptr<ComObject>& out)>;

  // Registers (or replaces) a class under its CLSID, its versioned ProgID ("Pelion.X.1")
  // and its version-independent ProgID ("Pelion.X"); either ProgID may be empty.
  void Register(const Guid& clsid, std::string_view progId, std::string_view versionIndependent,
                Factory factory);
  void Unregister(const Guid& clsid);

  HRESULT Create(const Guid& clsid, std::shared_ptr<ComObject>& out) const;
  // CO_E_CLASSSTRING when no class has the ProgID.
  HRESULT ClsidFromProgId(std::string_view progId, Guid& out) const;

  template <class I>
  HRESULT CreateInstance(const Guid& clsid, std::shared_ptr<I>& out) const {
    std::shared_ptr<ComObject> obj;
    const HRESULT hr = Create(clsid, obj);
    if (Failed(hr)) return hr;
    out = std::dynamic_pointer_cast<I>(obj);
    return out ? S_OK : E_NOINTERFACE;
  }

 private:
  mutable std::mutex mutex_;
  std::map<Guid, Factory> factories_;
  std::map<std::string, Guid> progIds_;  // lower-cased
};

}  // namespace qv::platform
