// The small value types of registry.h: typed values and hive names.
#include "common/utf.h"
#include "platform/registry/registry.h"

namespace qv::platform {

RegValue RegValue::Dword(std::uint32_t v) {
  RegValue r;
  r.type = RegType::Dword;
  r.dword = v;
  return r;
}

RegValue RegValue::Sz(std::string_view s) {
  RegValue r;
  r.type = RegType::Sz;
  r.text = s;
  return r;
}

RegValue RegValue::ExpandSz(std::string_view s) {
  RegValue r;
  r.type = RegType::ExpandSz;
  r.text = s;
  return r;
}

RegValue RegValue::MultiSz(std::vector<std::string> v) {
  RegValue r;
  r.type = RegType::MultiSz;
  r.strings = std::move(v);
  return r;
}

RegValue RegValue::Binary(std::vector<std::uint8_t> v) {
  RegValue r;
  r.type = RegType::Binary;
  r.binary = std::move(v);
  return r;
}

bool ParseHiveName(std::string_view name, Hive& out) {
  struct Entry {
    std::string_view full, abbrev;
    Hive hive;
  };
  static constexpr Entry kHives[] = {
      {"HKEY_LOCAL_MACHINE", "HKLM", Hive::LocalMachine},
      {"HKEY_CURRENT_USER", "HKCU", Hive::CurrentUser},
      {"HKEY_CLASSES_ROOT", "HKCR", Hive::ClassesRoot},
  };
  for (const Entry& e : kHives) {
    if (EqualsNoCase(name, e.full) || EqualsNoCase(name, e.abbrev)) {
      out = e.hive;
      return true;
    }
  }
  return false;
}

std::string_view HiveName(Hive h) {
  switch (h) {
    case Hive::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case Hive::CurrentUser: return "HKEY_CURRENT_USER";
    case Hive::ClassesRoot: return "HKEY_CLASSES_ROOT";
  }
  return "HKEY_CURRENT_USER";
}

}  // namespace qv::platform
