#include "manager/status/catalog_table.h"

#include <array>
#include <cstdio>
#include <utility>

#include "manager/status/status_texts.h"
#include "platform/indexing/catalog_keys.h"
#include "service/QvRankingSvc/catalog_config.h"
#include "shell/settings/settings_constants.h"
#include "shell/settings/settings_pages.h"

namespace qv::manager {
namespace {

namespace ix = platform::indexing;
using platform::Hive;

struct StateBit {
  std::uint32_t mask;
  std::uint32_t text;
};

// Most telling first: only the first bit that is set is shown.
constexpr std::array<StateBit, 11> kStateBits = {{
    {0x10, kTextScanning},
    {0x20, kTextRecovering},
    {kMergeStateBits, kTextMerging},
    {0x4, kTextScanRequired},
    {0x80, kTextLowMemory},
    {0x100, kTextHighIo},
    {0x200, kTextMergePaused},
    {0x400, kTextReadOnly},
    {0x800, kTextBattery},
    {0x1000, kTextUserActive},
    {0x2000, kTextStarting},
}};

// Cut to at most `max` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  s.resize(n);
  return s;
}

std::string StoreKey(std::string_view keyName) {
  return std::string(settings::kStoresKey) + "\\" + std::string(keyName);
}

std::string ReadText(const platform::Registry& reg, std::string_view key, std::string_view name) {
  platform::RegValue v;
  if (reg.GetValue(Hive::CurrentUser, key, name, v) != 0) return {};
  if (v.type != platform::RegType::Sz && v.type != platform::RegType::ExpandSz) return {};
  return v.text;
}

}  // namespace

std::uint32_t StateTextId(const CatalogRow& row) {
  if (!row.registered) return kTextNotRegistered;
  if (Failed(row.query)) return 0;
  for (const auto& bit : kStateBits) {
    if (row.stateFlags & bit.mask) return bit.text;
  }
  return kTextUpToDate;
}

CatalogTable::CatalogTable(const platform::Registry& registry, const ix::CatalogAdmin& admin,
                           std::string owner, const LanguageModule* texts)
    : registry_(registry), admin_(admin), owner_(std::move(owner)), texts_(texts) {}

void CatalogTable::Clear() { rows_.clear(); }

void CatalogTable::Refresh() {
  if (rows_.size() < 3) {
    rows_.clear();
    const std::pair<std::string_view, std::uint32_t> fixed[] = {
        {"System", kTextSystemCatalog},
        {service::kWebHistoryCatalog, kTextWebHistoryCatalog},
        {service::kJournalCatalog, kTextJournalCatalog}};
    CatalogKind kind = CatalogKind::System;
    for (const auto& [name, text] : fixed) {
      CatalogRow row;
      row.name = name;
      row.displayName = StatusText(texts_, text);
      row.kind = kind;
      kind = static_cast<CatalogKind>(static_cast<int>(kind) + 1);
      rows_.push_back(std::move(row));
    }
  }
  RebuildMailRows();
  for (auto& row : rows_) ReadStatistics(row);
}

void CatalogTable::RebuildMailRows() {
  std::vector<CatalogRow> mail;
  if (settings::MailAvailable(registry_)) {
    std::vector<std::string> keys;
    registry_.EnumKeys(Hive::CurrentUser, settings::kStoresKey, keys);
    if (keys.size() > kMaxStoreKeys) keys.resize(kMaxStoreKeys);
    for (const auto& key : keys) {
      if (3 + mail.size() >= kMaxCatalogRows) break;
      std::uint32_t number = 0;
      if (!settings::ParseStoreNumber(key, number) || number == 0) continue;
      char store[16];
      std::snprintf(store, sizeof store, "%x", number);
      CatalogRow row;
      row.name = service::MailCatalogName(owner_, store);
      row.kind = CatalogKind::Mail;
      row.storeNumber = number;
      row.displayName = CutUtf8(ReadText(registry_, StoreKey(key), ""), kMaxStoreDisplayName);
      if (row.displayName.empty()) row.displayName = StatusText(texts_, kTextUnnamedStore);
      row.storePath = ReadText(registry_, StoreKey(key), "Path");
      mail.push_back(std::move(row));
    }
  }
  // A row that still names the same catalog keeps what it showed until it is read again.
  for (std::size_t i = 0; i < mail.size(); ++i) {
    const std::size_t at = 3 + i;
    if (at < rows_.size() && rows_[at].name == mail[i].name) {
      rows_[at].displayName = std::move(mail[i].displayName);
      rows_[at].storePath = std::move(mail[i].storePath);
    } else if (at < rows_.size()) {
      rows_[at] = std::move(mail[i]);
    } else {
      rows_.push_back(std::move(mail[i]));
    }
  }
  rows_.resize(3 + mail.size());
}

void CatalogTable::ReadStatistics(CatalogRow& row) const {
  row.registered = registry_.KeyExists(Hive::LocalMachine, ix::CatalogKey(row.name));
  row.location.clear();
  if (row.registered) {
    std::filesystem::path location;
    if (Succeeded(admin_.GetLocation(row.name, location)) &&
        location.native().size() <= kMaxLocation) {
      row.location = std::move(location);
    }
  }
  ix::CatalogState s;
  row.query = row.registered ? admin_.GetState(row.name, s) : E_FAIL;
  if (Failed(row.query)) {
    row.totalDocuments = row.toFilter = row.stateFlags = row.sizeMb = 0;
    return;
  }
  row.totalDocuments = s.cTotalDocuments;
  row.toFilter = s.cDocuments + s.cSecQDocuments;
  row.stateFlags = s.eState;
  row.sizeMb = s.dwIndexSize + s.dwPropCacheSize / 1024;
}

}  // namespace qv::manager
