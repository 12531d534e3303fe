#include "provider/cihelper/cihelper.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "provider/cihelper/catalog_tables.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;
using platform::Hive;
using platform::RegValue;

class CIHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qv-cihelper-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    install_ = std::make_unique<Installation>(root_);
    ix::RegisterAdminClass(ctx().classes, ctx().registry, root_);
    RegisterCIHelper(ctx());
    helper_ = std::make_unique<CIHelper>(ctx());
  }
  void TearDown() override { fs::remove_all(root_); }

  Context& ctx() { return install_->context(); }

  HRESULT Repair(const std::string& name, bool shared, ULONG type, const std::string* owner,
                 const std::string* scope) {
    // Callers initialise the outputs; the repair only ever sets them.
    restart_ = VARIANT_FALSE;
    rebuild_ = VARIANT_FALSE;
    return helper_->RepairCatalog(&name, shared ? VARIANT_TRUE : VARIANT_FALSE, type, owner,
                                  scope, &restart_, &rebuild_);
  }
  std::string Export() {
    std::string out;
    ctx().registry.Export(Hive::LocalMachine, "", out);
    return out;
  }
  std::string Value(const std::string& key, const std::string& name) {
    RegValue v;
    if (ctx().registry.GetValue(Hive::LocalMachine, key, name, v) != 0) return "<missing>";
    return v.text;
  }

  fs::path root_;
  std::unique_ptr<Installation> install_;
  std::unique_ptr<CIHelper> helper_;
  VARIANT_BOOL restart_ = 0, rebuild_ = 0;
};

TEST_F(CIHelperTest, NamesAcceptedAndRefused) {
  EXPECT_TRUE(IsAcceptedCatalogName("QuillonJournal"));
  EXPECT_TRUE(IsAcceptedCatalogName("quillonL2"));
  EXPECT_TRUE(IsAcceptedCatalogName("System"));
  EXPECT_TRUE(IsAcceptedCatalogName("SYSTEM"));
  EXPECT_FALSE(IsAcceptedCatalogName("Quillon Journal"));
  EXPECT_FALSE(IsAcceptedCatalogName("Other"));
  EXPECT_FALSE(IsAcceptedCatalogName(""));
  EXPECT_FALSE(IsAcceptedCatalogName("Quillon" + std::string(58, 'x')));  // 65 characters
  EXPECT_TRUE(IsAcceptedCatalogName("Quillon" + std::string(57, 'x')));   // 64 characters
  // Names that would lead out of the catalogs folder.
  EXPECT_FALSE(IsAcceptedCatalogName("Quillon/../../etc"));
  EXPECT_FALSE(IsAcceptedCatalogName("Quillon.."));
  EXPECT_FALSE(IsAcceptedCatalogName("Quillon\\x"));

  const std::string scope = (root_ / "w").string();
  // A refused call leaves the outputs as they were.
  const std::string other = "Other";
  VARIANT_BOOL restart = 7, rebuild = 7;
  EXPECT_EQ(helper_->RepairCatalog(&other, VARIANT_TRUE, 1, nullptr, &scope, &restart, &rebuild),
            E_INVALIDARG);
  EXPECT_EQ(restart, 7);
  EXPECT_EQ(rebuild, 7);
  EXPECT_EQ(Repair("Quillon/../evil", true, 1, nullptr, &scope), E_INVALIDARG);
  // A private catalog needs its owner.
  EXPECT_EQ(Repair("Quillon_1_2", false, 2, nullptr, &scope), E_INVALIDARG);
  const std::string empty;
  EXPECT_EQ(Repair("Quillon_1_2", false, 2, &empty, &scope), E_INVALIDARG);
  EXPECT_FALSE(ctx().registry.KeyExists(Hive::LocalMachine, std::string(ix::kCatalogsKey)));
}

