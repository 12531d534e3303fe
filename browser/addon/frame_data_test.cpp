#include "browser/addon/frame_data.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "browser/addon/accepted_url.h"

namespace qv::browser {
namespace {

std::size_t Lines(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

FrameDocument Doc(std::string url, std::vector<FrameDocument> frames = {}) {
  FrameDocument d;
  d.url = std::move(url);
  d.frames = std::move(frames);
  d.hasFrames = !d.frames.empty();
  return d;
}

TEST(AcceptedUrl, SecureBlankAndEmptyPagesAreNotReported) {
  EXPECT_TRUE(IsAcceptedUrl("http://site.test/"));
  EXPECT_TRUE(IsAcceptedUrl("file:///tmp/a.html"));
  EXPECT_FALSE(IsAcceptedUrl(""));
  EXPECT_FALSE(IsAcceptedUrl(":odd"));
  EXPECT_FALSE(IsAcceptedUrl("HTTPS://bank.test/"));
  EXPECT_FALSE(IsAcceptedUrl("about:Blank"));
  EXPECT_FALSE(IsAcceptedUrl("about:blank#x"));
  EXPECT_TRUE(IsAcceptedUrl("about:version"));
  EXPECT_TRUE(IsHttpsUrl("hTTps://x"));
  EXPECT_FALSE(IsHttpsUrl("httpsx://x"));
}

TEST(FrameData, BlocksComeTopFirstThenFramesDepthFirst) {
  FrameDocument top = Doc("http://s.test/", {Doc("http://s.test/a", {Doc("http://s.test/a1")}),
                                             Doc("http://s.test/b")});
  top.charset = "utf-8";
  top.metas = {{"description", "noindex here"}, {"ROBOTS", "index"}, {"Robots", "NOINDEX, follow"},
               {"robots", "none"}};
  EXPECT_EQ(BuildFrameData(top),
            "http://s.test/\n\nutf-8\nNOINDEX, follow\nf\n"
            "http://s.test/a\n\n\n\nf\n"
            "http://s.test/a1\n\n\n\n\n"
            "http://s.test/b\n\n\n\n\n");
}

TEST(FrameData, FramesWithThePagesUrlAddNoBlock) {
  const FrameDocument top =
      Doc("http://s.test/", {Doc("http://s.test/"), Doc("http://s.test/", {Doc("http://s.test/x")})});
  EXPECT_EQ(BuildFrameData(top), "http://s.test/\n\n\n\nf\n");
}

TEST(FrameData, AUrlInsideAnotherIsStillItsOwnPart) {
  // The first URL holds the second as a substring and as a suffix of its line.
  const FrameDocument top = Doc("http://s.test/go?to=http://s.test/a",
                                {Doc("http://s.test/a"), Doc("http://s.test/go"),
                                 Doc("http://s.test/a")});
  const std::string text = BuildFrameData(top);
  EXPECT_EQ(Lines(text), 15u) << text;
  EXPECT_NE(text.find("\nhttp://s.test/a\n"), std::string::npos);
  EXPECT_NE(text.find("\nhttp://s.test/go\n"), std::string::npos);
}

TEST(FrameData, PageTextCannotInjectLines) {
  FrameDocument top = Doc("http://s.test/\r\nhttp://evil.test/", {Doc("http://s.test/f\n")});
  top.charset = "utf-8\nhttp://evil.test/\n\n\n\n";
  top.metas = {{"robots", "noindex\r\nhttp://evil.test/"}};
  const std::string text = BuildFrameData(top);
  EXPECT_EQ(text,
            "http://s.test/http://evil.test/\n\nutf-8http://evil.test/\nnoindexhttp://evil.test/\nf\n"
            "http://s.test/f\n\n\n\n\n");
  EXPECT_EQ(WithoutControls(std::string("a\tb\x7f" "c\0d", 7)), "abcd");
}

TEST(FrameData, NestingStopsSixteenLevelsBelowTheTop) {
  FrameDocument doc = Doc("http://s.test/17");
  for (int level = 16; level >= 0; --level) doc = Doc("http://s.test/" + std::to_string(level), {doc});
  const std::string text = BuildFrameData(doc);
  EXPECT_EQ(Lines(text), 17u * 5);
  EXPECT_NE(text.find("http://s.test/16\n"), std::string::npos);
  EXPECT_EQ(text.find("http://s.test/17\n"), std::string::npos);
}

TEST(FrameData, FramesThatAreNotAcceptedAreNotFollowed) {
  const FrameDocument top = Doc("http://s.test/", {Doc("https://s.test/x", {Doc("http://s.test/deep")}),
                                                   Doc("about:blank"), Doc("")});
  EXPECT_EQ(BuildFrameData(top), "http://s.test/\n\n\n\nf\n");
}

TEST(FrameData, ABlockBeyondTheLimitIsLeftOutWithItsFrames) {
  const FrameDocument top = Doc("http://s.test/", {Doc("http://s.test/" + std::string(100, 'a'),
                                                       {Doc("http://s.test/c")}),
                                                   Doc("http://s.test/b")});
  // Room for the top and the last frame, not the long one.
  EXPECT_EQ(BuildFrameData(top, 40), "http://s.test/\n\n\n\nf\nhttp://s.test/b\n\n\n\n\n");
  EXPECT_EQ(BuildFrameData(Doc("http://s.test/long"), 3), "http://s.test/long\n\n\n\n\n");
}

}  // namespace
}  // namespace qv::browser
