#include "service/QvRankingSvc/catalog_config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "context/test_context.h"
#include "platform/indexing/catalog_admin.h"
#include "platform/indexing/catalog_keys.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/cihelper/cihelper.h"

namespace qv::service {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;
using Result = CatalogOutcome::Result;

class CatalogConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterCatalogClasses(ctx());
    data_ = fs::canonical(t_.root()) / "LocalAppData";
    fs::create_directories(data_ / "Quillon" / "WebHistory");
    fs::create_directories(data_ / "Quillon" / "Journal");
  }
  Context& ctx() { return t_.ctx(); }
  int Events(std::uint32_t id) {
    int n = 0;
    for (auto e : t_.EventIds()) n += e == id;
    return n;
  }
  std::string Value(const std::string& key, std::string_view name) {
    platform::RegValue v;
    if (ctx().registry.GetValue(platform::Hive::LocalMachine, key, name, v) != 0) return "<none>";
    return v.text;
  }
  TestContext t_;
  fs::path data_;
};

TEST_F(CatalogConfigTest, NewUserGetsTheThreeSharedCatalogsWithRankingProperties) {
  ConfigReport report;
  ASSERT_EQ(VerifyConfiguration(ctx(), data_.string(), false, report), S_OK);
  ASSERT_EQ(report.catalogs.size(), 3u);
  EXPECT_EQ(report.catalogs[0].name, "System");
  EXPECT_EQ(report.catalogs[1].name, "QuillonWebHistory");
  EXPECT_EQ(report.catalogs[2].name, "QuillonJournal");
  for (const auto& c : report.catalogs) EXPECT_EQ(c.result, Result::Created) << c.name;
  EXPECT_TRUE(report.restartNeeded);
  EXPECT_FALSE(report.restarted);  // the indexer was not running, so it stays stopped

  ix::CatalogAdmin admin(ctx().registry, ctx().root);
  ix::ScopeEntry scope;
  EXPECT_EQ(admin.GetScopeByPath("QuillonWebHistory", (data_ / "Quillon/WebHistory").string(),
                                 scope),
            S_OK);
  EXPECT_EQ(admin.GetScopeByPath("QuillonJournal", (data_ / "Quillon/Journal").string(), scope),
            S_OK);
  // The activation's inputs are cached in the file catalogs, the journal's values in its own.
  EXPECT_EQ(Value(ix::PropertiesKey("System"), "48CA09C3-119B-8534-9A91-87848040E351 8"),
            "7,8,0,1");
  EXPECT_EQ(Value(ix::PropertiesKey("QuillonWebHistory"), "48CA09C3-119B-8534-9A91-87848040E351 8"),
            "7,8,0,1");
  EXPECT_EQ(Value(ix::PropertiesKey("QuillonJournal"), "8E186B66-57AC-435C-B957-130C319BFA76 2"),
            "19,4,0,1");

  // A trailing separator names the same scopes, and a second check changes nothing.
  ASSERT_EQ(VerifyConfiguration(ctx(), data_.string() + "/", false, report), S_OK);
  for (const auto& c : report.catalogs) EXPECT_EQ(c.result, Result::Unchanged) << c.name;
  EXPECT_EQ(report.catalogs[1].scope, (data_ / "Quillon/WebHistory").string());
  EXPECT_FALSE(report.restartNeeded);
  std::vector<ix::ScopeEntry> scopes;
  ASSERT_EQ(admin.GetScopes("QuillonWebHistory", scopes), S_OK);
  EXPECT_EQ(scopes.size(), 1u);
  EXPECT_EQ(Events(kEventCatalogFailed), 0);

  // A property value edited by hand is repaired, and a restart is asked for.
  ASSERT_EQ(ctx().registry.SetValue(platform::Hive::LocalMachine,
                                    ix::PropertiesKey("QuillonJournal"),
                                    "8E186B66-57AC-435C-B957-130C319BFA76 2",
                                    platform::RegValue::Sz("7,8,0,1")),
            0);
  ASSERT_EQ(VerifyConfiguration(ctx(), data_.string(), false, report), S_OK);
  EXPECT_EQ(report.catalogs[0].result, Result::Unchanged);
  EXPECT_EQ(report.catalogs[2].result, Result::Repaired);
  EXPECT_TRUE(report.restartNeeded);  // the last repair's flag is not cleared by the others
}