TEST_F(CIHelperTest, CreatesSharedCatalogAndSecondCallWritesNothing) {
  const fs::path journal = root_ / "LocalAppData" / "Quillon" / "Journal";
  fs::create_directories(journal);
  const std::string scope = journal.string();
  ASSERT_EQ(Repair("QuillonJournal", true, kCatalogTypeJournal, nullptr, &scope), S_OK);
  EXPECT_EQ(restart_, VARIANT_TRUE);
  EXPECT_EQ(rebuild_, VARIANT_TRUE);

  ix::CatalogAdmin admin(ctx().registry, root_);
  fs::path location;
  ASSERT_EQ(admin.GetLocation("QuillonJournal", location), S_OK);
  EXPECT_EQ(location, root_ / "CommonAppData" / "Quillon" / "Catalogs" / "QuillonJournal");
  ix::ScopeEntry entry;
  EXPECT_EQ(admin.GetScopeByPath("QuillonJournal", scope, entry), S_OK);
  EXPECT_FALSE(entry.excluded);
  const std::string props = ix::PropertiesKey("QuillonJournal");
  for (const auto& [name, data] : cihelper::kJournalCatalogProperties) {
    EXPECT_EQ(Value(props, std::string(name)), data);
  }
  EXPECT_EQ(Value(props, "48CA09C3-119B-8534-9A91-87848040E351 3"), "<missing>");
  EXPECT_EQ(Value(ix::CatalogKey("QuillonJournal"), "QuillonVesperOwner"), "<missing>");

  const std::string before = Export();
  ASSERT_EQ(Repair("QuillonJournal", true, kCatalogTypeJournal, nullptr, &scope), S_OK);
  EXPECT_EQ(restart_, VARIANT_FALSE);
  EXPECT_EQ(rebuild_, VARIANT_FALSE);
  EXPECT_EQ(Export(), before);
}

TEST_F(CIHelperTest, HandEditedValueIsRestoredAndIndexDiscarded) {
  const fs::path web = root_ / "LocalAppData" / "Quillon" / "WebHistory";
  fs::create_directories(web);
  const std::string scope = web.string();
  ASSERT_EQ(Repair("QuillonWebHistory", true, 1, nullptr, &scope), S_OK);
  ix::CatalogAdmin admin(ctx().registry, root_);
  fs::path location;
  ASSERT_EQ(admin.GetLocation("QuillonWebHistory", location), S_OK);
  const fs::path wci = location / "Catalog.wci";
  fs::create_directories(wci / "sub");
  std::ofstream(wci / "sub" / "data") << "x";
  fs::permissions(wci / "sub", fs::perms::owner_read | fs::perms::owner_exec);
  // A link inside the index folder that points outside must not be followed.
  const fs::path outside = root_ / "outside";
  fs::create_directories(outside);
  std::ofstream(outside / "keep.txt") << "keep";
  fs::create_directory_symlink(outside, wci / "link");

  const std::string props = ix::PropertiesKey("QuillonWebHistory");
  const std::string name = "48CA09C3-119B-8534-9A91-87848040E351 8";
  ASSERT_EQ(ctx().registry.SetValue(Hive::LocalMachine, props, name, RegValue::Sz("19,4,0,1")),
            0);
  ASSERT_EQ(Repair("QuillonWebHistory", true, 1, nullptr, &scope), S_OK);
  EXPECT_EQ(Value(props, name), "7,8,0,1");
  EXPECT_EQ(restart_, VARIANT_TRUE);
  EXPECT_EQ(rebuild_, VARIANT_TRUE);
  EXPECT_FALSE(fs::exists(wci));
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));

  // A value that differs only in case counts as the same; a DWORD in its place does not.
  ASSERT_EQ(ctx().registry.SetValue(Hive::LocalMachine, props,
                                    "CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B 2",
                                    RegValue::Sz("31,4,1,1")),
            0);
  ASSERT_EQ(Repair("QuillonWebHistory", true, 1, nullptr, &scope), S_OK);
  EXPECT_EQ(rebuild_, VARIANT_FALSE);
  ASSERT_EQ(ctx().registry.SetValue(Hive::LocalMachine, props, name, RegValue::Dword(7)), 0);
  ASSERT_EQ(Repair("QuillonWebHistory", true, 1, nullptr, &scope), S_OK);
  EXPECT_EQ(rebuild_, VARIANT_TRUE);
  EXPECT_EQ(Value(props, name), "7,8,0,1");
}

