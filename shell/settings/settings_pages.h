#pragma once
// Headless models of the six settings pages: Files, Web history, E-mail, General, Search and
// View. Each page loads every value it shows, with its default where a value is missing, of
// the wrong type or out of range, and saves with the page's rules. A window binds its controls
// to these structures; the command line (qvsettings) uses the same ones.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"
#include "context/context.h"
#include "shell/settings/pattern_lists.h"

namespace qv::settings {

// Who may change machine-wide values. On this platform the machine hive belongs to one
// installation, so its owner (the user who owns QV_ROOT) is its administrator.
using AdministratorRule = std::function<bool()>;
AdministratorRule OwnerOfRoot(std::filesystem::path root);

// Tells the mail add-in that a store's settings changed, so it synchronises the store anew.
// kNothingToNotify means no add-in is running, which is no error.
using StoreNotifier = std::function<HRESULT(std::uint32_t storeNumber)>;
HRESULT NoMailAddIn(std::uint32_t storeNumber);

struct SettingsEnvironment {
  Context& ctx;
  AdministratorRule isAdministrator;
  StoreNotifier notifyStore = NoMailAddIn;
};

// The include and exclude lists of a page; only the one `matchType` selects is shown,
// edited and saved.
struct PatternLists {
  std::uint32_t matchType = 0;  // 0 exclude, 1 include
  std::vector<std::string> include;
  std::vector<std::string> exclude;

  bool IncludeSelected() const { return matchType == 1; }
  const std::vector<std::string>& Shown() const { return IncludeSelected() ? include : exclude; }
  std::string ShownText() const { return PatternText(Shown()); }
  // What the editor does when it loses the focus: the normalised text replaces the list.
  void SetShownText(std::string_view text, PatternKind kind);
};

struct FilesPage {
  bool journaling = true;
  bool ranking = true;
  PatternLists lists;
};

struct WebHistoryPage {
  bool journaling = true;
  bool ranking = true;
  // The stored choice. The box is enabled only while ranking is on and shows cleared while
  // ranking is off; that display never changes the stored choice.
  bool cacheChanging = true;
  PatternLists lists;
  bool CacheBoxEnabled() const { return ranking; }
  bool CacheBoxChecked() const { return ranking && cacheChanging; }
};

struct MailStore {
  std::uint32_t number = 0;     // the sub-key's name, a nonzero hexadecimal number
  std::string keyName;          // as the registry spells it
  std::string name;             // the store's display name
  std::string path;             // its folder
  std::uint32_t settings = 0;   // option bits

  bool Bit(unsigned bit) const { return bit < 32 && (settings >> bit & 1u) != 0; }
  // Only the bits 0, 1, 2 and 4 to 9 are edited; false (and nothing changed) for others.
  bool SetBit(unsigned bit, bool on);
};

struct EMailPage {
  bool journaling = true;
  bool ranking = true;
  std::vector<MailStore> stores;  // at most 256, in registry order
  bool StoreControlsEnabled() const { return !stores.empty(); }
};

struct GeneralPage {
  std::string identity;
  bool searchKeys = true;        // machine NoSearchKeys = 0
  bool statistics = true;        // neither DisableStatistics is set
  bool userIdleOn = true;        // indexer: merge word lists when the user is idle
  std::uint32_t userIdle = 120;  // seconds, 1 to 1200
  bool batteryOn = false;        // indexer: stop below this battery level
  std::uint32_t battery = 0;     // percent, 0 to 99
  bool machineEditable = false;  // the machine-wide controls are enabled
};

struct SearchPage {
  std::uint32_t partialMatch = 50;  // 0 to 100, slider steps of 10
};

struct ViewPage {
  bool previewFiles = true;
  std::uint32_t previewFileTypes = 0x3F;
  PatternLists lists;
  bool previewWeb = true;
  bool previewEmail = false;
  bool downloadImages = false;
  bool mailAvailable = false;  // the e-mail boxes are shown only then
  bool DownloadImagesEnabled() const { return previewEmail; }
};

// Mail is available when the mail client is installed, the add-in's store class is
// registered and the user has a mail profile.
bool MailAvailable(const platform::Registry& reg);
// The E-mail page is shown only when the add-in's store class is registered.
bool EMailPageShown(const platform::Registry& reg);

// The option bits of one mail store: its own value, else the value the stores' key holds for
// all of them, else 0x1B3 (a malformed value counts as missing). The one chain of defaults,
// for the settings and the mail add-in alike, so the window shows what the add-in tracks.
std::uint32_t ReadStoreSettings(const platform::Registry& reg, std::string_view storeKeyName);
// Parses a store sub-key's name: a nonzero hexadecimal number of at most eight digits.
bool ParseStoreNumber(std::string_view keyName, std::uint32_t& out);

FilesPage LoadFilesPage(const platform::Registry& reg);
WebHistoryPage LoadWebHistoryPage(const platform::Registry& reg);
EMailPage LoadEMailPage(const platform::Registry& reg);
GeneralPage LoadGeneralPage(const SettingsEnvironment& env);
SearchPage LoadSearchPage(const platform::Registry& reg);
ViewPage LoadViewPage(const platform::Registry& reg);

// Saving returns S_OK or the first failure; what was written before it stays written.
HRESULT SaveFilesPage(platform::Registry& reg, const FilesPage& page);
HRESULT SaveWebHistoryPage(platform::Registry& reg, const WebHistoryPage& page);
// Writes only what differs from `loaded`. A store whose bits changed gets its settings
// written, its synchronisation state deleted and the add-in notified; `notified` (when
// given) collects each notification's answer. A failed notification does not fail the save.
HRESULT SaveEMailPage(const SettingsEnvironment& env, const EMailPage& loaded,
                      const EMailPage& edited, std::vector<HRESULT>* notified = nullptr);
// The identity is cleaned (see identity_text.h) and written when not empty and changed.
// Machine values are written only by an administrator, and only when changed;
// `indexerChanged` says the indexer's values were written (the window then offers to
// restart it). Without administrator rights a changed machine value is E_ACCESSDENIED after
// the user's values are saved.
HRESULT SaveGeneralPage(const SettingsEnvironment& env, const GeneralPage& loaded,
                        const GeneralPage& edited, bool* indexerChanged = nullptr);
HRESULT SaveSearchPage(platform::Registry& reg, const SearchPage& page);
HRESULT SaveViewPage(platform::Registry& reg, const ViewPage& page);

// Writes a pattern list value: deleted when empty (a missing value is no error), else a
// multi-string. The key is created when missing.
HRESULT WritePatternList(platform::Registry& reg, std::string_view key, std::string_view name,
                         const std::vector<std::string>& patterns);

// The identity's 32-bit hash (the scope number of ranking records); a missing or empty
// identity is first set from the user's name.
HRESULT IdentityHash(Context& ctx, std::uint32_t& out);

}  // namespace qv::settings
