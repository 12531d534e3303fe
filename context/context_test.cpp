#include <gtest/gtest.h>

#include <fstream>

#include "common/temp_dir.h"
#include "context/event_report.h"
#include "context/language_module.h"
#include "context/registry_values.h"
#include "context/test_context.h"
#include "platform/fs/umask_guard.h"

namespace qv {
namespace {

using platform::Hive;
using platform::RegValue;

TEST(RegistryValues, MissingWrongTypeOrOutOfRangeValuesGiveTheDefault) {
  TestContext tc;
  auto& reg = tc.registry();
  EXPECT_EQ(ReadDword(reg, Hive::CurrentUser, kVesperKey, "InactivityTimeout", 300, 10, 3600), 300u);
  reg.SetValue(Hive::CurrentUser, kVesperKey, "InactivityTimeout", RegValue::Sz("60"));
  EXPECT_EQ(ReadDword(reg, Hive::CurrentUser, kVesperKey, "InactivityTimeout", 300, 10, 3600), 300u);
  reg.SetValue(Hive::CurrentUser, kVesperKey, "InactivityTimeout", RegValue::Dword(5));
  EXPECT_EQ(ReadDword(reg, Hive::CurrentUser, kVesperKey, "InactivityTimeout", 300, 10, 3600), 300u);
  reg.SetValue(Hive::CurrentUser, kVesperKey, "InactivityTimeout", RegValue::Dword(3600));
  EXPECT_EQ(ReadDword(reg, Hive::CurrentUser, kVesperKey, "InactivityTimeout", 300, 10, 3600),
            3600u);
  // Key names compare without case.
  EXPECT_EQ(ReadDword(reg, Hive::CurrentUser, "SOFTWARE\\quillon\\VESPER", "InactivityTimeout", 1),
            3600u);
  EXPECT_FALSE(ReadFlag(reg, Hive::LocalMachine, kVesperKey, "DisableStatistics"));

  reg.SetValue(Hive::CurrentUser, kVesperKey, "Name", RegValue::ExpandSz("%HOME%/x"));
  EXPECT_EQ(ReadString(reg, Hive::CurrentUser, kVesperKey, "Name", "def"), "%HOME%/x");
  EXPECT_EQ(ReadString(reg, Hive::CurrentUser, kVesperKey, "Name", "def", 3), "def");
  EXPECT_EQ(ReadString(reg, Hive::CurrentUser, kVesperKey, "InactivityTimeout", "def"), "def");
  reg.SetValue(Hive::CurrentUser, kVesperKey, "List", RegValue::MultiSz({"a", "b"}));
  EXPECT_EQ(ReadMultiString(reg, Hive::CurrentUser, kVesperKey, "List"),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(ReadMultiString(reg, Hive::CurrentUser, kVesperKey, "Name").empty());
}

TEST(EventReport, ProviderErrorsAndItemWarningsCarryTheirFormattedCodes) {
  TestContext tc;
  ReportProviderError(tc.ctx(), "Pelion.FileRanking::UpdateRank", STG_E_LOCKVIOLATION);
  ReportItemWarning(tc.ctx(), kCategoryProvider, 0xC0000412, "/home/u/a.txt",
                    HresultFromWin32(win32::ERROR_ACCESS_DENIED));
  ReportEvent(tc.ctx(), platform::EventType::Error, kCategoryTracer, 0xC0000100,
              std::vector<std::string>(40, "s"));
  const auto ev = tc.eventLog().ReadAll();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].source, "Quillon Vesper");
  EXPECT_EQ(ev[0].strings, (std::vector<std::string>{"Pelion.FileRanking::UpdateRank", "0x80030021",
                                                     "A lock violation has occurred."}));
  EXPECT_EQ(ev[1].type, platform::EventType::Warning);
  EXPECT_EQ(ev[1].strings.at(1), "5(0x5)");
  EXPECT_EQ(ev[1].strings.at(2), "Access is denied.");
  EXPECT_EQ(ev[2].category, kCategoryTracer);
  EXPECT_EQ(ev[2].strings.size(), 32u);
}

class LanguageModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto install = tc.root() / "install";
    std::filesystem::create_directories(install / "nls" / "1033");
    std::filesystem::create_directories(install / "nls" / "1031");
    std::ofstream(install / "nls" / "1033" / "QvNls.txt") << "# English\n100\tSearch\n101\tA\\tB\\nC\n";
    std::ofstream(install / "nls" / "1031" / "QvNls.txt") << "100\tSuchen\r\n";
    tc.registry().SetValue(Hive::LocalMachine, kEventSourceKey, "EventMessageFile",
                           RegValue::ExpandSz((install / "QvEvents.txt").string()));
  }
  TestContext tc;
};

