#pragma once
// CIHelper: creates and repairs the catalogs that the search runs on, so that they index the
// right folders and cache the system's own properties, and keeps the "System" catalog out of
// the users' application data.
#include <cstdint>
#include <string>
#include <string_view>

#include "context/context.h"
#include "interfaces/ibase_activation.h"

namespace qv {

inline constexpr Guid CLSID_CIHelper =
    MakeGuid(0xDF3FBDC3, 0x79CC, 0x4C4E, 0x97, 0x18, 0x2B, 0x79, 0xFF, 0xA4, 0x8B, 0xB1);
inline constexpr Guid IID_ICIHelper =
    MakeGuid(0xA8B9467A, 0x4BF8, 0x4B79, 0xA1, 0xEE, 0x86, 0xE8, 0x56, 0xD2, 0xA7, 0x26);
inline constexpr const char* kProgIdCIHelper = "Pelion.CIHelper.1";
inline constexpr const char* kProgIdCIHelperIndependent = "Pelion.CIHelper";

// Catalog kinds (nType): the journal catalog; any other value is a document catalog.
inline constexpr ULONG kCatalogTypeJournal = 3;

class ICIHelper : public virtual platform::ComObject {
 public:
  // Null strings are null pointers; either output may be null.
  virtual HRESULT RepairCatalog(const std::string* CatalogName, VARIANT_BOOL bShared,
                                ULONG nType, const std::string* OwnerSID,
                                const std::string* Scope, VARIANT_BOOL* bRequiresRestart,
                                VARIANT_BOOL* bRebuildCatalog) = 0;
};

// The naming rule of the system's catalogs: 1 to 64 characters, no blank, no backslash, no
// slash and no "..", and either "System" or a name beginning with "Quillon" (any case).
bool IsAcceptedCatalogName(std::string_view name);

class CIHelper final : public ICIHelper {
 public:
  explicit CIHelper(const Context& ctx) : ctx_(ctx) {}
  HRESULT RepairCatalog(const std::string* CatalogName, VARIANT_BOOL bShared, ULONG nType,
                        const std::string* OwnerSID, const std::string* Scope,
                        VARIANT_BOOL* bRequiresRestart, VARIANT_BOOL* bRebuildCatalog) override;

 private:
  const Context& ctx_;
};

void RegisterCIHelper(const Context& ctx);

}  // namespace qv
