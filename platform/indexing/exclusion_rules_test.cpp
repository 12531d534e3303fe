#include "platform/indexing/exclusion_rules.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "platform/indexing/scope_set.h"

namespace qv::platform::indexing {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<const ExclusionRules> Rules(std::vector<std::string> extra = {}) {
  return std::make_shared<const ExclusionRules>(extra, "/h", "/h/.local/share/qv");
}

TEST(ExclusionRules, SecretsStayOutWhateverTheScopesSay) {
  // Scopes that name the secret folders themselves, so the hidden-name rule plays no part.
  const ScopeSet s({{"/h", false},
                    {"/h/.ssh", false},
                    {"/h/.config", false},
                    {"/backup/u/.gnupg", false},
                    {"/h/.local/share", false}},
                   Rules());
  EXPECT_TRUE(s.Covers("/h/doc.txt"));
  EXPECT_FALSE(s.Covers("/h/.ssh"));
  EXPECT_FALSE(s.Covers("/h/.ssh/id_ed25519"));
  EXPECT_FALSE(s.Covers("/backup/u/.gnupg/private-keys-v1.d/k.key"));
  EXPECT_FALSE(s.Covers("/h/.config/chromium/Default/Login Data"));
  EXPECT_FALSE(s.Covers("/h/.config/google-chrome/Default/Cookies"));
  EXPECT_FALSE(s.Covers("/h/.local/share/keyrings/login.keyring"));
  EXPECT_TRUE(s.Covers("/h/.config/editor/settings.json"));
  EXPECT_FALSE(s.Covers("/h/.config/editor/.cache"));  // hidden below the named folder
  // A browser profile anywhere, e.g. in a snap or flatpak home.
  EXPECT_FALSE(s.Covers("/h/snap/firefox/common/.mozilla/firefox/x.default/key4.db"));
  // A folder that merely begins with a secret's name is not a secret.
  EXPECT_TRUE(s.Covers("/h/.config/chromium-notes.txt"));
}

TEST(ExclusionRules, HiddenNamesNeedAScopeThatNamesThem) {
  const ScopeSet s({{"/d", false}, {"/d/.notes", false}}, nullptr);
  EXPECT_FALSE(s.Covers("/d/.bashrc"));
  EXPECT_FALSE(s.Covers("/d/.git/config"));
  EXPECT_FALSE(s.Covers("/d/sub/.cache/x"));
  EXPECT_TRUE(s.Covers("/d/.notes/todo.txt"));
  EXPECT_FALSE(s.Covers("/d/.notes/.draft"));
  EXPECT_TRUE(s.Covers("/d/a.b/c.txt"));
  const ScopeSet top({{"/", false}}, nullptr);
  EXPECT_TRUE(top.Covers("/srv/x"));
  EXPECT_FALSE(top.Covers("/.snapshots/x"));
}

TEST(ExclusionRules, TheInstallationRootOnlyWhereAScopePointsInsideIt) {
  const ScopeSet s(
      {{"/h", false}, {"/h/.local/share/qv", false}, {"/h/.local/share/qv/docs", false}},
      Rules());
  EXPECT_FALSE(s.Covers("/h/.local/share/qv/registry/HKLM.reg"));
  EXPECT_FALSE(s.Covers("/h/.local/share/qv/eventlog/Application.log"));
  EXPECT_TRUE(s.Covers("/h/.local/share/qv/docs/report.txt"));
  EXPECT_TRUE(s.Admits("/h/.local/share/qv/docs", "/h/.local/share/qv/docs/report.txt"));
  EXPECT_FALSE(s.Admits("/h/.local/share/qv", "/h/.local/share/qv/docs/report.txt"));
}

TEST(ExclusionRules, TheUsersOwnEntries) {
  const ScopeSet s({{"/", false}},
                   Rules({"~/private", "/data/*/keys", "notes/secret", "../x", ""}));
  EXPECT_FALSE(s.Covers("/h/private/a.txt"));
  EXPECT_TRUE(s.Covers("/h/privateer/a.txt"));
  EXPECT_FALSE(s.Covers("/data/alice/keys/k.pem"));
  EXPECT_TRUE(s.Covers("/data/alice/keysafe/k.pem"));
  EXPECT_FALSE(s.Covers("/srv/notes/secret/a"));
  EXPECT_TRUE(s.Covers("/srv/notes/secrets/a"));
  EXPECT_TRUE(s.Covers("/x/doc.txt"));  // ".." and empty entries are ignored
  // "~" alone leaves out the whole home folder.
  const ScopeSet home({{"/", false}}, Rules({"~"}));
  EXPECT_FALSE(home.Covers("/h/doc.txt"));
  EXPECT_TRUE(home.Covers("/hx/doc.txt"));
}

TEST(ExclusionRules, TheListIsKeptInTheRegistryForTheUserToExtend) {
  TempDir dir;
  Registry reg(dir.path());
  const auto first = ExclusionRules::Load(reg, dir.path());
  RegValue v;
  EXPECT_EQ(reg.GetValue(Hive::LocalMachine, kExcludedFoldersKey, ".ssh", v), 0);
  EXPECT_EQ(reg.GetValue(Hive::LocalMachine, kExcludedFoldersKey, ".local/share/keyrings", v), 0);
  EXPECT_FALSE(first.IsSecret("/srv/mine/x"));
  EXPECT_TRUE(first.InStateRoot((dir.path() / "registry").string()));
  // A root named by a relative path is the same folder.
  const auto relative = fs::relative(dir.path() / "r", fs::current_path());
  const ExclusionRules fromRelative({}, "/h", relative);
  EXPECT_TRUE(fromRelative.InStateRoot((dir.path() / "r" / "eventlog").string())) << relative;

  // The user adds a folder and deletes a built-in entry: the built-in one still holds.
  ASSERT_EQ(reg.SetValue(Hive::LocalMachine, kExcludedFoldersKey, "/srv/mine", RegValue::Sz("")),
            0);
  ASSERT_EQ(reg.DeleteValue(Hive::LocalMachine, kExcludedFoldersKey, ".ssh"), 0);
  const auto second = ExclusionRules::Load(reg, dir.path());
  EXPECT_TRUE(second.IsSecret("/srv/mine/x"));
  EXPECT_TRUE(second.IsSecret("/srv/u/.ssh/id_rsa"));
  EXPECT_NE(reg.GetValue(Hive::LocalMachine, kExcludedFoldersKey, ".ssh", v), 0);  // not rewritten
}

}  // namespace
}  // namespace qv::platform::indexing
