#include "mail/QvOutlookProxy/proxy_registration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "context/test_context.h"
#include "mail/QvOutlookProxy/outlook_proxy.h"

namespace qv::mail {
namespace {

using platform::Hive;

TEST(ProxySwitches, RegistrationSwitchesIgnoreCaseAndTakeEitherPrefix) {
  ProxyCommand c;
  std::string error;
  const auto parse = [&](std::vector<std::string_view> a) {
    return ParseProxySwitches(a, c, error);
  };
  ASSERT_TRUE(parse({}));
  EXPECT_EQ(c, ProxyCommand::Serve);
  ASSERT_TRUE(parse({"/regserver"}));
  EXPECT_EQ(c, ProxyCommand::Register);
  ASSERT_TRUE(parse({"-UNREGSERVER"}));
  EXPECT_EQ(c, ProxyCommand::Unregister);
  ASSERT_TRUE(parse({"--help"}));
  EXPECT_EQ(c, ProxyCommand::Help);
  EXPECT_FALSE(parse({"-RegServerX"}));
  EXPECT_NE(error.find("-RegServerX"), std::string::npos);
  EXPECT_FALSE(parse({"RegServer"}));
  EXPECT_FALSE(parse({"-RegServer", "-UnregServer"}));
}

TEST(ProxyRegistration, RegisterWritesTheClassAndAppIdAndUnregisterRemovesThem) {
  TestContext tc;
  auto& reg = tc.ctx().registry;
  const std::string classKey = "CLSID\\" + FormatGuid(CLSID_CIProxy);
  ASSERT_EQ(RegisterProxyServer(reg, "/opt/qv/bin/QvOutlookProxy"), S_OK);
  ASSERT_EQ(RegisterProxyServer(reg, "/opt/qv/bin/QvOutlookProxy"), S_OK);  // twice: fine
  platform::RegValue v;
  ASSERT_EQ(reg.GetValue(Hive::ClassesRoot, classKey + "\\LocalServer32", "", v), 0);
  EXPECT_EQ(v.text, "/opt/qv/bin/QvOutlookProxy");
  ASSERT_EQ(reg.GetValue(Hive::ClassesRoot, "QvOutlookProxy.CIProxy\\CLSID", "", v), 0);
  EXPECT_EQ(v.text, FormatGuid(CLSID_CIProxy));
  ASSERT_EQ(reg.GetValue(Hive::ClassesRoot, "AppID\\" + FormatGuid(APPID_QvOutlookProxy),
                         "RunAs", v),
            0);
  EXPECT_EQ(v.text, "Interactive User");
  ASSERT_EQ(reg.GetValue(Hive::ClassesRoot, "AppID\\QvOutlookProxy.EXE", "AppID", v), 0);
  EXPECT_EQ(v.text, FormatGuid(APPID_QvOutlookProxy));

  ASSERT_EQ(UnregisterProxyServer(reg), S_OK);
  EXPECT_FALSE(reg.KeyExists(Hive::ClassesRoot, classKey));
  EXPECT_FALSE(reg.KeyExists(Hive::ClassesRoot, "QvOutlookProxy.CIProxy.1"));
  EXPECT_FALSE(reg.KeyExists(Hive::ClassesRoot, "AppID\\QvOutlookProxy.EXE"));
  EXPECT_EQ(UnregisterProxyServer(reg), S_OK);  // already gone: fine
}

TEST(ProxyClass, CreatedByProgIdItIsTheRunningProgramsObject) {
  TestContext tc;
  auto table = std::make_shared<platform::RunningObjects>(
      platform::RunningObjectsOptions{tc.root() / "rot", ::getuid(), {}});
  RegisterProxyClass(tc.classes(), table, tc.clock());
  Guid clsid;
  ASSERT_EQ(tc.classes().ClsidFromProgId("QvOutlookProxy.CIProxy", clsid), S_OK);
  std::shared_ptr<IKivCIProxy> remote;
  EXPECT_EQ(tc.classes().CreateInstance(clsid, remote), CO_E_SERVER_EXEC_FAILURE);

  // The program's class object, as its main serves it.
  OutlookProxy proxy(tc.ctx(), table, "0:1");
  std::unique_ptr<platform::Registration> classObject;
  ASSERT_EQ(table->Register(kProxyClassObjectName,
                            [&](const platform::CallRequest& call,
                                std::vector<platform::CallArg>& out,
                                std::stop_token cancel) { return proxy.Dispatch(call, out, cancel); },
                            classObject),
            S_OK);
  ASSERT_EQ(tc.classes().CreateInstance(clsid, remote), S_OK);
  std::uint32_t cookie = 0;
  EXPECT_EQ(remote->AddScope("", &cookie), E_INVALIDARG);
  ASSERT_EQ(remote->AddScope("/mail/store", &cookie), S_OK);
  EXPECT_EQ(proxy.scopeCount(), 1u);
  EXPECT_TRUE(table->IsRunning("!Qv.OtlIndexing./mail/store"));
  EXPECT_EQ(remote->RemoveScope(0), S_FALSE);
  EXPECT_EQ(remote->RemoveScope(cookie), S_OK);
  EXPECT_EQ(proxy.scopeCount(), 0u);
  EXPECT_FALSE(table->IsRunning("!Qv.OtlIndexing./mail/store"));
  // The add-in not running: the filter's call through the program fails at once.
  filters::OtlItemData d;
  EXPECT_EQ(remote->GetItemData("outlook:1", d), platform::MK_E_UNAVAILABLE);
}

}  // namespace
}  // namespace qv::mail
