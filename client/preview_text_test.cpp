#include "client/preview_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "context/test_context.h"
#include "platform/indexing/builtin_filters.h"

namespace qv::client {
namespace {

TEST(PreviewTextTest, InvalidBytesAreReplacedAndACutSequenceIsDropped) {
  EXPECT_EQ(ValidPreviewText("a\xC3\xA4z", false), "a\xC3\xA4z");
  EXPECT_EQ(ValidPreviewText("a\xFF" "b", false), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ValidPreviewText("ab\xE2\x82", true), "ab");
  EXPECT_EQ(ValidPreviewText("ab\xE2\x82", false), "ab\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(ValidPreviewText("ab\x82", true), "ab\xEF\xBF\xBD");
}

TEST(PreviewTextTest, ALargeFileShowsItsBeginningAndFifosAreRefusedWithoutWaiting) {
  TestContext test;
  const auto big = test.root() / "big.txt";
  {
    std::ofstream out(big, std::ios::binary);
    out << 'x';  // every "ä" after it straddles the cut
    for (std::size_t i = 0; i < kMaxPreviewTextBytes; ++i) out << "\xC3\xA4";
  }
  std::string text;
  ASSERT_EQ(ReadPreviewText(big, text), S_OK);
  EXPECT_EQ(text.size(), kMaxPreviewTextBytes - 1);
  EXPECT_EQ(text.substr(text.size() - 2), "\xC3\xA4");

  const auto fifo = test.root() / "pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(Failed(ReadPreviewText(fifo, text)));
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(Failed(ReadPreviewText(test.root() / "missing.txt", text)));
}

TEST(PreviewTextTest, FilteredTextIsWhatTheEnginesFilterExtracts) {
  TestContext test;
  platform::indexing::RegisterBuiltinFilterClasses(test.classes());
  ASSERT_EQ(platform::indexing::RegisterBuiltinFilterExtensions(test.registry()), S_OK);
  platform::indexing::DocumentReader reader(test.registry(), test.classes(), {});
  const auto page = test.root() / "page.htm";
  std::ofstream(page) << "<html><p>Budget <b>2005</b></p><script>secret()</script></html>";
  std::string text;
  ASSERT_EQ(FilteredPreviewText(reader, page, text), S_OK);
  EXPECT_NE(text.find("Budget"), std::string::npos);
  EXPECT_NE(text.find("2005"), std::string::npos);
  EXPECT_EQ(text.find("secret"), std::string::npos);

  const auto binary = test.root() / "blob.bin";
  std::ofstream(binary, std::ios::binary) << std::string("\0\1\2\3", 4);
  EXPECT_EQ(FilteredPreviewText(reader, binary, text), S_FALSE);
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace qv::client
