#pragma once
// Property sets in the standard OLE property-set stream layout: byte order 0xFFFE, a header
// with the class identifier, one section under its FMTID, the PROPID/offset table, the code
// page property (PROPID 1), the dictionary that names properties (PROPID 0) and the typed
// values. All integers little-endian; every value starts on a 4-byte boundary.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "common/oledate.h"

namespace qv::platform {

enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_DATE = 7,
  VT_UI4 = 19,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_CLSID = 72,
};

inline constexpr std::uint32_t PID_DICTIONARY = 0;
inline constexpr std::uint32_t PID_CODEPAGE = 1;
inline constexpr std::uint16_t kCodePageUtf8 = 65001;
inline constexpr std::uint16_t kCodePageUnicode = 1200;
// Single-byte code pages converted to and from UTF-8. Strings in any other code page are kept
// as their stored bytes, so they are written back unchanged.
inline constexpr std::uint16_t kCodePageWindows1252 = 1252;
inline constexpr std::uint16_t kCodePageLatin1 = 28591;

// One typed value. Strings are UTF-8 in memory whatever their stored form and end at their
// first NUL; a value of a type this reader does not know keeps its raw bytes (everything after
// the type field up to the next value) so it can be written back unchanged.
struct PropVariant {
  std::uint16_t vt = VT_EMPTY;
  std::int32_t i4 = 0;          // VT_I2, VT_I4
  std::uint32_t ui4 = 0;        // VT_UI4
  double date = 0.0;            // VT_DATE
  Guid clsid;                   // VT_CLSID
  std::string str;              // VT_LPSTR, VT_LPWSTR
  FileTime filetime = 0;        // VT_FILETIME
  std::vector<std::uint8_t> blob;  // VT_BLOB, or the raw value of an unknown type

  static PropVariant I2(std::int16_t v);
  static PropVariant I4(std::int32_t v);
  static PropVariant UI4(std::uint32_t v);
  static PropVariant Date(double v);
  static PropVariant Clsid(const Guid& g);
  static PropVariant Lpstr(std::string s);
  static PropVariant Lpwstr(std::string s);
  static PropVariant FileTimeValue(FileTime v);
  static PropVariant Blob(std::vector<std::uint8_t> v);
  friend bool operator==(const PropVariant&, const PropVariant&) = default;
};

struct PropertySet {
  Guid fmtid;
  Guid clsid;                             // the set's class identifier
  std::uint16_t codePage = kCodePageUtf8; // code page of VT_LPSTR values and the dictionary
  std::map<std::uint32_t, std::string> names;      // dictionary; written when not empty
  std::map<std::uint32_t, PropVariant> values;     // PROPIDs 2 and above
  friend bool operator==(const PropertySet&, const PropertySet&) = default;
};

// Limits that keep a hostile stream from asking for unbounded work or memory.
inline constexpr std::size_t kMaxPropertySetStream = 1 << 20;
inline constexpr std::uint32_t kMaxPropertiesPerSet = 4096;

// Version 0 stream with one section. Its table and values come in this order: the code page,
// the dictionary (when there are names), the values by PROPID; values under PROPIDs 0 and 1
// are not written. The same set always gives the same bytes.
std::vector<std::uint8_t> SerializePropertySet(const PropertySet& set);
// Reads the first section of a stream. A stream that is not a property set, or whose
// counts, offsets or sizes point outside it, gives STG_E_INVALIDHEADER (header) or
// STG_E_DOCFILECORRUPT (section); nothing is read past the end of `bytes`.
HRESULT ParsePropertySet(std::span<const std::uint8_t> bytes, PropertySet& out);

}  // namespace qv::platform
