// Visit messages from the wire, identifiers, and session scripts as the parsers read them.
#include "tracer/item_string.h"

#include <gtest/gtest.h>

#include "hooks/QvHooks/tracer_messages.h"
#include "tracer/session_script.h"

namespace qv::tracer {
namespace {

platform::CopyData Block(std::u16string_view text, std::uint32_t op, std::uint32_t flags,
                         bool nul = true) {
  platform::CopyData d;
  d.dwData = hooks::VisitDwData(op, flags);
  for (char16_t c : text) {
    d.bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    d.bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (nul) d.bytes.insert(d.bytes.end(), {0, 0});
  return d;
}

TEST(VisitMessageTest, IdentifierAndFrameData) {
  VisitMessage m;
  ASSERT_EQ(ParseVisitMessage(Block(u"x", hooks::KIV_VISIT_END, 0x21), m), S_OK);  // cbData 4
  EXPECT_EQ(m.identifier, "x");
  EXPECT_EQ(m.operation, hooks::KIV_VISIT_END);
  EXPECT_EQ(m.flags, 0x21u);
  ASSERT_EQ(ParseVisitMessage(Block(u"", 0, 1), m), S_OK);  // cbData 2: no identifier
  EXPECT_EQ(m.identifier, "");
  ASSERT_EQ(ParseVisitMessage(Block(u"http://a/\nframe 1\nframe 2", 0, 1), m), S_OK);
  EXPECT_EQ(m.identifier, "http://a/");
  EXPECT_EQ(m.frameData, "http://a/\nframe 1\nframe 2");
  ASSERT_EQ(ParseVisitMessage(Block(u"h\u00e9llo", 0, 1), m), S_OK);
  EXPECT_EQ(m.identifier, "h\xc3\xa9llo");
  // The last character is taken for the terminator, NUL or not; text stops at a NUL.
  ASSERT_EQ(ParseVisitMessage(Block(u"abc", 0, 1, false), m), S_OK);
  EXPECT_EQ(m.identifier, "ab");
  ASSERT_EQ(ParseVisitMessage(Block(std::u16string(u"ab\0cd", 5), 0, 1), m), S_OK);
  EXPECT_EQ(m.identifier, "ab");
  platform::CopyData null;
  null.nullData = true;
  ASSERT_EQ(ParseVisitMessage(null, m), S_OK);
  EXPECT_EQ(m.identifier, "");
  platform::CopyData big = Block(std::u16string(0x8000, u'a'), 0, 1);
  ASSERT_EQ(ParseVisitMessage(big, m), S_OK);  // over 0xFFFD bytes: no identifier
  EXPECT_EQ(m.identifier, "");
  EXPECT_EQ(ParseVisitMessage(Block(u"a\xD800z", 0, 1), m), E_INVALIDARG);  // lone surrogate
}

TEST(IdentifierTest, PathsBecomeFileUrlsAndBack) {
  std::string id;
  ASSERT_EQ(ToIdentifier("/home/me/My Report #1.odt", id), S_OK);
  EXPECT_EQ(id, "file:///home/me/My%20Report%20%231.odt");
  std::string path;
  ASSERT_TRUE(PathFromFileUrl(id, path));
  EXPECT_EQ(path, "/home/me/My Report #1.odt");
  EXPECT_FALSE(PathFromFileUrl("file://server/share/x", path));
  EXPECT_FALSE(PathFromFileUrl("file:///a%2", path));
  EXPECT_FALSE(PathFromFileUrl("file:///a%00b", path));
  EXPECT_FALSE(PathFromFileUrl("http://a/", path));
  ASSERT_EQ(ToIdentifier("HTTP://Example.com/", id), S_OK);
  EXPECT_EQ(id, "HTTP://Example.com/");
  EXPECT_EQ(ToIdentifier("relative/file.txt", id), E_INVALIDARG);
  EXPECT_EQ(ToIdentifier("c:/windows/style", id), E_INVALIDARG);  // one letter is no scheme
  EXPECT_EQ(ToIdentifier("/" + std::string(3000, 'a'), id), E_INVALIDARG);
  EXPECT_EQ(ReadScheme("outlook:abc"), "outlook");
  EXPECT_EQ(ReadScheme("x-y.z+1:abc"), "x-y.z+1");
  EXPECT_EQ(ReadScheme(std::string(33, 'a') + ":x"), "");
  EXPECT_EQ(ReadScheme("1ab:x"), "");
  EXPECT_TRUE(IsNoHistoryUrl("About:blank"));
  EXPECT_TRUE(IsNoHistoryUrl("javascript:void(0)"));
  EXPECT_FALSE(IsNoHistoryUrl("http://about/"));
  EXPECT_TRUE(SameIdentifier("http://A/", "http://a/"));
  EXPECT_FALSE(SameIdentifier("file:///A", "file:///a"));
  EXPECT_TRUE(SameIdentifier("FILE:///a", "file:///a"));
}

TEST(SessionScriptTest, ReadsEveryCommand) {
  SessionScript s;
  std::string error;
  ASSERT_EQ(ParseSessionScript(R"(start 2026-01-05T09:00:00Z
# comment
at 0 window 3 title="a \"b\" /x - E" class=Edit rect=1,2,3,4 thread=9 parent=0 hidden popup
at 0.25 key 3 5 0.5   # five keys
at 1 visit-start 3 "http://a/\nf" track norank
at 1 visit-end 3 nojournal
at 2 move 3 0,0,10,10
at 3 shutdown discard
)",
                               s, error),
            S_OK)
      << error;
  ASSERT_TRUE(s.start);
  ASSERT_EQ(s.steps.size(), 6u);
  EXPECT_EQ(s.steps[0].window.title, "a \"b\" /x - E");
  EXPECT_EQ(s.steps[0].window.rect, (platform::Rect{1, 2, 3, 4}));
  EXPECT_FALSE(s.steps[0].window.visible);
  EXPECT_EQ(s.steps[0].window.style, platform::WS_POPUP);
  EXPECT_EQ(s.steps[1].atMs, 250);
  EXPECT_EQ(s.steps[1].count, 5u);
  EXPECT_EQ(s.steps[1].intervalMs, 500);
  EXPECT_EQ(s.steps[2].text, "http://a/\nf");
  EXPECT_EQ(s.steps[2].flags, hooks::KIV_VF_TRACK | hooks::KIV_VF_NORANK);
  EXPECT_EQ(s.steps[3].text, "");
  EXPECT_TRUE(s.steps[5].discard);
}

TEST(SessionScriptTest, RefusesWhatItCannotPlay) {
  const std::pair<const char*, const char*> bad[] = {
      {"at 1 focus 1\nat 0 focus 1", "line 2: time goes backwards"},
      {"at -1 focus 1", "line 1: bad time"},
      {"at nan focus 1", "line 1: bad time"},
      {"at 1e30 focus 1", "line 1: bad time"},
      {"at 1 fly 1", "line 1: unknown command"},
      {"at 1 focus 0", "line 1: expected a window number"},
      {"at 1 focus", "line 1: expected a window number"},
      {"at 1 title 1 \"open", "line 1: unterminated"},
      {"at 1 key 1 0", "line 1: bad key count"},
      {"at 1 key 1 1000000", "line 1: bad key count"},
      {"at 1 visit-start 1 track", "line 1: visit-start needs"},
      {"at 1 visit-end 1 \"a\" \"b\"", "line 1: bad visit argument"},
      {"at 1 move 1 5,5,1,1", "line 1: expected a rectangle"},
      {"at 1 window 1 size=3", "line 1: bad window option"},
      {"focus 1", "line 1: expected 'at"},
      {"at 0 focus 1\nstart 2026-01-01T00:00:00Z", "line 2: 'start"},
  };
  for (const auto& [text, want] : bad) {
    SessionScript s;
    std::string error;
    EXPECT_EQ(ParseSessionScript(text, s, error), E_INVALIDARG) << text;
    EXPECT_EQ(error.rfind(want, 0), 0u) << text << " -> " << error;
    EXPECT_TRUE(s.steps.empty());
  }
}

}  // namespace
}  // namespace qv::tracer
