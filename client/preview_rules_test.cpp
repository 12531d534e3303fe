#include "client/preview_rules.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/temp_dir.h"
#include "context/test_context.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegValue;

constexpr std::string_view kView = "Software\\Quillon\\Vesper\\View";

class PreviewRulesTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) {
    const auto p = dir_.path() / name;
    std::ofstream(p) << "x";
    return p.string();
  }
  void Set(std::string_view name, const RegValue& v) {
    ASSERT_EQ(test_.registry().SetValue(Hive::CurrentUser, kView, name, v), 0);
  }
  PreviewKind Choose(ItemKind kind, const std::string& id) {
    return ChoosePreview({kind, id}, LoadPreviewSettings(test_.registry()), types_);
  }

  TestContext test_;
  TempDir dir_;
  RegistryFileTypes types_{test_.registry()};
};

TEST_F(PreviewRulesTest, ASwitchIsOffOnlyAsADwordZero) {
  const auto text = File("a.txt");
  EXPECT_EQ(Choose(ItemKind::File, text), PreviewKind::Text);
  Set(kPreviewFilesValue, RegValue::Sz("0"));
  EXPECT_EQ(Choose(ItemKind::File, text), PreviewKind::Text);
  Set(kPreviewFilesValue, RegValue::Binary({0, 0, 0, 0}));
  EXPECT_EQ(Choose(ItemKind::File, text), PreviewKind::Text);
  Set(kPreviewFilesValue, RegValue::Dword(0));
  EXPECT_EQ(Choose(ItemKind::File, text), PreviewKind::None);

  EXPECT_EQ(Choose(ItemKind::WebPage, "http://example.org/"), PreviewKind::Web);
  Set(kPreviewWebValue, RegValue::Dword(0));
  EXPECT_EQ(Choose(ItemKind::WebPage, "http://example.org/"), PreviewKind::None);
  EXPECT_EQ(Choose(ItemKind::Mail, "OUTLOOK:0123AB"), PreviewKind::Mail);
  Set(kPreviewEmailValue, RegValue::Dword(0));
  EXPECT_EQ(Choose(ItemKind::Mail, "outlook:0123AB"), PreviewKind::None);
}

TEST_F(PreviewRulesTest, TheTypeMaskDecidesPerContentType) {
  const auto jpeg = File("photo.JPG");
  EXPECT_EQ(Choose(ItemKind::File, jpeg), PreviewKind::Image);
  Set(kPreviewFileTypesValue, RegValue::Dword(0x3F & ~kPreviewTypeImage));
  EXPECT_EQ(Choose(ItemKind::File, jpeg), PreviewKind::None);
  EXPECT_EQ(Choose(ItemKind::File, File("page.html")), PreviewKind::Html);
  EXPECT_EQ(Choose(ItemKind::File, File("song.mp3")), PreviewKind::Media);
  Set(kPreviewFileTypesValue, RegValue::Dword(kPreviewTypeXml));
  EXPECT_EQ(Choose(ItemKind::File, File("a.xml")), PreviewKind::Text);
  EXPECT_EQ(Choose(ItemKind::File, File("b.txt")), PreviewKind::None);
  // A mask of another type is no mask: every type.
  Set(kPreviewFileTypesValue, RegValue::Sz("0"));
  EXPECT_EQ(Choose(ItemKind::File, jpeg), PreviewKind::Image);
}