TEST_F(CIHelperTest, PrivateCatalogSitsBesideTheUsersData) {
  const fs::path web = root_ / "LocalAppData" / "Quillon" / "WebHistory";
  fs::create_directories(web);
  const std::string scope = web.string();
  const std::string owner = "S-1-5-21-1-2-3-1001";
  ASSERT_EQ(Repair("Quillon_cde219b7_A", false, 2, &owner, &scope), S_OK);
  ix::CatalogAdmin admin(ctx().registry, root_);
  fs::path location;
  ASSERT_EQ(admin.GetLocation("Quillon_cde219b7_A", location), S_OK);
  EXPECT_EQ(location, root_ / "LocalAppData" / "Quillon" / "Catalogs" / "Quillon_cde219b7_A");
  EXPECT_EQ(Value(ix::CatalogKey("Quillon_cde219b7_A"), "QuillonVesperOwner"), owner);

  // A scope without the word, or one that begins with it, cannot place the catalog.
  const std::string bad = (root_ / "elsewhere").string();
  EXPECT_EQ(Repair("Quillon_x_B", false, 2, &owner, &bad), E_INVALIDARG);
  const std::string begins = "Quillon/x";
  EXPECT_EQ(Repair("Quillon_x_C", false, 2, &owner, &begins), E_INVALIDARG);
  EXPECT_EQ(Repair("Quillon_x_D", false, 2, &owner, nullptr), E_INVALIDARG);
}

TEST_F(CIHelperTest, VanishedIncludedScopeIsRemovedExcludedStays) {
  const fs::path a = root_ / "data" / "Quillon" / "A";
  const fs::path b = root_ / "data" / "Quillon" / "B";
  fs::create_directories(a);
  fs::create_directories(b);
  const std::string sa = a.string(), sb = b.string();
  ASSERT_EQ(Repair("QuillonL2", true, 1, nullptr, &sa), S_OK);
  ASSERT_EQ(Repair("QuillonL2", true, 1, nullptr, &sb), S_OK);
  ix::CatalogAdmin admin(ctx().registry, root_);
  const std::string gone = (root_ / "gone-excluded").string();
  ASSERT_EQ(admin.AddScope("QuillonL2", gone, true), S_OK);
  fs::remove_all(a);
  ASSERT_EQ(Repair("QuillonL2", true, 1, nullptr, &sb), S_OK);
  std::vector<ix::ScopeEntry> scopes;
  ASSERT_EQ(admin.GetScopes("QuillonL2", scopes), S_OK);
  ASSERT_EQ(scopes.size(), 2u);
  EXPECT_EQ(scopes[0].path, sb);
  EXPECT_EQ(scopes[1].path, gone);
  EXPECT_TRUE(scopes[1].excluded);
}