TEST_F(CatalogConfigTest, FailuresAreLoggedPerCatalogOrDropTheRequest) {
  ctx().classes.Unregister(CLSID_CIHelper);
  ConfigReport report;
  ASSERT_EQ(VerifyConfiguration(ctx(), data_.string(), false, report), S_OK);
  ASSERT_EQ(report.catalogs.size(), 3u);
  for (const auto& c : report.catalogs) {
    EXPECT_EQ(c.result, Result::Failed);
    EXPECT_EQ(c.hr, REGDB_E_CLASSNOTREG);
  }
  EXPECT_EQ(Events(kEventCatalogFailed), 3);

  // Without the administration object the worker drops the request without an event.
  ctx().classes.Unregister(ix::kAdminClsid);
  EXPECT_EQ(VerifyConfiguration(ctx(), data_.string(), false, report), REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(report.catalogs.empty());
  CatalogRequest r;
  r.folder = data_.string() + "/";
  ProcessCatalogRequest(ctx(), r);
  EXPECT_EQ(Events(kEventCatalogFailed), 3);
}

TEST_F(CatalogConfigTest, OnlyWhenNoCatalogExists) {
  // A new user: not even the data folders exist yet; the scopes must still be kept.
  fs::remove_all(data_);
  ConfigReport report;
  ASSERT_EQ(VerifyIfNoCatalog(ctx(), report), S_OK);
  EXPECT_EQ(report.catalogs.size(), 3u);
  EXPECT_EQ(report.catalogs[1].scope, (data_ / "Quillon/WebHistory").string());
  ix::CatalogAdmin admin(ctx().registry, ctx().root);
  ix::ScopeEntry scope;
  EXPECT_EQ(admin.GetScopeByPath("QuillonJournal", (data_ / "Quillon/Journal").string(), scope),
            S_OK);
  EXPECT_EQ(fs::status(data_ / "Quillon/Journal").permissions() & fs::perms::all,
            fs::perms::owner_all);
  EXPECT_EQ(VerifyIfNoCatalog(ctx(), report), S_FALSE);
  EXPECT_TRUE(report.catalogs.empty());
}

TEST_F(CatalogConfigTest, MailProfileMakesOnePrivateCatalogPerStore) {
  CatalogRequest r;
  r.kind = CatalogRequest::Kind::MailProfile;
  r.scopeRoot = (data_ / "Quillon" / "Email").string();
  r.stores = ";;A;;B;";
  r.owner = "S-1-5-18";
  // The add-in makes the stores' shortcut folders; a scope whose folder is missing would be
  // dropped by the repair again.
  fs::create_directories(r.scopeRoot + "/a");
  fs::create_directories(r.scopeRoot + "/b");
  ProcessCatalogRequest(ctx(), r);
  EXPECT_EQ(Events(kEventCatalogFailed), 0);
  ix::CatalogAdmin admin(ctx().registry, ctx().root);
  std::vector<std::string> names;
  ASSERT_EQ(admin.ListCatalogs(names), S_OK);
  EXPECT_EQ(names, (std::vector<std::string>{"Quillon_cde219b7_a", "Quillon_cde219b7_b"}));
  ix::ScopeEntry scope;
  EXPECT_EQ(admin.GetScopeByPath("Quillon_cde219b7_b", r.scopeRoot + "/b", scope), S_OK);
  EXPECT_EQ(Value(ix::CatalogKey("Quillon_cde219b7_a"), cihelper::kOwnerValue), "S-1-5-18");

  // A scope root the catalogs cannot be placed beside: one event, no catalog of any store.
  r.scopeRoot = (fs::canonical(t_.root()) / "mail").string();
  r.stores = "C;D";
  ProcessCatalogRequest(ctx(), r);
  EXPECT_EQ(Events(kEventCatalogFailed), 1);
  const auto events = t_.eventLog().ReadAll();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().strings.at(0), "Email");
  ASSERT_EQ(admin.ListCatalogs(names), S_OK);
  EXPECT_EQ(names.size(), 2u);
  // A store list that does not name stores in hexadecimal is refused as a whole.
  r.scopeRoot = (data_ / "Quillon" / "Email").string();
  r.stores = "C;../../x";
  EXPECT_EQ(ProcessMailProfile(ctx(), r), E_INVALIDARG);
}

}  // namespace
}  // namespace qv::service
