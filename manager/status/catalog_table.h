#pragma once
// The status sheet's catalog table: the shared catalogs System, QuillonWebHistory and
// QuillonJournal, then one private catalog per mail store of the user, each with what the
// catalog engine reports about it (documents, documents still to filter, state, size).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/hresult.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/registry/registry.h"

namespace qv {
class LanguageModule;
}

namespace qv::manager {

inline constexpr std::size_t kMaxCatalogRows = 31;
// Store sub-keys looked at, whatever their names.
inline constexpr std::size_t kMaxStoreKeys = 256;
// A store's display name is cut to this many bytes.
inline constexpr std::size_t kMaxStoreDisplayName = 512;
// A catalog location longer than this counts as none.
inline constexpr std::size_t kMaxLocation = 260;
// State bits that all read as "merging" (the merges and reading the change journal).
inline constexpr std::uint32_t kMergeStateBits = 0x404B;

enum class CatalogKind { System = 1, WebHistory = 2, Journal = 3, Mail = 4 };

struct CatalogRow {
  std::string name;
  std::string displayName;
  CatalogKind kind = CatalogKind::System;
  std::uint32_t storeNumber = 0;  // mail catalogs only
  std::string storePath;          // mail catalogs only
  std::filesystem::path location;
  bool registered = false;
  std::uint32_t totalDocuments = 0;
  std::uint32_t toFilter = 0;
  std::uint32_t stateFlags = 0;
  std::uint32_t sizeMb = 0;
  HRESULT query = E_FAIL;  // the last statistics query
};

// The number of the row's state text, 0 for none (the statistics could not be read). The
// first condition that holds wins: not registered, query failed, then the state bits from
// scanning down to starting, else up to date.
std::uint32_t StateTextId(const CatalogRow& row);

class CatalogTable {
 public:
  // `owner` is the user's security identifier text; private mail catalogs are named after
  // its scope hash.
  CatalogTable(const platform::Registry& registry, const platform::indexing::CatalogAdmin& admin,
               std::string owner, const LanguageModule* texts = nullptr);

  // Rebuilds the mail rows (only while mail is available), then reads every row's location
  // and statistics. A catalog that cannot be read is left with empty numbers; the others are
  // unaffected.
  void Refresh();
  // Forgets the rows (the sheet closed); the next refresh starts over.
  void Clear();

  const std::vector<CatalogRow>& rows() const { return rows_; }

 private:
  void RebuildMailRows();
  void ReadStatistics(CatalogRow& row) const;

  const platform::Registry& registry_;
  const platform::indexing::CatalogAdmin& admin_;
  std::string owner_;
  const LanguageModule* texts_;
  std::vector<CatalogRow> rows_;
};

}  // namespace qv::manager
