#include "browser/addon/page_visits.h"

#include <gtest/gtest.h>

#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"

namespace qv::browser {
namespace {

struct Call {
  std::string op;
  std::uint64_t window;
  std::string item;
  std::uint32_t flags;
  friend bool operator==(const Call&, const Call&) = default;
};

class PageVisitsTest : public ::testing::Test {
 protected:
  VisitCalls Recorder() {
    auto rec = [this](std::string op) {
      return [this, op](std::uint64_t w, const char16_t* item, std::uint32_t flags) {
        calls.push_back({op, w, item ? Utf16ToUtf8(item) : "(null)", flags});
        return S_OK;
      };
    };
    return {rec("start"), rec("end")};
  }
  std::vector<Call> calls;
};

TEST_F(PageVisitsTest, NavigationOpensAnUncountedVisitTheDocumentMakesItCount) {
  PageVisits visits(Recorder());
  FrameDocument doc;
  doc.url = "http://site.test/";
  doc.frames.emplace_back().url = "http://site.test/menu";
  ASSERT_EQ(visits.NavigateComplete(7, "http://site.test/"), S_OK);
  ASSERT_EQ(visits.DocumentComplete(7, doc), S_OK);
  ASSERT_EQ(visits.Quit(7), S_OK);
  EXPECT_EQ(calls, (std::vector<Call>{
                       {"start", 7, "http://site.test/", hooks::KIV_VF_NOTRACK},
                       {"start", 7, "http://site.test/\n\n\n\nf\nhttp://site.test/menu\n\n\n\n\n",
                        hooks::KIV_VF_TRACK},
                       {"end", 7, "(null)", 0}}));
}

TEST_F(PageVisitsTest, SecureAndBlankPagesEndTheVisitAndNeverStartOne) {
  PageVisits visits(Recorder());
  EXPECT_EQ(visits.NavigateComplete(7, "https://bank.test/"), S_OK);
  EXPECT_EQ(visits.NavigateComplete(7, "about:blank"), S_OK);
  FrameDocument doc;
  doc.url = "https://bank.test/";
  EXPECT_EQ(visits.DocumentComplete(7, doc), S_FALSE);
  doc.url = "about:blank";
  EXPECT_EQ(visits.DocumentComplete(7, doc), S_FALSE);
  EXPECT_EQ(calls, (std::vector<Call>{{"end", 7, "(null)", 0}, {"end", 7, "(null)", 0}}));
}

}  // namespace
}  // namespace qv::browser
