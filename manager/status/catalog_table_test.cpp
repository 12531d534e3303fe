// The status sheet's catalog table over a real registry and catalog engine on a private root.
#include "manager/status/catalog_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "common/scope_hash.h"
#include "common/temp_dir.h"
#include "manager/status/status_texts.h"
#include "shell/settings/settings_constants.h"

namespace qv::manager {
namespace {

namespace ix = platform::indexing;
using platform::Hive;
using platform::RegValue;

constexpr const char* kOwner = "S-1-22-1-1000";

class CatalogTableTest : public ::testing::Test {
 protected:
  void MakeMailAvailable() {
    ASSERT_EQ(reg.CreateKey(Hive::LocalMachine, settings::kOutlookKey), 0);
    ASSERT_EQ(reg.CreateKey(Hive::ClassesRoot, settings::kStoreClassKey), 0);
    ASSERT_EQ(reg.CreateKey(Hive::CurrentUser,
                            std::string(settings::kMailProfilesKey) + "\\Outlook"), 0);
  }
  void AddStore(std::string_view key, std::string_view display = {}) {
    const std::string k = std::string(settings::kStoresKey) + "\\" + std::string(key);
    ASSERT_EQ(reg.CreateKey(Hive::CurrentUser, k), 0);
    if (!display.empty()) {
      ASSERT_EQ(reg.SetValue(Hive::CurrentUser, k, "", RegValue::Sz(display)), 0);
    }
    ASSERT_EQ(reg.SetValue(Hive::CurrentUser, k, "Path", RegValue::Sz("/mail/" + std::string(key))), 0);
  }
  std::string MailName(std::uint32_t n) const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Quillon_%x_%x", ScopeHash(kOwner), n);
    return buf;
  }