TEST(Installation, MakesTheRootPrivateAndWarnsWhenItNarrowsALooseOne) {
  TempDir dir;
  const auto root = dir.path() / "root";
  {
    Installation fresh(root);
    EXPECT_EQ(platform::ModeOf(root.c_str()), 0700);
    EXPECT_TRUE(fresh.context().eventLog.ReadAll().empty());
  }
  ::chmod(root.c_str(), 0755);
  Installation loose(root);
  EXPECT_EQ(platform::ModeOf(root.c_str()), 0700);
  const auto events = loose.context().eventLog.ReadAll();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, platform::EventType::Warning);
  EXPECT_EQ(events[0].eventId, kEventRootNarrowed);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{root.string()});
}

TEST_F(LanguageModuleTest, PicksTheLocaleThenTheMappingThenEnglish) {
  LanguageModule m;
  ASSERT_EQ(LanguageModule::Load(tc.ctx(), 1031, m), S_OK);
  EXPECT_EQ(m.langId(), 1031);
  EXPECT_EQ(m.TextOr(100), "Suchen");
  EXPECT_EQ(m.TextOr(555), "#555");

  // Austrian German has no folder; the mapping sends it to German.
  tc.registry().SetValue(Hive::LocalMachine, kNlsMappingKey, "3079", RegValue::Dword(1031));
  ASSERT_EQ(LanguageModule::Load(tc.ctx(), 3079, m), S_OK);
  EXPECT_EQ(m.langId(), 1031);
  // French has neither: English.
  ASSERT_EQ(LanguageModule::Load(tc.ctx(), 1036, m), S_OK);
  EXPECT_EQ(m.langId(), 1033);
  EXPECT_EQ(m.TextOr(101), "A\tB\nC");
  // A mapping to a language that is not installed fails rather than showing nothing.
  tc.registry().SetValue(Hive::LocalMachine, kNlsMappingKey, "1036", RegValue::Dword(1041));
  EXPECT_EQ(LanguageModule::Load(tc.ctx(), 1036, m), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
}

TEST_F(LanguageModuleTest, MalformedCatalogsAreRefusedWithTheLine) {
  const auto bad = tc.root() / "bad.txt";
  std::ofstream(bad) << "100\tok\nnot a number\n";
  LanguageModule m;
  std::string error;
  EXPECT_EQ(LanguageModule::LoadFile(bad, m, &error), HresultFromWin32(win32::ERROR_BAD_FORMAT));
  EXPECT_NE(error.find(":2:"), std::string::npos);
  std::ofstream(bad) << "99999999999\ttoo big\n";
  EXPECT_EQ(LanguageModule::LoadFile(bad, m, &error), HresultFromWin32(win32::ERROR_BAD_FORMAT));
}

TEST(LanguageModule, LocaleNamesMapToLanguageIds) {
  EXPECT_EQ(LangIdFromLocale("de_DE.UTF-8"), 1031);
  EXPECT_EQ(LangIdFromLocale("en_GB"), 2057);
  EXPECT_EQ(LangIdFromLocale("fr"), 1036);
  EXPECT_EQ(LangIdFromLocale("C.UTF-8"), 1033);
  EXPECT_EQ(LangIdFromLocale("xx_YY"), 0);
  EXPECT_EQ(LangIdFromLocale("english"), 0);
}

}  // namespace
}  // namespace qv
