#include "shell/settings/settings_pages.h"

#include <sys/stat.h>
#include <unistd.h>

#include "common/utf.h"
#include "context/registry_values.h"
#include "provider/ranking/base_activation.h"
#include "shell/settings/identity_text.h"
#include "shell/settings/settings_constants.h"

namespace qv::settings {

using platform::Hive;
using platform::RegType;
using platform::Registry;
using platform::RegValue;

namespace {

constexpr Hive kUser = Hive::CurrentUser;
constexpr Hive kMachine = Hive::LocalMachine;

HRESULT Check(std::int32_t rc) { return rc == 0 ? S_OK : HresultFromWin32(rc); }

// Keeps the first failure; later writes still run, as on the original apply.
struct Writes {
  HRESULT first = S_OK;
  void Take(HRESULT hr) {
    if (Failed(hr) && Succeeded(first)) first = hr;
  }
  void Dword(Registry& reg, Hive hive, std::string_view key, std::string_view name,
             std::uint32_t v) {
    Take(Check(reg.SetValue(hive, key, name, RegValue::Dword(v))));
  }
};

bool Flag(const Registry& reg, Hive hive, std::string_view key, std::string_view name) {
  return ReadFlag(reg, hive, key, name);
}

PatternLists LoadLists(const Registry& reg, std::string_view key) {
  PatternLists l;
  l.matchType = ReadDword(reg, kUser, key, kMatchType, kMatchTypeExclude, 0, kMatchTypeInclude);
  l.include = ReadMultiString(reg, kUser, key, kInclude);
  l.exclude = ReadMultiString(reg, kUser, key, kExclude);
  return l;
}

void SaveLists(Writes& w, Registry& reg, std::string_view key, const PatternLists& l) {
  w.Dword(reg, kUser, key, kMatchType, l.IncludeSelected() ? kMatchTypeInclude : kMatchTypeExclude);
  w.Take(WritePatternList(reg, key, l.IncludeSelected() ? kInclude : kExclude, l.Shown()));
}

std::string StoreKey(std::string_view keyName) {
  return std::string(kStoresKey) + "\\" + std::string(keyName);
}

}  // namespace

AdministratorRule OwnerOfRoot(std::filesystem::path root) {
  return [root = std::move(root)] {
    struct stat st {};
    return ::stat(root.c_str(), &st) == 0 && st.st_uid == ::geteuid();
  };
}

HRESULT NoMailAddIn(std::uint32_t) { return kNothingToNotify; }

void PatternLists::SetShownText(std::string_view text, PatternKind kind) {
  (IncludeSelected() ? include : exclude) = NormalisePatternText(text, kind);
}

bool MailStore::SetBit(unsigned bit, bool on) {
  if (bit >= 32 || (kEditableStoreBits >> bit & 1u) == 0) return false;
  if (on) {
    settings |= 1u << bit;
  } else {
    settings &= ~(1u << bit);
  }
  return true;
}

bool EMailPageShown(const Registry& reg) { return reg.KeyExists(Hive::ClassesRoot, kStoreClassKey); }

bool MailAvailable(const Registry& reg) {
  if (!reg.KeyExists(kMachine, kOutlookKey) || !EMailPageShown(reg)) return false;
  std::vector<std::string> profiles;
  return reg.EnumKeys(kUser, kMailProfilesKey, profiles) == 0 && !profiles.empty();
}

std::uint32_t ReadStoreSettings(const Registry& reg, std::string_view storeKeyName) {
  const std::uint32_t forAll =
      ReadDword(reg, kUser, kStoresKey, kStoreSettings, kDefaultStoreSettings);
  return ReadDword(reg, kUser, StoreKey(storeKeyName), kStoreSettings, forAll);
}

bool ParseStoreNumber(std::string_view keyName, std::uint32_t& out) {
  if (keyName.empty() || keyName.size() > 8) return false;
  std::uint32_t v = 0;
  for (char c : keyName) {
    const char l = AsciiLowerChar(c);
    std::uint32_t d = 0;
    if (l >= '0' && l <= '9') {
      d = static_cast<std::uint32_t>(l - '0');
    } else if (l >= 'a' && l <= 'f') {
      d = static_cast<std::uint32_t>(l - 'a' + 10);
    } else {
      return false;
    }
    v = v << 4 | d;
  }
  if (v == 0) return false;
  out = v;
  return true;
}

FilesPage LoadFilesPage(const Registry& reg) {
  FilesPage p;
  p.journaling = !Flag(reg, kUser, kFilesKey, kDisableJournaling);
  p.ranking = !Flag(reg, kUser, kFilesKey, kDisableRanking);
  p.lists = LoadLists(reg, kFilesKey);
  return p;
}

WebHistoryPage LoadWebHistoryPage(const Registry& reg) {
  WebHistoryPage p;
  p.journaling = !Flag(reg, kUser, kWebKey, kDisableJournaling);
  p.ranking = !Flag(reg, kUser, kWebKey, kDisableRanking);
  p.cacheChanging = !Flag(reg, kUser, kWebKey, kDisableCacheChanging);
  p.lists = LoadLists(reg, kWebKey);
  return p;
}

EMailPage LoadEMailPage(const Registry& reg) {
  EMailPage p;
  p.journaling = !Flag(reg, kUser, kMailKey, kDisableJournaling);
  p.ranking = !Flag(reg, kUser, kMailKey, kDisableRanking);
  std::vector<std::string> keys;
  if (reg.EnumKeys(kUser, kStoresKey, keys) != 0) return p;
  for (const std::string& k : keys) {
    if (p.stores.size() == kMaxStores) break;
    MailStore s;
    if (!ParseStoreNumber(k, s.number)) continue;
    s.keyName = k;
    const std::string key = StoreKey(k);
    RegValue v;
    if (reg.GetValue(kUser, key, "", v) == 0 && v.type == RegType::Sz &&
        v.text.size() < kMaxStoreNameBytes) {
      s.name = v.text;
    }
    s.path = ReadString(reg, kUser, key, kStorePath, "", kMaxStorePathChars - 1);
    s.settings = ReadStoreSettings(reg, k);
    p.stores.push_back(std::move(s));
  }
  return p;
}

GeneralPage LoadGeneralPage(const SettingsEnvironment& env) {
  const Registry& reg = env.ctx.registry;
  GeneralPage p;
  p.identity = ReadString(reg, kUser, kRootKey, kIdentity, "", kMaxIdentityUnits);
  if (p.identity.empty()) {
    // Shown as the user's name until the first save writes it.
    std::string name;
    if (env.ctx.userName && Succeeded(env.ctx.userName(name))) p.identity = CleanIdentity(name);
  }
  p.searchKeys = !Flag(reg, kMachine, kFilesKey, kNoSearchKeys);
  p.statistics = !Flag(reg, kMachine, kRootKey, kDisableStatistics) &&
                 !Flag(reg, kUser, kRootKey, kDisableStatistics);
  const std::uint32_t idle =
      ReadDword(reg, kMachine, kContentIndexKey, kWordlistUserIdle, kUserIdleDefault);
  p.userIdleOn = idle != kUserIdleOff;
  p.userIdle = idle >= 1 && idle <= kUserIdleMax ? idle : kUserIdleDefault;
  const std::uint32_t battery =
      ReadDword(reg, kMachine, kContentIndexKey, kMinWordlistBattery, kBatteryOff);
  p.batteryOn = battery <= kBatteryMax;
  p.battery = p.batteryOn ? battery : 0;
  p.machineEditable = env.isAdministrator && env.isAdministrator();
  return p;
}

SearchPage LoadSearchPage(const Registry& reg) {
  return {ReadDword(reg, kUser, kRootKey, kPartialMatch, kPartialMatchDefault, 0,
                    kPartialMatchMax)};
}

ViewPage LoadViewPage(const Registry& reg) {
  ViewPage p;
  p.mailAvailable = MailAvailable(reg);
  p.previewFiles = ReadDword(reg, kUser, kViewKey, kPreviewFiles, 1) != 0;
  p.previewFileTypes =
      ReadDword(reg, kUser, kViewKey, kPreviewFileTypes, kAllPreviewFileTypes) & kAllPreviewFileTypes;
  p.lists = LoadLists(reg, kViewKey);
  p.previewWeb = ReadDword(reg, kUser, kViewKey, kPreviewWeb, 1) != 0;
  p.previewEmail = ReadDword(reg, kUser, kViewKey, kPreviewEmail, p.mailAvailable ? 1 : 0) != 0;
  p.downloadImages = Flag(reg, kUser, kViewKey, kDownloadImages);
  return p;
}

HRESULT WritePatternList(Registry& reg, std::string_view key, std::string_view name,
                         const std::vector<std::string>& patterns) {
  if (patterns.empty()) {
    const std::int32_t rc = reg.DeleteValue(kUser, key, name);
    return rc == win32::ERROR_FILE_NOT_FOUND ? S_OK : Check(rc);
  }
  return Check(reg.SetValue(kUser, key, name, RegValue::MultiSz(patterns)));
}

HRESULT SaveFilesPage(Registry& reg, const FilesPage& p) {
  Writes w;
  w.Dword(reg, kUser, kFilesKey, kDisableJournaling, p.journaling ? 0 : 1);
  w.Dword(reg, kUser, kFilesKey, kDisableRanking, p.ranking ? 0 : 1);
  SaveLists(w, reg, kFilesKey, p.lists);
  return w.first;
}

HRESULT SaveWebHistoryPage(Registry& reg, const WebHistoryPage& p) {
  Writes w;
  w.Dword(reg, kUser, kWebKey, kDisableJournaling, p.journaling ? 0 : 1);
  w.Dword(reg, kUser, kWebKey, kDisableRanking, p.ranking ? 0 : 1);
  w.Dword(reg, kUser, kWebKey, kDisableCacheChanging, p.cacheChanging ? 0 : 1);
  SaveLists(w, reg, kWebKey, p.lists);
  return w.first;
}

HRESULT SaveEMailPage(const SettingsEnvironment& env, const EMailPage& loaded,
                      const EMailPage& edited, std::vector<HRESULT>* notified) {
  Registry& reg = env.ctx.registry;
  Writes w;
  if (edited.journaling != loaded.journaling) {
    w.Dword(reg, kUser, kMailKey, kDisableJournaling, edited.journaling ? 0 : 1);
  }
  if (edited.ranking != loaded.ranking) {
    w.Dword(reg, kUser, kMailKey, kDisableRanking, edited.ranking ? 0 : 1);
  }
  for (const MailStore& s : edited.stores) {
    const MailStore* before = nullptr;
    for (const MailStore& l : loaded.stores) {
      if (l.number == s.number) before = &l;
    }
    if (before && before->settings == s.settings) continue;
    const std::string key = StoreKey(s.keyName);
    const HRESULT hr = Check(reg.SetValue(kUser, key, kStoreSettings, RegValue::Dword(s.settings)));
    w.Take(hr);
    if (Failed(hr)) continue;  // nothing changed for the add-in to pick up
    for (std::string_view name : kStoreSyncValues) {
      const std::int32_t rc = reg.DeleteValue(kUser, key, name);
      if (rc != win32::ERROR_FILE_NOT_FOUND) w.Take(Check(rc));
    }
    const HRESULT n = env.notifyStore ? env.notifyStore(s.number) : kNothingToNotify;
    if (notified) notified->push_back(n);
  }
  return w.first;
}

HRESULT SaveGeneralPage(const SettingsEnvironment& env, const GeneralPage& loaded,
                        const GeneralPage& edited, bool* indexerChanged) {
  Registry& reg = env.ctx.registry;
  if (indexerChanged) *indexerChanged = false;
  Writes w;
  const std::string identity = CleanIdentity(edited.identity);
  if (!identity.empty()) {
    RegValue stored;
    const bool same = reg.GetValue(kUser, kRootKey, kIdentity, stored) == 0 &&
                      stored.type == RegType::Sz && stored.text == identity;
    if (!same) w.Take(Check(reg.SetValue(kUser, kRootKey, kIdentity, RegValue::Sz(identity))));
  }

  const std::uint32_t idleBefore = loaded.userIdleOn ? loaded.userIdle : kUserIdleOff;
  std::uint32_t idle = kUserIdleOff;
  if (edited.userIdleOn) {
    idle = edited.userIdle >= 1 && edited.userIdle <= kUserIdleMax ? edited.userIdle
                                                                   : kUserIdleDefault;
  }
  const std::uint32_t batteryBefore = loaded.batteryOn ? loaded.battery : kBatteryOff;
  const std::uint32_t battery =
      edited.batteryOn && edited.battery <= kBatteryMax ? edited.battery : kBatteryOff;
  const bool machineChanged = edited.searchKeys != loaded.searchKeys ||
                              edited.statistics != loaded.statistics || idle != idleBefore ||
                              battery != batteryBefore;
  if (!machineChanged) return w.first;
  if (!env.isAdministrator || !env.isAdministrator()) {
    w.Take(E_ACCESSDENIED);
    return w.first;
  }
  if (edited.searchKeys != loaded.searchKeys) {
    w.Dword(reg, kMachine, kFilesKey, kNoSearchKeys, edited.searchKeys ? 0 : 1);
  }
  if (edited.statistics != loaded.statistics) {
    w.Dword(reg, kMachine, kRootKey, kDisableStatistics, edited.statistics ? 0 : 1);
  }
  if (idle != idleBefore || battery != batteryBefore) {
    w.Dword(reg, kMachine, kContentIndexKey, kWordlistUserIdle, idle);
    w.Dword(reg, kMachine, kContentIndexKey, kMinWordlistBattery, battery);
    if (indexerChanged) *indexerChanged = true;
  }
  return w.first;
}

HRESULT SaveSearchPage(Registry& reg, const SearchPage& p) {
  const std::uint32_t v = p.partialMatch <= kPartialMatchMax ? p.partialMatch : kPartialMatchDefault;
  return Check(reg.SetValue(kUser, kRootKey, kPartialMatch, RegValue::Dword(v)));
}

HRESULT SaveViewPage(Registry& reg, const ViewPage& p) {
  Writes w;
  w.Dword(reg, kUser, kViewKey, kPreviewFiles, p.previewFiles ? 1 : 0);
  w.Dword(reg, kUser, kViewKey, kPreviewFileTypes, p.previewFileTypes & kAllPreviewFileTypes);
  SaveLists(w, reg, kViewKey, p.lists);
  w.Dword(reg, kUser, kViewKey, kPreviewWeb, p.previewWeb ? 1 : 0);
  w.Dword(reg, kUser, kViewKey, kPreviewEmail, p.previewEmail ? 1 : 0);
  w.Dword(reg, kUser, kViewKey, kDownloadImages, p.downloadImages ? 1 : 0);
  return w.first;
}

HRESULT IdentityHash(Context& ctx, std::uint32_t& out) {
  ULONG scope = 0;
  const HRESULT hr = BaseActivation(ctx).ComputeScope(scope);
  if (Succeeded(hr)) out = scope;
  return hr;
}

}  // namespace qv::settings
