#include "shell/settings/pattern_lists.h"

#include <gtest/gtest.h>

#include "shell/settings/identity_text.h"
#include "common/utf.h"

namespace qv::settings {
namespace {

using List = std::vector<std::string>;

TEST(PatternListsTest, FilePatternsGetAPrefixAndAnExtensionUnlessTheyHaveThem) {
  EXPECT_EQ(NormalisePatternText("Temp\n\\Windows\\\nreport.\n.log\n*.tmp", PatternKind::File),
            (List{"*/Temp.*", "\\Windows\\*", "*/report.*", "*.log", "*.tmp"}));
  // POSIX forms of the same: a rooted folder, a dotted folder before the name, a drive.
  EXPECT_EQ(NormaliseFilePattern("/home/ann/cache/"), "/home/ann/cache/*");
  EXPECT_EQ(NormaliseFilePattern("build.d/out"), "*/build.d/out.*");
  EXPECT_EQ(NormaliseFilePattern("C:\\temp"), "C:\\temp.*");
  EXPECT_EQ(NormaliseFilePattern("?oo"), "?oo.*");
  // Normalising twice changes nothing: an open-ended pattern gets no extension appended.
  EXPECT_EQ(NormaliseFilePattern("/srv/cache/*"), "/srv/cache/*");
  for (const char* p : {"Temp", "\\Windows\\", "report.", ".log", "a/b/"}) {
    const std::string once = NormaliseFilePattern(p);
    EXPECT_EQ(NormaliseFilePattern(once), once) << p;
  }
}

TEST(PatternListsTest, WebPatternsAreOpenedAtBothEndsUnlessSchemeOrQuery) {
  EXPECT_EQ(NormalisePatternText("news\nintranet/docs/\nabout:blank\n*search?q=", PatternKind::Web),
            (List{"*news*", "*intranet/docs/", "about:blank*", "*search?q="}));
  EXPECT_EQ(NormaliseWebPattern("page?"), "*page?");
  EXPECT_EQ(NormaliseWebPattern("*x*"), "*x*");
}

TEST(PatternListsTest, LinesAreTrimmedAndBlankLinesDropped) {
  EXPECT_EQ(NormalisePatternText(" \t.log \r\n\r\n \n\t*.tmp\t\r\n", PatternKind::File),
            (List{"*.log", "*.tmp"}));
  EXPECT_TRUE(NormalisePatternText(" \r\n\t\n", PatternKind::Web).empty());
  EXPECT_TRUE(NormalisePatternText("", PatternKind::File).empty());
  EXPECT_EQ(PatternText({"*.log", "*.tmp"}), "*.log\r\n*.tmp");
}

TEST(IdentityTextTest, TrimmedAndCutTo255UnitsWithoutSplittingAPair) {
  EXPECT_EQ(CleanIdentity("  ann \t\r\n"), "ann");
  EXPECT_EQ(CleanIdentity(" \t "), "");
  EXPECT_EQ(CleanIdentity(std::string(300, 'a')), std::string(255, 'a'));
  EXPECT_EQ(CleanIdentity(std::string(255, 'a')), std::string(255, 'a'));

  // U+1F600 takes two UTF-16 units; at units 255 and 256 the cut would split it.
  const std::string smile = "\xF0\x9F\x98\x80";
  const std::string split = std::string(254, 'a') + smile + "b";
  EXPECT_EQ(CleanIdentity(split), std::string(254, 'a'));
  // A pair that ends exactly at unit 255 is kept whole.
  const std::string whole = std::string(253, 'a') + smile + "bc";
  EXPECT_EQ(CleanIdentity(whole), std::string(253, 'a') + smile);
  bool ok = false;
  Utf8ToUtf16(CleanIdentity(split), &ok);
  EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace qv::settings
