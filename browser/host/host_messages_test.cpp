#include "browser/host/host_messages.h"

#include <gtest/gtest.h>

#include "browser/addon/addon_constants.h"

namespace qv::browser {
namespace {

TEST(HostMessages, ReadsEveryKind) {
  HostMessage m;
  std::string error;
  ASSERT_TRUE(ParseHostMessage(R"({"type":"navigate","tab":3,"url":"http://s.test/","extra":1})", m, error))
      << error;
  EXPECT_EQ(std::get<NavigateMessage>(m).url, "http://s.test/");
  ASSERT_TRUE(ParseHostMessage(
      R"({"type":"document","tab":3,"title":"T","frame":{"url":"http://s.test/","charset":"utf-8",
          "metas":[{"name":"robots","content":"noindex"}],"hasFrames":true,
          "frames":[{"url":"http://s.test/f","frames":null}]}})",
      m, error))
      << error;
  const auto& d = std::get<DocumentMessage>(m);
  EXPECT_EQ(d.title, "T");
  EXPECT_EQ(BuildFrameData(d.top), "http://s.test/\n\nutf-8\nnoindex\nf\nhttp://s.test/f\n\n\n\n\n");
  ASSERT_TRUE(ParseHostMessage(
      R"({"type":"page","tab":0,"url":"http://s.test/","top":true,"responseHeaders":"Pragma: no-cache","body":"PHA+"})",
      m, error))
      << error;
  const auto& p = std::get<PageMessage>(m);
  EXPECT_EQ(std::string(p.body.begin(), p.body.end()), "<p>");
  EXPECT_TRUE(p.top);
  ASSERT_TRUE(ParseHostMessage(R"({"type":"closed","tab":2147483647})", m, error));
  EXPECT_EQ(std::get<ClosedMessage>(m).tab, 2147483647);
  ASSERT_TRUE(ParseHostMessage(R"({"type":"flush"})", m, error));
}

TEST(HostMessages, RefusesMessagesOfAnotherShape) {
  HostMessage m;
  std::string error;
  for (std::string_view bad : {
           R"([])", R"({"tab":1})", R"({"type":"launch","tab":1})", R"({"type":"navigate","url":"x"})",
           R"({"type":"navigate","tab":-1,"url":"x"})", R"({"type":"navigate","tab":1.5,"url":"x"})",
           R"({"type":"navigate","tab":1e12,"url":"x"})", R"({"type":"navigate","tab":"1","url":"x"})",
           R"({"type":"navigate","tab":1})", R"({"type":"navigate","tab":1,"url":7})",
           R"({"type":"document","tab":1})", R"({"type":"document","tab":1,"frame":[]})",
           R"({"type":"document","tab":1,"frame":{"url":"x","frames":{}}})",
           R"({"type":"document","tab":1,"frame":{"url":"x","frames":[1]}})",
           R"({"type":"document","tab":1,"frame":{"url":"x","metas":[{"name":1}]}})",
           R"({"type":"document","tab":1,"frame":{"url":"x","hasFrames":"yes"}})",
           R"({"type":"page","tab":1,"url":"x"})", R"({"type":"page","tab":1,"url":"x","body":"***"})"}) {
    error.clear();
    EXPECT_FALSE(ParseHostMessage(bad, m, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(HostMessages, FramesBelowTheDeepestLevelAreNotRead) {
  // 25 levels of frames: within the JSON nesting bound, read down to the frame-data limit.
  std::string frame = R"({"url":"http://s.test/25"})";
  for (int level = 24; level >= 0; --level) {
    frame = R"({"url":"http://s.test/)" + std::to_string(level) + R"(","frames":[)" + frame + "]}";
  }
  HostMessage m;
  std::string error;
  ASSERT_TRUE(ParseHostMessage(R"({"type":"document","tab":1,"frame":)" + frame + "}", m, error))
      << error;
  const FrameDocument* doc = &std::get<DocumentMessage>(m).top;
  std::size_t depth = 0;
  while (!doc->frames.empty()) {
    doc = &doc->frames.front();
    ++depth;
  }
  EXPECT_EQ(depth, kMaxFrameDepth);
}

}  // namespace
}  // namespace qv::browser
