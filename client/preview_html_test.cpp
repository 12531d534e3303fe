#include "client/preview_html.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "common/temp_dir.h"
#include "common/utf.h"

namespace qv::client {
namespace {

TEST(ImageWrapper, APathThatLooksLikeMarkupStaysInsideTheAddress) {
  const std::string path = "/home/u/x\"><script>alert(1)</script><img src=\"#a?b%.png";
  const std::string page = ImageWrapperText(path);
  ASSERT_TRUE(page.starts_with(kImageWrapperHead));
  ASSERT_TRUE(page.ends_with(kImageWrapperTail));
  const std::string address =
      page.substr(kImageWrapperHead.size(),
                  page.size() - kImageWrapperHead.size() - kImageWrapperTail.size());
  EXPECT_EQ(address.find_first_of("\"<>'#?"), std::string::npos) << address;
  EXPECT_EQ(address,
            "file:///home/u/x%22%3E%3Cscript%3Ealert%281%29%3C/script%3E%3Cimg%20src%3D%22%23a%"
            "3Fb%25.png");
  EXPECT_EQ(HtmlEscape("a&b<c>\"d'"), "a&amp;b&lt;c&gt;&quot;d&#39;");
}

TEST(ImageWrapper, EachPageReplacesTheLastAndTheLastGoesWithTheObject) {
  TempDir dir;
  std::filesystem::path first, second;
  {
    ImageWrapperFile wrapper(dir.path());
    ASSERT_EQ(wrapper.Write("/pics/a.png", first), S_OK);
    EXPECT_EQ(first.extension(), ".htm");
    EXPECT_TRUE(first.filename().string().starts_with("TFR"));
    struct stat st {};
    ASSERT_EQ(::stat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream in(first, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2;
    EXPECT_EQ(Utf16LeBytesToUtf8({p, bytes.size() - 2}), ImageWrapperText("/pics/a.png"));

    ASSERT_EQ(wrapper.Write("/pics/b.png", second), S_OK);
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_TRUE(std::filesystem::exists(second));
  }
  EXPECT_FALSE(std::filesystem::exists(second));
  ImageWrapperFile nowhere(dir.path() / "missing");
  std::filesystem::path out;
  EXPECT_TRUE(Failed(nowhere.Write("/pics/c.png", out)));
}

TEST(CleanHtml, ScriptsHandlersAndScriptAddressesGo) {
  const HtmlCleaning off;
  EXPECT_EQ(CleanHtml("<p>a<script>alert('<p>')</script>b</p>", off), "<p>ab</p>");
  EXPECT_EQ(CleanHtml("<P OnClick=\"x()\" class=c>t</P>", off), "<p class=\"c\">t</p>");
  EXPECT_EQ(CleanHtml("<a href=\"java&#x09;script:x()\">l</a>", off), "<a>l</a>");
  EXPECT_EQ(CleanHtml("<a href=\"&#0000000000106;avascript:x()\">l</a>", off), "<a>l</a>");
  EXPECT_EQ(CleanHtml("<a href='JaVaScRiPt&colon;x()'>l</a>", off), "<a>l</a>");
  EXPECT_EQ(CleanHtml("<a href=\"/doc.html\" title='say \"hi\"'>l</a>", off),
            "<a href=\"/doc.html\" title=\"say &quot;hi&quot;\">l</a>");
  EXPECT_EQ(CleanHtml("<iframe src=x>fallback</iframe><!-- <script> -->ok", off), "fallbackok");
  EXPECT_EQ(CleanHtml("<style>body{background:url(http://x/t)}</style><b style=\"color:red\">"
                      "x</b><i style=\"background:u\\72l(x)\">y</i>", off),
            "<b style=\"color:red\">x</b><i>y</i>");
  // An unclosed script hides the rest; a stray '<' is text.
  EXPECT_EQ(CleanHtml("a < b<script>x", off), "a &lt; b");
  EXPECT_EQ(CleanHtml("<scriptx>k</scriptx>", off), "<scriptx>k</scriptx>");
}

TEST(CleanHtml, RemoteLoadsGoUnlessAllowed) {
  const std::string page =
      "<img src=\"http://tracker.example/p.gif\"><img src=\"//cdn.example/a.png\">"
      "<img src=\"pics/local.png\"><img src=\"file:///home/u/a.png\">"
      "<img srcset=\"a.png 1x, https://x/b.png 2x\"><td background=\"HTTP://x/bg.png\">"
      "<a href=\"https://example.org/\">link</a>";
  EXPECT_EQ(CleanHtml(page, {}),
            "<img><img><img src=\"pics/local.png\"><img src=\"file:///home/u/a.png\">"
            "<img><td><a href=\"https://example.org/\">link</a>");
  EXPECT_EQ(CleanHtml(page, {.allowRemote = true}),
            "<img src=\"http://tracker.example/p.gif\"><img src=\"//cdn.example/a.png\">"
            "<img src=\"pics/local.png\"><img src=\"file:///home/u/a.png\">"
            "<img srcset=\"a.png 1x, https://x/b.png 2x\"><td background=\"HTTP://x/bg.png\">"
            "<a href=\"https://example.org/\">link</a>");
  // Scripts stay off even then.
  EXPECT_EQ(CleanHtml("<img src=x onerror=alert(1)>", {.allowRemote = true}), "<img src=\"x\">");
}

}  // namespace
}  // namespace qv::client