TEST_F(CIHelperTest, SystemCatalogKeepsApplicationDataOut) {
  ASSERT_EQ(Repair("System", false, 0, nullptr, nullptr), S_OK);  // always shared
  EXPECT_EQ(restart_, VARIANT_TRUE);
  const std::string key = ix::CatalogKey("System");
  RegValue v;
  ASSERT_EQ(ctx().registry.GetValue(Hive::LocalMachine, key, "IsIndexingW3Svc", v), 0);
  EXPECT_EQ(v, RegValue::Dword(0));
  EXPECT_EQ(Value(key, "Location"), (root_ / "System Volume Information").string());
  const std::string scopes = ix::ScopesKey("System");
  const std::string pattern = root_.string() + "/AppData/*";
  EXPECT_EQ(Value(scopes, pattern), ",,4");
  EXPECT_EQ(Value(scopes, root_.string() + "/LocalAppData/*"), ",,4");
  EXPECT_EQ(Value(scopes, root_.string()), ",,5");

  ix::CatalogAdmin admin(ctx().registry, root_);
  std::string name;
  EXPECT_EQ(admin.LocateCatalog((root_ / "AppData" / "x").string(), 0, name), S_FALSE);
  EXPECT_EQ(admin.LocateCatalog((root_ / "Documents" / "x").string(), 0, name), S_OK);
  EXPECT_EQ(name, "System");

  ASSERT_EQ(Repair("system", true, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(restart_, VARIANT_FALSE);
  ASSERT_EQ(ctx().registry.DeleteValue(Hive::LocalMachine, scopes, pattern), 0);
  ASSERT_EQ(ctx().registry.DeleteValue(Hive::LocalMachine, scopes, root_.string()), 0);
  ASSERT_EQ(Repair("System", true, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(Value(scopes, pattern), ",,4");
  EXPECT_EQ(Value(scopes, root_.string()), "<missing>");  // only added at creation
  EXPECT_EQ(rebuild_, VARIANT_TRUE);
}

TEST_F(CIHelperTest, CreatedThroughTheClassRegistry) {
  std::shared_ptr<ICIHelper> helper;
  ASSERT_EQ(ctx().classes.CreateInstance(CLSID_CIHelper, helper), S_OK);
  Guid clsid;
  ASSERT_EQ(ctx().classes.ClsidFromProgId("Pelion.CIHelper", clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_CIHelper);
  // Without the administration object the repair fails with the creation's error.
  ctx().classes.Unregister(ix::kAdminClsid);
  const std::string name = "QuillonJournal";
  VARIANT_BOOL restart = 3;
  EXPECT_EQ(helper->RepairCatalog(&name, VARIANT_TRUE, 3, nullptr, nullptr, &restart, nullptr),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(restart, 3);  // untouched
}

// The service repairs its three shared catalogs into one restart flag: the first repair's
// request for a restart must survive the two that change nothing, and a repair with nothing
// to do must leave both outputs exactly as it found them.
TEST_F(CIHelperTest, RestartFlagCarriedThroughThreeRepairs) {
  const fs::path web = root_ / "LocalAppData" / "Quillon" / "WebHistory";
  const fs::path journal = root_ / "LocalAppData" / "Quillon" / "Journal";
  fs::create_directories(web);
  fs::create_directories(journal);
  const std::string sWeb = web.string(), sJournal = journal.string();
  const std::string system = "System", wh = "QuillonWebHistory", jn = "QuillonJournal";
  // The journal and web history catalogs exist already and are sound.
  VARIANT_BOOL ignored = VARIANT_FALSE;
  ASSERT_EQ(helper_->RepairCatalog(&wh, VARIANT_TRUE, 1, nullptr, &sWeb, &ignored, nullptr), S_OK);
  ASSERT_EQ(helper_->RepairCatalog(&jn, VARIANT_TRUE, kCatalogTypeJournal, nullptr, &sJournal,
                                   &ignored, nullptr),
            S_OK);

  VARIANT_BOOL restart = VARIANT_FALSE;
  ASSERT_EQ(helper_->RepairCatalog(&system, VARIANT_TRUE, 0, nullptr, nullptr, &restart, nullptr),
            S_OK);
  EXPECT_EQ(restart, VARIANT_TRUE);  // System was created
  ASSERT_EQ(helper_->RepairCatalog(&wh, VARIANT_TRUE, 1, nullptr, &sWeb, &restart, nullptr), S_OK);
  ASSERT_EQ(helper_->RepairCatalog(&jn, VARIANT_TRUE, kCatalogTypeJournal, nullptr, &sJournal,
                                   &restart, nullptr),
            S_OK);
  EXPECT_EQ(restart, VARIANT_TRUE);

  VARIANT_BOOL a = 5, b = 9;
  ASSERT_EQ(helper_->RepairCatalog(&wh, VARIANT_TRUE, 1, nullptr, &sWeb, &a, &b), S_OK);
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 9);
}

}  // namespace
}  // namespace qv