TEST_F(PreviewRulesTest, DocumentsNeedAFilterAndUnknownExtensionsAreNotPreviewed) {
  const auto pdf = File("report.pdf");
  const auto odt = File("letter.odt");
  EXPECT_EQ(Choose(ItemKind::File, pdf), PreviewKind::None);
  EXPECT_EQ(Choose(ItemKind::File, File("noext")), PreviewKind::None);
  EXPECT_EQ(Choose(ItemKind::File, File("data.qqq")), PreviewKind::None);
  auto& reg = test_.registry();
  ASSERT_EQ(reg.SetValue(Hive::ClassesRoot, ".pdf\\PersistentHandler", "",
                         RegValue::Sz("{00000000-0000-0000-0000-000000000001}")), 0);
  EXPECT_EQ(Choose(ItemKind::File, pdf), PreviewKind::FilteredText);
  // Through the file type's CLSID, and a content type from the classes root.
  ASSERT_EQ(reg.SetValue(Hive::ClassesRoot, ".qqq", "Content Type",
                         RegValue::Sz("application/x-qqq")), 0);
  ASSERT_EQ(reg.SetValue(Hive::ClassesRoot, ".qqq", "", RegValue::Sz("qqqfile")), 0);
  EXPECT_EQ(Choose(ItemKind::File, File("data.qqq")), PreviewKind::None);
  ASSERT_EQ(reg.CreateKey(Hive::ClassesRoot, "qqqfile\\CLSID"), 0);
  ASSERT_EQ(reg.SetValue(Hive::ClassesRoot, ".rst", "Content Type",
                         RegValue::Sz("Text/Plain; charset=utf-8")), 0);
  EXPECT_EQ(Choose(ItemKind::File, File("readme.rst")), PreviewKind::Text);
  EXPECT_EQ(Choose(ItemKind::File, File("data.qqq")), PreviewKind::FilteredText);
  Set(kPreviewFileTypesValue, RegValue::Dword(0x3F & ~kPreviewTypeFiltered));
  EXPECT_EQ(Choose(ItemKind::File, File("data.qqq")), PreviewKind::None);
  EXPECT_EQ(Choose(ItemKind::File, pdf), PreviewKind::FilteredText);
  EXPECT_EQ(Choose(ItemKind::File, odt), PreviewKind::None);
}

TEST_F(PreviewRulesTest, IncludeAndExcludePatterns) {
  const auto txt = File("notes.txt");
  const auto doc = File("notes.html");
  Set(kPreviewMatchTypeValue, RegValue::Dword(1));
  // Include mode without a list lets nothing through.
  EXPECT_EQ(Choose(ItemKind::File, txt), PreviewKind::None);
  Set(kPreviewIncludeValue, RegValue::MultiSz({"*.txt"}));
  EXPECT_EQ(Choose(ItemKind::File, txt), PreviewKind::Text);
  EXPECT_EQ(Choose(ItemKind::File, doc), PreviewKind::None);

  // Exclude mode (any other matchtype) reads the other list; the list ends at an empty string.
  Set(kPreviewMatchTypeValue, RegValue::Dword(2));
  EXPECT_EQ(Choose(ItemKind::File, txt), PreviewKind::Text);
  Set(kPreviewExcludeValue, RegValue::MultiSz({"*/secret/*", "", "*.txt"}));
  EXPECT_EQ(Choose(ItemKind::File, txt), PreviewKind::Text);
  std::filesystem::create_directory(dir_.path() / "secret");
  EXPECT_EQ(Choose(ItemKind::File, File("secret/plan.TXT")), PreviewKind::None);
  EXPECT_EQ(Choose(ItemKind::File, (dir_.path() / "secret").string()), PreviewKind::Folder);
  // A list of the wrong type is no list.
  Set(kPreviewExcludeValue, RegValue::Sz("*.txt"));
  EXPECT_EQ(Choose(ItemKind::File, txt), PreviewKind::Text);
}

TEST_F(PreviewRulesTest, VanishedFilesFoldersAndUrls) {
  const auto gone = File("gone.txt");
  std::filesystem::remove(gone);
  EXPECT_EQ(Choose(ItemKind::File, gone), PreviewKind::None);
  EXPECT_EQ(Choose(ItemKind::File, dir_.path().string()), PreviewKind::Folder);
  // Any identifier that is a URL goes to the browser, whatever its row's kind.
  EXPECT_EQ(Choose(ItemKind::File, "ftp://host/file.txt"), PreviewKind::Web);
  // A mail row without the mail prefix is no mail item.
  EXPECT_EQ(Choose(ItemKind::Mail, "/no/such/mail"), PreviewKind::None);
  EXPECT_FALSE(IsUrl("c:\\x"));
  EXPECT_FALSE(IsUrl("/a:b"));
  EXPECT_TRUE(IsUrl("about:blank"));
}

}  // namespace
}  // namespace qv::client
