#include "shell/settings/settings_pages.h"

#include <gtest/gtest.h>

#include "common/scope_hash.h"
#include "context/test_context.h"
#include "shell/settings/settings_constants.h"

namespace qv::settings {
namespace {

using platform::Hive;
using platform::RegType;
using platform::RegValue;

class SettingsPagesTest : public ::testing::Test {
 protected:
  platform::Registry& reg() { return tc.registry(); }
  SettingsEnvironment Env(bool admin) {
    return {tc.ctx(), [admin] { return admin; },
            [this](std::uint32_t store) {
              notifiedStores.push_back(store);
              return notifyResult;
            }};
  }
  void SetDword(Hive h, std::string_view key, std::string_view name, std::uint32_t v) {
    ASSERT_EQ(reg().SetValue(h, key, name, RegValue::Dword(v)), 0);
  }
  bool Has(Hive h, std::string_view key, std::string_view name) {
    RegValue v;
    return reg().GetValue(h, key, name, v) == 0;
  }
  std::uint32_t Dword(Hive h, std::string_view key, std::string_view name) {
    RegValue v;
    EXPECT_EQ(reg().GetValue(h, key, name, v), 0) << name;
    return v.dword;
  }
  std::vector<std::string> Strings(std::string_view key, std::string_view name) {
    RegValue v;
    EXPECT_EQ(reg().GetValue(Hive::CurrentUser, key, name, v), 0) << name;
    return v.strings;
  }

