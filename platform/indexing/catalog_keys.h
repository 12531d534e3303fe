#pragma once
// Where catalogs, their scopes and their cached properties are registered, and how those
// registry values read. The same keys are written by the catalog maintenance (CIHelper) and
// read by the engine, so what the one writes is what the other uses.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/guid.h"

namespace qv::platform::indexing {

// Under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kCatalogsKey =
    "SYSTEM\\CurrentControlSet\\Control\\ContentIndex\\Catalogs";
inline constexpr std::string_view kLocationValue = "Location";
inline constexpr std::string_view kScopesSubkey = "Scopes";
inline constexpr std::string_view kPropertiesSubkey = "Properties";
// The folder inside a catalog's location that holds its index; deleting it forces a rebuild.
inline constexpr std::string_view kIndexFolder = "Catalog.wci";
inline constexpr std::string_view kIndexDatabase = "index.db";
inline constexpr std::size_t kMaxCatalogName = 64;

// Scope data "<alias>,<user>,<flags>": bit 0 of flags set means the folder is indexed,
// clear means it is excluded.
inline constexpr std::string_view kIncludedScopeData = ",,5";
inline constexpr std::string_view kExcludedScopeData = ",,4";

// A catalog name the engine accepts: 1 to 64 characters, no path separator, no "..", no
// control character. Such a name can never lead out of the folder it names.
bool IsPlainCatalogName(std::string_view name);

std::string CatalogKey(std::string_view name);
std::string ScopesKey(std::string_view name);
std::string PropertiesKey(std::string_view name);

// nullopt-like: false when the data does not read as "<alias>,<user>,<flags>".
bool ParseScopeData(std::string_view data, bool& excluded);

// One property-cache registration: value name "<FMTID> <PROPID or name>", data
// "<variant type>,<size>,<store level>,<flag>".
struct CachedProperty {
  Guid fmtid;
  std::variant<std::uint32_t, std::string> id{std::uint32_t{0}};
  std::uint16_t vt = 0;
  std::uint32_t size = 0;
  std::uint32_t level = 0;
  // "{FMTID} propid" with the GUID upper-case and a name lower-case: the one spelling
  // under which the engine keys the property.
  std::string Key() const;
};

bool ParseCachedProperty(std::string_view valueName, std::string_view data,
                         CachedProperty& out);
// "{FMTID}" with or without braces.
bool ParseLooseGuid(std::string_view text, Guid& out);
// The key of a property (its set and id) without building a CachedProperty.
std::string PropertyKey(const Guid& fmtid, const std::variant<std::uint32_t, std::string>& id);

}  // namespace qv::platform::indexing