  TempDir dir;
  platform::Registry reg{dir.path()};
  ix::CatalogAdmin admin{reg, dir.path()};
};

TEST_F(CatalogTableTest, AFreshRootShowsTheThreeSharedCatalogsAsNotSetUp) {
  CatalogTable table(reg, admin, kOwner);
  table.Refresh();
  ASSERT_EQ(table.rows().size(), 3u);
  EXPECT_EQ(table.rows()[0].name, "System");
  EXPECT_EQ(table.rows()[1].name, "QuillonWebHistory");
  EXPECT_EQ(table.rows()[2].name, "QuillonJournal");
  EXPECT_EQ(table.rows()[0].displayName, StatusText(nullptr, kTextSystemCatalog));
  EXPECT_EQ(table.rows()[2].kind, CatalogKind::Journal);
  for (const auto& row : table.rows()) {
    EXPECT_FALSE(row.registered);
    EXPECT_TRUE(Failed(row.query));
    EXPECT_EQ(StateTextId(row), kTextNotRegistered);
  }
}

TEST_F(CatalogTableTest, ARegisteredCatalogWithoutIndexNeedsAScanAndShowsItsLocation) {
  const auto location = dir.path() / "catalogs" / "System";
  ASSERT_EQ(admin.AddCatalog("System", location), S_OK);
  CatalogTable table(reg, admin, kOwner);
  table.Refresh();
  const auto& row = table.rows()[0];
  EXPECT_TRUE(row.registered);
  EXPECT_EQ(row.query, S_OK);
  EXPECT_EQ(row.location, location);
  EXPECT_EQ(StateTextId(row), kTextScanRequired);
  EXPECT_EQ(StateTextId(table.rows()[1]), kTextNotRegistered);

  // Removed while the sheet is open: the next refresh says so.
  ASSERT_EQ(admin.RemoveCatalog("System"), S_OK);
  table.Refresh();
  EXPECT_FALSE(table.rows()[0].registered);
  EXPECT_TRUE(table.rows()[0].location.empty());
}

TEST_F(CatalogTableTest, FortyMailStoresFillTheTableToThirtyOneRows) {
  MakeMailAvailable();
  for (std::uint32_t n = 1; n <= 40; ++n) {
    char key[16];
    std::snprintf(key, sizeof key, "%X", n);
    AddStore(key, "Store " + std::to_string(n));
  }
  CatalogTable table(reg, admin, kOwner);
  table.Refresh();
  ASSERT_EQ(table.rows().size(), kMaxCatalogRows);
  std::vector<std::string> keys;
  ASSERT_EQ(reg.EnumKeys(Hive::CurrentUser, settings::kStoresKey, keys), 0);
  std::set<std::string> names;
  for (std::size_t i = 3; i < table.rows().size(); ++i) {
    const auto& row = table.rows()[i];
    const std::uint32_t n = static_cast<std::uint32_t>(std::stoul(keys[i - 3], nullptr, 16));
    EXPECT_EQ(row.kind, CatalogKind::Mail);
    EXPECT_EQ(row.storeNumber, n);
    EXPECT_EQ(row.name, MailName(n));
    EXPECT_EQ(row.displayName, "Store " + std::to_string(n));
    EXPECT_EQ(row.storePath, "/mail/" + keys[i - 3]);
    names.insert(row.name);
  }
  EXPECT_EQ(names.size(), 28u);
  // Refreshing again neither adds nor reorders rows.
  const auto before = table.rows();
  table.Refresh();
  ASSERT_EQ(table.rows().size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(table.rows()[i].name, before[i].name);
}

TEST_F(CatalogTableTest, StoreKeysThatAreNotNonzeroHexNumbersAreIgnored) {
  MakeMailAvailable();
  AddStore("0");
  AddStore("zz");
  AddStore("1a");  // no display name
  CatalogTable table(reg, admin, kOwner);
  table.Refresh();
  ASSERT_EQ(table.rows().size(), 4u);
  EXPECT_EQ(table.rows()[3].name, MailName(0x1a));
  EXPECT_EQ(table.rows()[3].displayName, StatusText(nullptr, kTextUnnamedStore));
}

TEST_F(CatalogTableTest, MailRowsComeAndGoWithTheStoresAndWithMail) {
  AddStore("1", "Inbox");
  CatalogTable table(reg, admin, kOwner);
  table.Refresh();
  EXPECT_EQ(table.rows().size(), 3u);  // no mail client: no mail rows
  MakeMailAvailable();
  AddStore("2", "Archive");
  table.Refresh();
  ASSERT_EQ(table.rows().size(), 5u);
  ASSERT_EQ(reg.DeleteKey(Hive::CurrentUser, std::string(settings::kStoresKey) + "\\1"), 0);
  table.Refresh();
  ASSERT_EQ(table.rows().size(), 4u);
  EXPECT_EQ(table.rows()[3].displayName, "Archive");
  EXPECT_EQ(table.rows()[3].name, MailName(2));
  table.Clear();
  EXPECT_TRUE(table.rows().empty());
}

TEST_F(CatalogTableTest, ALongStoreNameIsCutWithoutSplittingACharacter) {
  MakeMailAvailable();
  std::string name(kMaxStoreDisplayName - 1, 'a');
  name += "\xC3\xA9tude";  // "é" straddles the limit
  AddStore("5", name);
  CatalogTable table(reg, admin, kOwner);
  table.Refresh();
  ASSERT_EQ(table.rows().size(), 4u);
  EXPECT_EQ(table.rows()[3].displayName, std::string(kMaxStoreDisplayName - 1, 'a'));
}

CatalogRow Row(std::uint32_t flags) {
  CatalogRow r;
  r.registered = true;
  r.query = S_OK;
  r.stateFlags = flags;
  return r;
}

TEST(StateTextTest, TheFirstConditionInPriorityOrderWins) {
  CatalogRow unregistered = Row(0x10);
  unregistered.registered = false;
  EXPECT_EQ(StateTextId(unregistered), kTextNotRegistered);
  CatalogRow failed = Row(0x10);
  failed.query = E_FAIL;
  EXPECT_EQ(StateTextId(failed), 0u);

  // Each bit alone, together with every bit of lower priority.
  const std::pair<std::uint32_t, std::uint32_t> order[] = {
      {0x10, kTextScanning},      {0x20, kTextRecovering},  {0x1, kTextMerging},
      {0x4, kTextScanRequired},   {0x80, kTextLowMemory},   {0x100, kTextHighIo},
      {0x200, kTextMergePaused},  {0x400, kTextReadOnly},   {0x800, kTextBattery},
      {0x1000, kTextUserActive},  {0x2000, kTextStarting}};
  for (std::size_t i = 0; i < std::size(order); ++i) {
    std::uint32_t lower = 0;
    for (std::size_t j = i; j < std::size(order); ++j) lower |= order[j].first;
    EXPECT_EQ(StateTextId(Row(order[i].first)), order[i].second) << std::hex << order[i].first;
    EXPECT_EQ(StateTextId(Row(lower)), order[i].second) << std::hex << lower;
  }
  // Every merge bit and reading the change journal count as merging.
  for (std::uint32_t bit : {0x1u, 0x2u, 0x8u, 0x40u, 0x4000u}) {
    EXPECT_EQ(StateTextId(Row(bit)), kTextMerging) << std::hex << bit;
  }
  EXPECT_EQ(StateTextId(Row(0)), kTextUpToDate);
  EXPECT_EQ(StateTextId(Row(0x8000)), kTextUpToDate);  // a bit nobody names
}

}  // namespace
}  // namespace qv::manager
