#include "service/QvRankingSvc/catalog_requests.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "context/test_context.h"
#include "platform/indexing/catalog_admin.h"
#include "service/QvRankingSvc/caller_folders.h"
#include "service/QvRankingSvc/catalog_config.h"

namespace qv::service {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;

Caller Me() { return Caller{::geteuid(), ::getegid(), ::getpid()}; }
Caller Someone() { return Caller{::geteuid() + 1, ::getegid(), 1}; }

class CatalogRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterCatalogClasses(ctx());
    data_ = fs::canonical(t_.root()) / "LocalAppData";
    fs::create_directories(data_);
  }
  Context& ctx() { return t_.ctx(); }
  int Events(std::uint32_t id) {
    int n = 0;
    for (auto e : t_.EventIds()) n += e == id;
    return n;
  }
  TestContext t_;
  fs::path data_;
};

TEST_F(CatalogRequestsTest, ConfigRequestCarriesTheFolderWithOneSeparator) {
  CatalogRequest r;
  ASSERT_EQ(MakeConfigRequest(ctx(), data_.string(), true, Me(), r), S_OK);
  EXPECT_EQ(r.kind, CatalogRequest::Kind::ConfigCheck);
  EXPECT_EQ(r.folder, data_.string() + "/");
  EXPECT_TRUE(r.rescan);
  CatalogRequest again;
  ASSERT_EQ(MakeConfigRequest(ctx(), data_.string() + "\\", false, Me(), again), S_OK);
  EXPECT_EQ(again.folder, r.folder);
  EXPECT_FALSE(again.rescan);

  // Refusals are logged as warnings of the call.
  EXPECT_EQ(MakeConfigRequest(ctx(), "", false, Me(), r), E_INVALIDARG);
  EXPECT_EQ(MakeConfigRequest(ctx(), data_.string(), false, Someone(), r), E_ACCESSDENIED);
  EXPECT_EQ(MakeConfigRequest(ctx(), "/etc", false, Me(), r), E_ACCESSDENIED);
  EXPECT_EQ(Events(kEventRequestRefused), 3);
}

TEST_F(CatalogRequestsTest, MailProfileRequestNormalisesStoresAndNamesTheCaller) {
  const fs::path scopeRoot = data_ / "Quillon" / "Email";
  CatalogRequest r;
  ASSERT_EQ(MakeMailProfileRequest(ctx(), "Outlook", scopeRoot.string() + "/", ";;A;;B;", Me(), r),
            S_OK);
  EXPECT_EQ(r.kind, CatalogRequest::Kind::MailProfile);
  EXPECT_EQ(r.scopeRoot, scopeRoot.string());
  EXPECT_EQ(r.stores, "a;b");
  EXPECT_EQ(r.profileName, "Outlook");
  EXPECT_EQ(r.owner, OwnerIdentity(::geteuid()));

  EXPECT_EQ(MakeMailProfileRequest(ctx(), "", scopeRoot.string(), "A", Me(), r), E_INVALIDARG);
  EXPECT_EQ(MakeMailProfileRequest(ctx(), "P", scopeRoot.string(), "", Me(), r), E_INVALIDARG);
  EXPECT_EQ(MakeMailProfileRequest(ctx(), "P", scopeRoot.string(), "../x", Me(), r),
            E_INVALIDARG);
  EXPECT_EQ(MakeMailProfileRequest(ctx(), "P", "/tmp", "A", Me(), r), E_ACCESSDENIED);
  EXPECT_EQ(MakeMailProfileRequest(ctx(), "P", scopeRoot.string(), "A", Someone(), r),
            E_ACCESSDENIED);
  EXPECT_EQ(Events(kEventRequestRefused), 5);
}

