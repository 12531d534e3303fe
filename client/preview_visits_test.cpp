#include "client/preview_visits.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv::client {
namespace {

struct Call {
  std::string what;  // "start ITEM" or "end"
  std::uint32_t flags;
  friend bool operator==(const Call&, const Call&) = default;
};

class RecordingReporter final : public VisitReporter {
 public:
  HRESULT Start(std::uint64_t window, std::string_view item, std::uint32_t flags) override {
    EXPECT_EQ(window, 42u);
    calls.push_back({"start " + std::string(item), flags});
    return result;
  }
  HRESULT End(std::uint64_t window, std::uint32_t flags) override {
    EXPECT_EQ(window, 42u);
    calls.push_back({"end", flags});
    return result;
  }
  std::vector<Call> calls;
  HRESULT result = S_OK;
};

TEST(PreviewVisits, ShowingCountsLinksDoNotAndNothingIsJournaled) {
  RecordingReporter r;
  PreviewVisits v(r, 42);
  EXPECT_EQ(v.ItemShown("http://example.org/a/"), S_OK);
  EXPECT_EQ(v.Navigated("http://example.org/b"), S_OK);
  EXPECT_EQ(v.Navigated("HTTP://EXAMPLE.ORG/A/"), S_OK);  // back to the item's own page
  EXPECT_EQ(v.Navigated("http://example.org/a"), S_OK);
  EXPECT_EQ(v.ItemShown("/home/u/doc.txt"), S_OK);
  EXPECT_EQ(v.Cleared(), S_OK);
  EXPECT_EQ(r.calls, (std::vector<Call>{{"start http://example.org/a/", 0x21},
                                        {"start http://example.org/b", 0x22},
                                        {"start http://example.org/a/", 0x21},
                                        {"start http://example.org/a/", 0x21},
                                        {"end", 0x20},
                                        {"start /home/u/doc.txt", 0x21},
                                        {"end", 0x20}}));
  for (const auto& c : r.calls) EXPECT_NE(c.flags & 0x20, 0u) << c.what;
}

TEST(PreviewVisits, SecurePagesBlankPagesAndAMissingTracerReportNothingMore) {
  RecordingReporter r;
  PreviewVisits v(r, 42);
  EXPECT_EQ(v.ItemShown("https://bank.example/"), S_FALSE);
  EXPECT_EQ(v.Navigated("about:blank#x"), S_FALSE);
  EXPECT_EQ(v.Navigated(""), S_FALSE);
  EXPECT_EQ(v.Navigated(":internal"), S_FALSE);
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(v.Cleared(), S_FALSE);
  EXPECT_TRUE(r.calls.empty());

  // No tracer: the start finds nobody, so there is no visit to end.
  r.result = S_FALSE;
  EXPECT_EQ(v.ItemShown("/doc.txt"), S_OK);
  EXPECT_FALSE(v.visitOpen());
  EXPECT_EQ(v.Cleared(), S_FALSE);
  EXPECT_EQ(r.calls.size(), 1u);
}

}  // namespace
}  // namespace qv::client
