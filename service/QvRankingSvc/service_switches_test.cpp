#include "service/QvRankingSvc/service_switches.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv::service {
namespace {

struct Parsed {
  bool ok = false;
  SvcSwitches switches;
  std::string error;
};

Parsed Parse(std::vector<std::string_view> args) {
  Parsed p;
  p.ok = ParseSvcSwitches(args, p.switches, p.error);
  return p;
}

TEST(SvcSwitches, RegistrationSwitchesTakeEitherPrefixAndAnyCase) {
  for (std::string_view arg : {"-RegServer", "/RegServer", "-regserver", "/REGSERVER",
                               "-Service", "/service", "-RegServer extra", "/regserver\tx"}) {
    const Parsed p = Parse({arg});
    ASSERT_TRUE(p.ok) << arg << ": " << p.error;
    EXPECT_EQ(p.switches.command, SvcCommand::Register) << arg;
  }
  for (std::string_view arg : {"-UnregServer", "/unregserver", "-UNREGSERVER"}) {
    const Parsed p = Parse({arg});
    ASSERT_TRUE(p.ok) << arg;
    EXPECT_EQ(p.switches.command, SvcCommand::Unregister) << arg;
  }
}

TEST(SvcSwitches, LongerWordsOtherPrefixesAndStrayArgumentsAreRefused) {
  for (std::string_view arg : {"-RegServerX", "/RegServers", "RegServer", "--RegServer",
                               "\\RegServer", "-Reg", "-", "/", "", "-Unreg", "--RUN", "run",
                               "-run", "--run=1", "--stop-now"}) {
    const Parsed p = Parse({arg});
    EXPECT_FALSE(p.ok) << "'" << arg << "' was taken";
    EXPECT_NE(p.error.find("unknown argument"), std::string::npos) << p.error;
  }
}

TEST(SvcSwitches, DaemonOptionsAndCombinations) {
  EXPECT_EQ(Parse({}).switches.command, SvcCommand::None);
  EXPECT_TRUE(Parse({}).ok);
  EXPECT_EQ(Parse({"--run"}).switches.command, SvcCommand::Run);
  const Parsed detached = Parse({"--detach", "--run"});
  ASSERT_TRUE(detached.ok);
  EXPECT_TRUE(detached.switches.detach);
  EXPECT_EQ(Parse({"--stop"}).switches.command, SvcCommand::Stop);
  EXPECT_EQ(Parse({"-h"}).switches.command, SvcCommand::Help);
  // The same command twice is one command; two different ones are refused.
  EXPECT_TRUE(Parse({"-RegServer", "/service"}).ok);
  EXPECT_FALSE(Parse({"--run", "--stop"}).ok);
  EXPECT_FALSE(Parse({"-RegServer", "-UnregServer"}).ok);
  EXPECT_FALSE(Parse({"--detach"}).ok);
  EXPECT_FALSE(Parse({"--stop", "--detach"}).ok);
}

}  // namespace
}  // namespace qv::service