TEST_F(CatalogRequestsTest, DeleteStaleOnlyShortcutFilesOfTheUserNeverThroughLinks) {
  const fs::path web = data_ / "Quillon" / "WebHistory" / "3f";
  fs::create_directories(web);
  const fs::path page = web / "1A2B.Q6W";
  std::ofstream(page) << "x";
  // Another user, or a file type the indexer does not own: refused, nothing deleted.
  EXPECT_EQ(DeleteStale(ctx(), page.string(), Someone()), E_ACCESSDENIED);
  const fs::path day = web / "Journal.q6d";
  std::ofstream(day) << "x";
  EXPECT_EQ(DeleteStale(ctx(), day.string(), Me()), E_ACCESSDENIED);
  EXPECT_TRUE(fs::exists(day));
  EXPECT_EQ(DeleteStale(ctx(), "", Me()), E_INVALIDARG);

  EXPECT_EQ(DeleteStale(ctx(), page.string(), Me()), S_OK);
  EXPECT_FALSE(fs::exists(page));
  EXPECT_EQ(DeleteStale(ctx(), page.string(), Me()), S_FALSE);  // already gone
  EXPECT_EQ(DeleteStale(ctx(), (web / "nothere" / "x.q6w").string(), Me()), S_FALSE);
  EXPECT_EQ(DeleteStale(ctx(), (data_ / "Quillon" / "Journal" / "2025" / "x.q6j").string(), Me()),
            S_FALSE);  // the journal folder itself does not exist yet

  // Outside the shortcut folders, or leading out of them.
  const fs::path outside = fs::canonical(t_.root()) / "elsewhere";
  fs::create_directories(outside);
  std::ofstream(outside / "keep.q6w") << "x";
  EXPECT_EQ(DeleteStale(ctx(), (outside / "keep.q6w").string(), Me()), E_ACCESSDENIED);
  EXPECT_EQ(DeleteStale(ctx(), (web / ".." / ".." / ".." / ".." / "elsewhere" / "keep.q6w").string(),
                        Me()),
            E_ACCESSDENIED);
  EXPECT_EQ(DeleteStale(ctx(), "relative/x.q6w", Me()), E_ACCESSDENIED);
  // A symbolic link on the way is not followed.
  fs::create_directory_symlink(outside, web / "link");
  EXPECT_EQ(DeleteStale(ctx(), (web / "link" / "keep.q6w").string(), Me()), E_ACCESSDENIED);
  EXPECT_TRUE(fs::exists(outside / "keep.q6w"));

  // Mail shortcuts, with backslashes as a Windows peer writes them.
  const fs::path mail = data_ / "Quillon" / "Email" / "a" / "07";
  fs::create_directories(mail);
  std::ofstream(mail / "01ABFF.q6e") << "";
  std::string p = (mail / "01ABFF.q6e").string();
  std::replace(p.begin(), p.end(), '/', '\\');
  EXPECT_EQ(DeleteStale(ctx(), p, Me()), S_OK);
  EXPECT_FALSE(fs::exists(mail / "01ABFF.q6e"));
}

TEST_F(CatalogRequestsTest, StopScopeStopsOnlyTheCallersMailCatalogs) {
  const fs::path scopeRoot = data_ / "Quillon" / "Email";
  fs::create_directories(scopeRoot / "a");
  CatalogRequest mine;
  ASSERT_EQ(MakeMailProfileRequest(ctx(), "P", scopeRoot.string(), "A", Me(), mine), S_OK);
  ASSERT_EQ(ProcessMailProfile(ctx(), mine), S_OK);
  CatalogRequest theirs = mine;
  theirs.owner = OwnerIdentity(::geteuid() + 1);
  ASSERT_EQ(ProcessMailProfile(ctx(), theirs), S_OK);
  const std::string myName = MailCatalogName(mine.owner, "a");
  const std::string theirName = MailCatalogName(theirs.owner, "a");
  ASSERT_NE(myName, theirName);

  ix::CatalogAdmin admin(ctx().registry, ctx().root);
  ASSERT_EQ(admin.StartCatalog(theirName), S_OK);
  ASSERT_EQ(admin.StartCatalog(myName), S_OK);
  EXPECT_EQ(OtlStopScope(ctx(), (scopeRoot / "a" / "3f").string(), Me()), S_OK);
  bool stopped = false;
  ASSERT_EQ(admin.IsCatalogStopped(myName, stopped), S_OK);
  EXPECT_TRUE(stopped);
  ASSERT_EQ(admin.IsCatalogStopped(theirName, stopped), S_OK);
  EXPECT_FALSE(stopped);

  // A folder covered by System alone, or by no catalog, stops nothing.
  ConfigReport report;
  ASSERT_EQ(VerifyConfiguration(ctx(), data_.string(), false, report), S_OK);
  const std::string docs = (fs::canonical(t_.root()) / "docs").string();
  std::string covering;
  ASSERT_EQ(admin.LocateCatalog(docs, 0, covering), S_OK);
  EXPECT_EQ(covering, "System");
  EXPECT_EQ(admin.LocateCatalog(docs, 1, covering), S_FALSE);
  ASSERT_EQ(admin.StartCatalog("System"), S_OK);
  EXPECT_EQ(OtlStopScope(ctx(), docs, Me()), S_OK);
  ASSERT_EQ(admin.IsCatalogStopped("System", stopped), S_OK);
  EXPECT_FALSE(stopped);
  EXPECT_EQ(OtlStopScope(ctx(), "/nowhere", Me()), S_OK);
  EXPECT_EQ(OtlStopScope(ctx(), "", Me()), E_INVALIDARG);
  ctx().classes.Unregister(ix::kAdminClsid);
  EXPECT_EQ(OtlStopScope(ctx(), scopeRoot.string(), Me()), REGDB_E_CLASSNOTREG);
}

TEST_F(CatalogRequestsTest, HandlersReachTheWork) {
  ListenerHandlers h;
  BindCatalogHandlers(ctx(), h);
  CatalogRequest r;
  ASSERT_EQ(h.makeConfigRequest(data_.string(), false, Me(), r), S_OK);
  h.processCatalogRequest(r);
  ix::CatalogAdmin admin(ctx().registry, ctx().root);
  EXPECT_EQ(admin.FindCatalog("QuillonJournal"), S_OK);
  EXPECT_EQ(h.deleteStale("/x.txt", Me()), E_ACCESSDENIED);
  EXPECT_EQ(h.otlStopScope(data_.string(), Me()), S_OK);
}

}  // namespace
}  // namespace qv::service