  TestContext tc;
  std::vector<std::uint32_t> notifiedStores;
  HRESULT notifyResult = kNothingToNotify;
};

TEST_F(SettingsPagesTest, FilesPageWritesOnlyTheShownListAndDeletesAnEmptiedOne) {
  FilesPage p = LoadFilesPage(reg());
  EXPECT_TRUE(p.journaling);
  EXPECT_TRUE(p.ranking);
  EXPECT_EQ(p.lists.matchType, kMatchTypeExclude);
  p.journaling = false;
  p.lists.SetShownText("Temp\r\n.log", PatternKind::File);
  ASSERT_EQ(SaveFilesPage(reg(), p), S_OK);
  EXPECT_EQ(Dword(Hive::CurrentUser, kFilesKey, kDisableJournaling), 1u);
  EXPECT_EQ(Dword(Hive::CurrentUser, kFilesKey, kDisableRanking), 0u);
  EXPECT_EQ(Strings(kFilesKey, kExclude), (std::vector<std::string>{"*/Temp.*", "*.log"}));

  // Switching to the include list shows that list; the exclude list stays as stored.
  p = LoadFilesPage(reg());
  p.lists.matchType = kMatchTypeInclude;
  EXPECT_EQ(p.lists.ShownText(), "");
  p.lists.SetShownText("/home/ann/work/", PatternKind::File);
  p.lists.exclude.clear();  // not shown, so never written
  ASSERT_EQ(SaveFilesPage(reg(), p), S_OK);
  EXPECT_EQ(Dword(Hive::CurrentUser, kFilesKey, kMatchType), kMatchTypeInclude);
  EXPECT_EQ(Strings(kFilesKey, kInclude), (std::vector<std::string>{"/home/ann/work/*"}));
  EXPECT_EQ(Strings(kFilesKey, kExclude).size(), 2u);

  // Clearing every line deletes the value; clearing it again is no error.
  p = LoadFilesPage(reg());
  EXPECT_EQ(p.lists.ShownText(), "/home/ann/work/*");
  p.lists.SetShownText(" \r\n\t", PatternKind::File);
  ASSERT_EQ(SaveFilesPage(reg(), p), S_OK);
  EXPECT_FALSE(Has(Hive::CurrentUser, kFilesKey, kInclude));
  ASSERT_EQ(SaveFilesPage(reg(), p), S_OK);
}

TEST_F(SettingsPagesTest, OutOfRangeAndMistypedValuesReadAsTheirDefaults) {
  SetDword(Hive::CurrentUser, kRootKey, kPartialMatch, 150);
  SetDword(Hive::CurrentUser, kFilesKey, kMatchType, 7);
  SetDword(Hive::LocalMachine, kContentIndexKey, kWordlistUserIdle, 5000);
  SetDword(Hive::LocalMachine, kContentIndexKey, kMinWordlistBattery, 250);
  ASSERT_EQ(reg().SetValue(Hive::CurrentUser, kViewKey, kPreviewFiles, RegValue::Sz("0")), 0);
  SetDword(Hive::CurrentUser, kViewKey, kPreviewFileTypes, 0xFFFFFFFF);

  EXPECT_EQ(LoadSearchPage(reg()).partialMatch, 50u);
  EXPECT_EQ(LoadFilesPage(reg()).lists.matchType, kMatchTypeExclude);
  const GeneralPage g = LoadGeneralPage(Env(true));
  EXPECT_TRUE(g.userIdleOn);
  EXPECT_EQ(g.userIdle, 120u);
  EXPECT_FALSE(g.batteryOn);
  const ViewPage v = LoadViewPage(reg());
  EXPECT_TRUE(v.previewFiles);
  EXPECT_EQ(v.previewFileTypes, kAllPreviewFileTypes);

  // Saving never writes an out-of-range number either.
  ASSERT_EQ(SaveSearchPage(reg(), SearchPage{101}), S_OK);
  EXPECT_EQ(Dword(Hive::CurrentUser, kRootKey, kPartialMatch), 50u);
  ASSERT_EQ(SaveSearchPage(reg(), SearchPage{100}), S_OK);
  EXPECT_EQ(Dword(Hive::CurrentUser, kRootKey, kPartialMatch), 100u);
}

TEST_F(SettingsPagesTest, WebCacheChoiceSurvivesRankingBeingTurnedOff) {
  WebHistoryPage p = LoadWebHistoryPage(reg());
  EXPECT_TRUE(p.CacheBoxEnabled());
  EXPECT_TRUE(p.CacheBoxChecked());
  p.ranking = false;
  EXPECT_FALSE(p.CacheBoxEnabled());
  EXPECT_FALSE(p.CacheBoxChecked());
  p.lists.SetShownText("news", PatternKind::Web);
  ASSERT_EQ(SaveWebHistoryPage(reg(), p), S_OK);
  EXPECT_EQ(Dword(Hive::CurrentUser, kWebKey, kDisableCacheChanging), 0u);
  EXPECT_EQ(Dword(Hive::CurrentUser, kWebKey, kDisableRanking), 1u);
  EXPECT_EQ(Strings(kWebKey, kExclude), (std::vector<std::string>{"*news*"}));
  p.ranking = true;
  EXPECT_TRUE(p.CacheBoxChecked());
}

TEST_F(SettingsPagesTest, MailStoresListValidNamesWithOneDefaultForMissingSettings) {
  EMailPage empty = LoadEMailPage(reg());
  EXPECT_TRUE(empty.stores.empty());
  EXPECT_FALSE(empty.StoreControlsEnabled());

  const std::string stores(kStoresKey);
  ASSERT_EQ(reg().SetValue(Hive::CurrentUser, stores + "\\1A", "", RegValue::Sz("Personal")), 0);
  ASSERT_EQ(reg().SetValue(Hive::CurrentUser, stores + "\\1A", "Path", RegValue::Sz("/m/p")), 0);
  ASSERT_EQ(reg().CreateKey(Hive::CurrentUser, stores + "\\0"), 0);
  ASSERT_EQ(reg().CreateKey(Hive::CurrentUser, stores + "\\zz"), 0);
  ASSERT_EQ(reg().CreateKey(Hive::CurrentUser, stores + "\\123456789"), 0);
  ASSERT_EQ(reg().SetValue(Hive::CurrentUser, stores + "\\b2", "Settings", RegValue::Sz("x")), 0);
  SetDword(Hive::CurrentUser, stores + "\\C3", kStoreSettings, 0x8);

  const EMailPage p = LoadEMailPage(reg());
  ASSERT_EQ(p.stores.size(), 3u);
  EXPECT_EQ(p.stores[0].number, 0x1Au);
  EXPECT_EQ(p.stores[0].name, "Personal");
  EXPECT_EQ(p.stores[0].path, "/m/p");
  EXPECT_EQ(p.stores[0].settings, kDefaultStoreSettings);
  EXPECT_EQ(p.stores[1].settings, kDefaultStoreSettings);  // malformed value
  EXPECT_EQ(p.stores[2].settings, 0x8u);
  EXPECT_EQ(ReadStoreSettings(reg(), "1A"), kDefaultStoreSettings);
  EXPECT_EQ(ReadStoreSettings(reg(), "C3"), 0x8u);

  // A value on the stores' key is what the add-in tracks for stores without their own.
  SetDword(Hive::CurrentUser, stores, kStoreSettings, 0x11);
  const EMailPage shared = LoadEMailPage(reg());
  EXPECT_EQ(shared.stores[0].settings, 0x11u);
  EXPECT_EQ(shared.stores[1].settings, 0x11u);  // malformed value
  EXPECT_EQ(shared.stores[2].settings, 0x8u);   // its own value comes first
}

TEST_F(SettingsPagesTest, ChangedStoreBitsResetSyncStateAndNotifyOnlyThatStore) {
  const std::string stores(kStoresKey);
  ASSERT_EQ(reg().CreateKey(Hive::CurrentUser, stores + "\\1"), 0);
  for (std::string_view name : kStoreSyncValues) {
    SetDword(Hive::CurrentUser, stores + "\\1", name, 1);
    SetDword(Hive::CurrentUser, stores + "\\2", name, 1);
  }
  const EMailPage loaded = LoadEMailPage(reg());
  ASSERT_EQ(loaded.stores.size(), 2u);
  EMailPage edited = loaded;
  MailStore& s = edited.stores[0];
  EXPECT_FALSE(s.SetBit(3, false));  // not a bit the page edits
  EXPECT_FALSE(s.SetBit(10, true));
  EXPECT_EQ(s.settings, kDefaultStoreSettings);
  EXPECT_TRUE(s.SetBit(0, false));
  EXPECT_TRUE(s.SetBit(2, true));

  std::vector<HRESULT> answers;
  ASSERT_EQ(SaveEMailPage(Env(false), loaded, edited, &answers), S_OK);
  EXPECT_EQ(Dword(Hive::CurrentUser, stores + "\\1", kStoreSettings), 0x1B6u);
  for (std::string_view name : kStoreSyncValues) {
    EXPECT_FALSE(Has(Hive::CurrentUser, stores + "\\1", name)) << name;
    EXPECT_TRUE(Has(Hive::CurrentUser, stores + "\\2", name)) << name;
  }
  EXPECT_FALSE(Has(Hive::CurrentUser, stores + "\\2", kStoreSettings));
  EXPECT_EQ(notifiedStores, std::vector<std::uint32_t>{1});
  EXPECT_EQ(answers, std::vector<HRESULT>{kNothingToNotify});
  // The switches were unchanged, so not written.
  EXPECT_FALSE(Has(Hive::CurrentUser, kMailKey, kDisableJournaling));

  // A failing notification (the add-in timed out) does not fail the save.
  notifyResult = E_ABORT;
  EMailPage again = LoadEMailPage(reg());
  EMailPage edited2 = again;
  edited2.stores[1].SetBit(9, true);
  edited2.journaling = false;
  EXPECT_EQ(SaveEMailPage(Env(false), again, edited2), S_OK);
  EXPECT_EQ(Dword(Hive::CurrentUser, stores + "\\2", kStoreSettings), 0x3B3u);
  EXPECT_EQ(Dword(Hive::CurrentUser, kMailKey, kDisableJournaling), 1u);
  EXPECT_EQ(NoMailAddIn(1), kNothingToNotify);
}

TEST_F(SettingsPagesTest, GeneralPageCutsTheIdentityAndGuardsMachineValues) {
  GeneralPage loaded = LoadGeneralPage(Env(false));
  EXPECT_EQ(loaded.identity, "TESTHOST\\tester");  // shown from the user's name
  EXPECT_FALSE(loaded.machineEditable);
  EXPECT_TRUE(loaded.userIdleOn);
  EXPECT_EQ(loaded.userIdle, 120u);
  EXPECT_FALSE(loaded.batteryOn);

  GeneralPage edited = loaded;
  edited.identity = "  " + std::string(300, 'x') + " ";
  edited.searchKeys = false;
  EXPECT_EQ(SaveGeneralPage(Env(false), loaded, edited), E_ACCESSDENIED);
  RegValue id;
  ASSERT_EQ(reg().GetValue(Hive::CurrentUser, kRootKey, kIdentity, id), 0);
  EXPECT_EQ(id.text, std::string(255, 'x'));  // the user's value is saved all the same
  EXPECT_FALSE(Has(Hive::LocalMachine, kFilesKey, kNoSearchKeys));

  bool indexer = true;
  ASSERT_EQ(SaveGeneralPage(Env(true), loaded, edited, &indexer), S_OK);
  EXPECT_FALSE(indexer);
  EXPECT_EQ(Dword(Hive::LocalMachine, kFilesKey, kNoSearchKeys), 1u);
  EXPECT_FALSE(Has(Hive::LocalMachine, kRootKey, kDisableStatistics));  // unchanged

  loaded = LoadGeneralPage(Env(true));
  edited = loaded;
  edited.identity = "   ";  // an empty identity is never written
  edited.userIdleOn = false;
  edited.batteryOn = true;
  edited.battery = 150;  // out of range: off
  ASSERT_EQ(SaveGeneralPage(Env(true), loaded, edited, &indexer), S_OK);
  EXPECT_TRUE(indexer);
  EXPECT_EQ(Dword(Hive::LocalMachine, kContentIndexKey, kWordlistUserIdle), 0u);
  EXPECT_EQ(Dword(Hive::LocalMachine, kContentIndexKey, kMinWordlistBattery), 100u);
  ASSERT_EQ(reg().GetValue(Hive::CurrentUser, kRootKey, kIdentity, id), 0);
  EXPECT_EQ(id.text, std::string(255, 'x'));

  // Statistics show cleared when the user's own value is set.
  SetDword(Hive::CurrentUser, kRootKey, kDisableStatistics, 1);
  EXPECT_FALSE(LoadGeneralPage(Env(true)).statistics);
}

TEST_F(SettingsPagesTest, IdentityHashSetsAMissingIdentityFromTheUserName) {
  std::uint32_t hash = 0;
  ASSERT_EQ(IdentityHash(tc.ctx(), hash), S_OK);
  EXPECT_EQ(hash, ScopeHash("TESTHOST\\tester"));
  RegValue id;
  ASSERT_EQ(reg().GetValue(Hive::CurrentUser, kRootKey, kIdentity, id), 0);
  EXPECT_EQ(id.text, "TESTHOST\\tester");

  // A saved identity at the limit still hashes (the readers take 255 characters).
  GeneralPage loaded = LoadGeneralPage(Env(false));
  GeneralPage edited = loaded;
  edited.identity = std::string(400, 'y');
  ASSERT_EQ(SaveGeneralPage(Env(false), loaded, edited), S_OK);
  ASSERT_EQ(IdentityHash(tc.ctx(), hash), S_OK);
  EXPECT_EQ(hash, ScopeHash(std::string(255, 'y')));
}

TEST_F(SettingsPagesTest, ViewPageOffersMailPreviewOnlyWhenMailIsAvailable) {
  ViewPage v = LoadViewPage(reg());
  EXPECT_FALSE(v.mailAvailable);
  EXPECT_FALSE(v.previewEmail);
  ASSERT_EQ(reg().CreateKey(Hive::LocalMachine, kOutlookKey), 0);
  ASSERT_EQ(reg().CreateKey(Hive::ClassesRoot, kStoreClassKey), 0);
  EXPECT_TRUE(EMailPageShown(reg()));
  EXPECT_FALSE(MailAvailable(reg()));  // no mail profile yet
  ASSERT_EQ(reg().CreateKey(Hive::CurrentUser, std::string(kMailProfilesKey) + "\\Default"), 0);
  v = LoadViewPage(reg());
  EXPECT_TRUE(v.mailAvailable);
  EXPECT_TRUE(v.previewEmail);
  EXPECT_TRUE(v.DownloadImagesEnabled());

  v.previewEmail = false;
  v.previewFileTypes = 0x5;
  v.lists.SetShownText("report.", PatternKind::File);
  ASSERT_EQ(SaveViewPage(reg(), v), S_OK);
  const ViewPage r = LoadViewPage(reg());
  EXPECT_FALSE(r.previewEmail);
  EXPECT_FALSE(r.DownloadImagesEnabled());
  EXPECT_EQ(r.previewFileTypes, 0x5u);
  EXPECT_EQ(r.lists.exclude, std::vector<std::string>{"*/report.*"});
}

}  // namespace
}  // namespace qv::settings
