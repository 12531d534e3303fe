#include "service/QvRankingSvc/service_registration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "common/guid.h"
#include "context/test_context.h"
#include "interfaces/ikiv_listener.h"
#include "service/QvRankingSvc/service_constants.h"

namespace qv::service {
namespace {

using platform::Hive;
using platform::RegValue;

std::string Read(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ServiceRegistrationTest : public ::testing::Test {
 protected:
  RegistrationOptions Options() {
    return {"/opt/quillon vesper/bin/QvRankingSvc", tc.root() / "config" / "systemd" / "user"};
  }
  std::string Sz(Hive hive, const std::string& key, std::string_view name) {
    RegValue v;
    if (tc.registry().GetValue(hive, key, name, v) != 0) return "<missing>";
    return v.text;
  }
  std::filesystem::path Unit() { return *Options().unitFolder / kUnitFileName; }

  TestContext tc;
  const std::string clsid = "CLSID\\" + FormatGuid(CLSID_KivListener);
  const std::string appid = "AppID\\" + FormatGuid(APPID_QvRankingSvc);
};

TEST_F(ServiceRegistrationTest, RegistersTheClassAppIdEventSourceAndTheUnit) {
  ASSERT_EQ(RegisterService(tc.registry(), Options()), S_OK);
  EXPECT_EQ(Sz(Hive::ClassesRoot, clsid, ""), "Quillon Ranking Listener");
  EXPECT_EQ(Sz(Hive::ClassesRoot, clsid + "\\LocalServer32", ""),
            "/opt/quillon vesper/bin/QvRankingSvc");
  EXPECT_EQ(Sz(Hive::ClassesRoot, clsid + "\\LocalServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Sz(Hive::ClassesRoot, appid, ""), "QvRankingSvc");
  EXPECT_EQ(Sz(Hive::ClassesRoot, appid, "LocalService"), "QvRankingSvc");
  EXPECT_EQ(Sz(Hive::ClassesRoot, "AppID\\QvRankingSvc.EXE", "AppID"),
            FormatGuid(APPID_QvRankingSvc));
  EXPECT_EQ(Sz(Hive::LocalMachine, std::string(kEventSourceKey), "EventMessageFile"),
            "/opt/quillon vesper/bin/QvEvents.dll");
  RegValue count;
  ASSERT_EQ(tc.registry().GetValue(Hive::LocalMachine, kEventSourceKey, "CategoryCount", count), 0);
  EXPECT_EQ(count.dword, 3u);
  EXPECT_EQ(Sz(Hive::LocalMachine, std::string(kServiceKey), "ImagePath"),
            "\"/opt/quillon vesper/bin/QvRankingSvc\"");

  const std::string unit = Read(Unit());
  EXPECT_NE(unit.find("ExecStart=\"/opt/quillon vesper/bin/QvRankingSvc\" --run\n"),
            std::string::npos)
      << unit;
  struct stat st {};
  ASSERT_EQ(::stat(Unit().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ServiceRegistrationTest, RegisteringTwiceLeavesTheInstalledServiceInPlace) {
  ASSERT_EQ(RegisterService(tc.registry(), Options()), S_OK);
  std::ofstream(Unit(), std::ios::app) << "# the user's own line\n";
  ASSERT_EQ(tc.registry().SetValue(Hive::LocalMachine, kServiceKey, "Start", RegValue::Dword(2)),
            0);
  // A stale class entry is replaced whole.
  ASSERT_EQ(tc.registry().SetValue(Hive::ClassesRoot, clsid + "\\InprocServer32", "",
                                   RegValue::Sz("old.so")),
            0);
  ASSERT_EQ(RegisterService(tc.registry(), Options()), S_OK);
  EXPECT_NE(Read(Unit()).find("# the user's own line"), std::string::npos);
  RegValue start;
  ASSERT_EQ(tc.registry().GetValue(Hive::LocalMachine, kServiceKey, "Start", start), 0);
  EXPECT_EQ(start.dword, 2u);
  EXPECT_FALSE(tc.registry().KeyExists(Hive::ClassesRoot, clsid + "\\InprocServer32"));
}

TEST_F(ServiceRegistrationTest, UnregisteringRemovesEverythingAndTwiceIsNoError) {
  ASSERT_EQ(RegisterService(tc.registry(), Options()), S_OK);
  ASSERT_EQ(UnregisterService(tc.registry(), Options()), S_OK);
  EXPECT_FALSE(tc.registry().KeyExists(Hive::ClassesRoot, clsid));
  EXPECT_FALSE(tc.registry().KeyExists(Hive::ClassesRoot, appid));
  EXPECT_FALSE(tc.registry().KeyExists(Hive::ClassesRoot, "AppID\\QvRankingSvc.EXE"));
  EXPECT_FALSE(tc.registry().KeyExists(Hive::LocalMachine, kEventSourceKey));
  EXPECT_FALSE(tc.registry().KeyExists(Hive::LocalMachine, kServiceKey));
  EXPECT_FALSE(std::filesystem::exists(Unit()));
  EXPECT_EQ(UnregisterService(tc.registry(), Options()), S_OK);
}

TEST(ServiceUnit, ProgramPathsAreQuotedSoSystemdTakesThemLiterally) {
  std::string text;
  ASSERT_EQ(UnitText("/home/a \"b\"/100%/$HOME/x\\y/QvRankingSvc", text), S_OK);
  EXPECT_NE(text.find(R"(ExecStart="/home/a \"b\"/100%%/$$HOME/x\\y/QvRankingSvc" --run)"),
            std::string::npos)
      << text;
  // A line break would end the setting and start another one.
  EXPECT_EQ(UnitText("/home/a\nExecStartPre=/bin/evil/QvRankingSvc", text), E_INVALIDARG);
}

}  // namespace
}  // namespace qv::service
