#include "provider/ranking/base_activation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "context/event_report.h"
#include "context/registry_values.h"
#include "common/scope_hash.h"
#include "context/test_context.h"

namespace qv {
namespace {

using ranking::RankingSet;
using ranking::Triple;

constexpr double kSecond = 1.0 / 86400.0;
const DATE kT0 = *ParseIsoDate("2025-06-01T12:00:00Z");

class BaseActivationTest : public ::testing::Test {
 protected:
  TestContext tc;
  BaseActivation ba{tc.ctx()};

  float Activation(DATE t, Triple last, Triple blended = {}) {
    float a = -1;
    EXPECT_EQ(ba.GetActivation(t, last.end, last.n, last.t, blended.end, blended.n, blended.t, &a),
              S_OK);
    return a;
  }
  ULONG Scale(float a) {
    ULONG s = 12345;
    EXPECT_EQ(ba.GetActivationScale(a, &s), S_OK);
    return s;
  }
  // One visit of `seconds` ending at `end`, working time in tenths.
  HRESULT Visit(RankingSet& s, DATE end, ULONG seconds, ULONG units, ULONG tenths = 100,
                VARIANT_BOOL create = VARIANT_FALSE, ULONG scope = 7) {
    return ba.CalcRankingSet(scope, units, 1, end - seconds * kSecond, end, tenths, tenths, create,
                             s);
  }
};

TEST_F(BaseActivationTest, ActivationOfOneSpanFallsWithTheSquareRootOfItsAge) {
  EXPECT_NEAR(Activation(kT0 + 0.5 * kSecond, {kT0, 100, 1}), 0.2, 1e-6);
  EXPECT_NEAR(Activation(kT0 + 3600 * kSecond, {kT0, 100, 1}),
              2 * (std::sqrt(3700.0) - 60.0) / 100, 1e-7);  // about 0.01655
  // A one-second visit between two dates stays one second despite rounding in the dates.
  std::int32_t e = 0;
  ASSERT_EQ(ranking::ElapsedSeconds(kT0 + 0.3, kT0 + 0.3 + kSecond, e), S_OK);
  EXPECT_EQ(e, 1);
  // Long after, a span scores about N / sqrt(e).
  EXPECT_NEAR(Activation(kT0 + 1e6 * kSecond, {kT0, 10, 5}), 5 / 1000.0, 1e-5);
  // Both triples add up.
  EXPECT_NEAR(Activation(kT0 + 3600 * kSecond, {kT0, 100, 1}, {kT0, 100, 1}),
              4 * (std::sqrt(3700.0) - 60.0) / 100, 1e-6);
}

TEST_F(BaseActivationTest, TriplesEndingAtOrAfterTheMomentOrEmptyAreIgnored) {
  EXPECT_EQ(Activation(kT0, {kT0, 100, 1}), 0.0f);
  EXPECT_EQ(Activation(kT0, {kT0 + kSecond, 100, 1}, {kT0 + 1, 5, 5}), 0.0f);
  EXPECT_EQ(Activation(kT0 + 1, {kT0, 0, 1}, {kT0, 5, 0}), 0.0f);
  EXPECT_EQ(Activation(kT0 + 1, {0.0, 10, 1}), 0.0f);
  // A NaN end is never "before" the moment, so it is skipped rather than cast.
  EXPECT_EQ(Activation(kT0, {std::numeric_limits<double>::quiet_NaN(), 10, 1}), 0.0f);
}

TEST_F(BaseActivationTest, LargeUnitsAndSpansNeverWrapIntoANegativeActivation) {
  const ULONG big = std::numeric_limits<ULONG>::max();
  const float a = Activation(kT0 + 10 * kSecond, {kT0, big, big});
  EXPECT_GT(a, 0.0f);
  EXPECT_TRUE(std::isfinite(a));
  // e + T beyond 2^32: still the integral of a positive function.
  const float old = Activation(kT0 + 2e9 * kSecond, {kT0, big, 1});
  EXPECT_GT(old, 0.0f);
}

TEST_F(BaseActivationTest, ElapsedSecondsRejectsBadDatesAndSpansOverSixtyEightYears) {
  std::int32_t e = 0;
  EXPECT_EQ(ranking::ElapsedSeconds(kT0, kT0 + 1.5 * kSecond, e), S_OK);
  EXPECT_EQ(e, 1);
  EXPECT_EQ(ranking::ElapsedSeconds(kT0, kT0 - kSecond, e), E_INVALIDARG);
  EXPECT_EQ(ranking::ElapsedSeconds(-1.0, kT0, e), E_INVALIDARG);
  EXPECT_EQ(ranking::ElapsedSeconds(std::numeric_limits<double>::quiet_NaN(), kT0, e), E_INVALIDARG);
  EXPECT_EQ(ranking::ElapsedSeconds(kT0, std::numeric_limits<double>::infinity(), e), E_INVALIDARG);
  EXPECT_EQ(ranking::ElapsedSeconds(1.0, 1.0 + 365.25 * 69, e), MakeHr(0x800706EB));
  // GetActivation reports what ElapsedSeconds refuses.
  float a = 0;
  EXPECT_EQ(ba.GetActivation(1.0 + 365.25 * 69, 1.0, 1, 1, 0, 0, 0, &a), MakeHr(0x800706EB));
  ASSERT_FALSE(tc.eventLog().ReadAll().empty());
  EXPECT_EQ(tc.eventLog().ReadAll().back().strings.at(0), "Pelion.BaseActivation::GetActivation");
}

TEST_F(BaseActivationTest, ScaleMapsTheLogarithmOntoAHundredSteps) {
  EXPECT_EQ(Scale(0.01f), 12345u);  // untouched: callers preset 0
  EXPECT_EQ(Scale(0.0f), 12345u);
  EXPECT_EQ(Scale(std::numeric_limits<float>::quiet_NaN()), 12345u);
  EXPECT_EQ(Scale(0.0101f), 17u);
  EXPECT_EQ(Scale(1.0f), 50u);
  EXPECT_EQ(Scale(10.0f), 66u);
  EXPECT_EQ(Scale(100.0f), 82u);
  EXPECT_EQ(Scale(2000.0f), 100u);
  EXPECT_EQ(Scale(std::numeric_limits<float>::infinity()), 100u);
  EXPECT_EQ(ba.GetActivationScale(1.0f, nullptr), E_POINTER);
}

TEST_F(BaseActivationTest, CurrentScopeWritesTheIdentityOnceAndHashesIt) {
  ULONG scope = 0;
  ASSERT_EQ(ba.get_CurrentScope(&scope), S_OK);
  EXPECT_EQ(scope, ScopeHash("TESTHOST\\tester"));
  EXPECT_EQ(ReadString(tc.registry(), platform::Hive::CurrentUser, kVesperKey, "Identity", ""),
            "TESTHOST\\tester");
  // A renamed account keeps its scope; editing Identity changes it.
  tc.SetUserName("TESTHOST\\renamed");
  ASSERT_EQ(ba.get_CurrentScope(&scope), S_OK);
  EXPECT_EQ(scope, ScopeHash("TESTHOST\\tester"));
  tc.registry().SetValue(platform::Hive::CurrentUser, kVesperKey, "Identity",
                         platform::RegValue::Sz("someone else"));
  ASSERT_EQ(ba.get_CurrentScope(&scope), S_OK);
  EXPECT_EQ(scope, ScopeHash("someone else"));
  EXPECT_EQ(ba.get_CurrentScope(nullptr), E_INVALIDARG);
}

TEST_F(BaseActivationTest, CurrentScopeNeverHashesAnEmptyOrOverlongIdentity) {
  tc.SetUserName("");
  ULONG scope = 99;
  EXPECT_EQ(ba.get_CurrentScope(&scope), E_FAIL);
  EXPECT_EQ(scope, 99u);
  tc.SetUserName("", HresultFromWin32(1332));
  EXPECT_EQ(ba.get_CurrentScope(&scope), HresultFromWin32(1332));
  tc.registry().SetValue(platform::Hive::CurrentUser, kVesperKey, "Identity",
                         platform::RegValue::Sz(std::string(300, 'x')));
  EXPECT_EQ(ba.get_CurrentScope(&scope), HresultFromWin32(win32::ERROR_MORE_DATA));
  const auto events = tc.eventLog().ReadAll();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].eventId, kEventProviderError);
  EXPECT_EQ(events[0].category, kCategoryProvider);
  EXPECT_EQ(events[0].strings,
            (std::vector<std::string>{"Pelion.BaseActivation::CurrentScope", "0x80004005",
                                      "Unspecified error"}));
}

TEST_F(BaseActivationTest, InvalidVisitsFailBeforeAnythingChanges) {
  RankingSet s;
  ASSERT_EQ(Visit(s, kT0, 60, 5), S_OK);
  const RankingSet before = s;
  EXPECT_EQ(ba.CalcRankingSet(7, 5, 1, kT0 + 1, kT0 + 1, 10, 10, VARIANT_FALSE, s), E_INVALIDARG);
  EXPECT_EQ(ba.CalcRankingSet(7, 5, 1, kT0 + 1, kT0 + 1 + 0.9 * kSecond, 10, 10, VARIANT_FALSE, s),
            E_INVALIDARG);
  EXPECT_EQ(ba.CalcRankingSet(7, 0, 1, kT0 + 1, kT0 + 2, 10, 10, VARIANT_FALSE, s), E_INVALIDARG);
  EXPECT_EQ(ba.CalcRankingSet(7, 5, 0, kT0 + 1, kT0 + 2, 10, 10, VARIANT_FALSE, s), E_INVALIDARG);
  EXPECT_EQ(ba.CalcRankingSet(7, 5, 1, kT0 + 2, kT0 + 1, 10, 10, VARIANT_FALSE, s), E_INVALIDARG);
  EXPECT_EQ(ba.CalcRankingSet(7, 5, 1, std::numeric_limits<double>::quiet_NaN(), kT0 + 1, 10, 10,
                              VARIANT_FALSE, s),
            E_INVALIDARG);
  EXPECT_EQ(s, before);
  ULONG u = 0;
  DATE d = 0;
  EXPECT_EQ(ba.CalcRankingSet(7, 5, 1, kT0, kT0 + 1, 10, 10, VARIANT_FALSE, &u, &u, &u, &u, &d, &d,
                              &u, &u, &d, &u, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(tc.EventIds().size(), 7u);
}

TEST_F(BaseActivationTest, NewSetsAndStatisticsInWholeSeconds) {
  RankingSet s;
  s.blended.n = 42;  // whatever it held stays; an empty triple ignores it
  ASSERT_EQ(Visit(s, kT0, 60, 5, 25, VARIANT_TRUE), S_OK);
  EXPECT_EQ(s.scope, 7u);
  EXPECT_EQ(s.workingTime, 2u);  // 2.5 s counts 2
  EXPECT_EQ(s.visits, 1u);
  EXPECT_DOUBLE_EQ(s.firstVisitStart, kT0 - 60 * kSecond);
  EXPECT_EQ(s.last.end, kT0);
  EXPECT_EQ(s.last.t, 60u);
  EXPECT_EQ(s.last.n, 5u);
  EXPECT_EQ(s.blended.end, 0.0);
  EXPECT_EQ(s.blended.t, 0u);
  EXPECT_EQ(s.blended.n, 42u);
  ASSERT_EQ(Visit(s, kT0 + 0.1, 30, 3, 9), S_OK);
  EXPECT_EQ(s.workingTime, 2u);  // 0.9 s adds nothing
  EXPECT_EQ(s.visits, 2u);
}

TEST_F(BaseActivationTest, OnlyVariantTrueOrAForeignScopeStartsAfresh) {
  RankingSet s;
  ASSERT_EQ(Visit(s, kT0, 60, 5), S_OK);
  ASSERT_EQ(Visit(s, kT0 + 0.1, 60, 5, 100, /*create=*/1), S_OK);
  EXPECT_EQ(s.visits, 2u);  // 1 is not VARIANT_TRUE
  ASSERT_EQ(Visit(s, kT0 + 0.2, 60, 5, 100, VARIANT_TRUE), S_OK);
  EXPECT_EQ(s.visits, 1u);
  ASSERT_EQ(Visit(s, kT0 + 0.3, 60, 5), S_OK);
  ASSERT_EQ(Visit(s, kT0 + 0.4, 60, 5, 300, VARIANT_FALSE, /*scope=*/8), S_OK);
  EXPECT_EQ(s.scope, 8u);
  EXPECT_EQ(s.visits, 1u);
  EXPECT_EQ(s.workingTime, 30u);
  EXPECT_EQ(s.blended.end, 0.0);
}

TEST_F(BaseActivationTest, LateReportsAreBlendedAndTheLastVisitStays) {
  RankingSet s;
  ASSERT_EQ(Visit(s, kT0, 60, 5), S_OK);
  ASSERT_EQ(Visit(s, kT0 - 0.01, 30, 3), S_OK);
  EXPECT_EQ(s.last.end, kT0);
  EXPECT_EQ(s.last.t, 60u);
  EXPECT_EQ(s.blended.end, kT0 - 0.01);
  EXPECT_EQ(s.blended.t, 30u);
  EXPECT_EQ(s.blended.n, 3u);
  EXPECT_DOUBLE_EQ(s.firstVisitStart, kT0 - 0.01 - 30 * kSecond);
  // A visit ending at the same moment as the last one is the older triple too.
  ASSERT_EQ(Visit(s, kT0, 10, 1), S_OK);
  EXPECT_EQ(s.last.t, 60u);
}

TEST_F(BaseActivationTest, BlendingKeepsWhicheverOfMergerOlderOrStoredScoresBest) {
  tc.clock().SetNowDate(kT0);
  // Three visits an hour apart: the blend of the first two merges them into one span.
  RankingSet s;
  ASSERT_EQ(Visit(s, kT0 - 2.0 / 24, 600, 100), S_OK);
  ASSERT_EQ(Visit(s, kT0 - 1.0 / 24, 600, 100), S_OK);
  ASSERT_EQ(Visit(s, kT0, 600, 100), S_OK);
  EXPECT_EQ(s.blended.n, 200u);
  EXPECT_EQ(s.blended.end, kT0 - 1.0 / 24);
  EXPECT_EQ(s.blended.t, 3600u + 600u);

  // A stored blend from two years ago and a fresh older visit: the long merged span scores
  // less than the recent visit alone, so the visit replaces the blend.
  RankingSet t;
  ASSERT_EQ(Visit(t, kT0 - 730, 600, 10), S_OK);
  ASSERT_EQ(Visit(t, kT0 - 729, 600, 10), S_OK);  // blend := the first visit
  ASSERT_EQ(Visit(t, kT0 - 0.5, 600, 1000), S_OK);  // the two old visits merge
  EXPECT_EQ(t.blended.end, kT0 - 729);
  EXPECT_EQ(t.blended.n, 20u);
  ASSERT_EQ(Visit(t, kT0, 60, 1), S_OK);
  EXPECT_EQ(t.blended.end, kT0 - 0.5);
  EXPECT_EQ(t.blended.n, 1000u);

  // A strong recent blend and a weak late report from long ago: the blend stays.
  RankingSet u;
  ASSERT_EQ(Visit(u, kT0 - 0.2, 600, 1000), S_OK);
  ASSERT_EQ(Visit(u, kT0 - 0.1, 600, 1000), S_OK);
  ASSERT_EQ(Visit(u, kT0, 60, 1), S_OK);
  const Triple blend = u.blended;
  ASSERT_EQ(blend.n, 2000u);
  ASSERT_EQ(Visit(u, kT0 - 400, 60, 1), S_OK);
  EXPECT_EQ(u.blended, blend);
  EXPECT_EQ(u.last.t, 60u);
}

TEST_F(BaseActivationTest, MergedUnitsSaturateInsteadOfWrapping) {
  tc.clock().SetNowDate(kT0);
  // Units at or above 2^31 count as invalid for blending, so the sum of two fresh visits
  // cannot wrap; a blend that already holds a merged sum can.
  const ULONG big = 0x7FFFFFFF;
  RankingSet s;
  ASSERT_EQ(Visit(s, kT0 - 0.03, 600, big), S_OK);
  ASSERT_EQ(Visit(s, kT0 - 0.02, 600, big), S_OK);
  ASSERT_EQ(Visit(s, kT0 - 0.01, 600, big), S_OK);
  ASSERT_EQ(s.blended.n, 2 * big);
  ASSERT_EQ(Visit(s, kT0, 600, 1), S_OK);
  EXPECT_EQ(s.blended.n, std::numeric_limits<ULONG>::max());
  float a = 0;
  ASSERT_EQ(ba.GetActivation(kT0 + 0.1, s.last.end, s.last.n, s.last.t, s.blended.end,
                             s.blended.n, s.blended.t, &a),
            S_OK);
  EXPECT_GT(a, 0.0f);
}

TEST_F(BaseActivationTest, DisabledStatisticsStayZeroWhileTriplesAreKept) {
  tc.registry().SetValue(platform::Hive::LocalMachine, kVesperKey, "DisableStatistics",
                         platform::RegValue::Dword(1));
  RankingSet s;
  s.workingTime = 500;
  s.visits = 9;
  s.firstVisitStart = kT0 - 10;
  ASSERT_EQ(Visit(s, kT0, 60, 5, 100, VARIANT_TRUE), S_OK);
  ASSERT_EQ(Visit(s, kT0 + 0.1, 60, 5), S_OK);
  EXPECT_EQ(s.workingTime, 0u);
  EXPECT_EQ(s.activeTime, 0u);
  EXPECT_EQ(s.visits, 0u);
  EXPECT_EQ(s.firstVisitStart, 0.0);
  EXPECT_EQ(s.last.end, kT0 + 0.1);
  EXPECT_EQ(s.blended.end, kT0);
}

TEST_F(BaseActivationTest, ReportsSupportForItsOwnInterfaceOnly) {
  EXPECT_EQ(ba.InterfaceSupportsErrorInfo(IID_IBaseActivation), S_OK);
  EXPECT_EQ(ba.InterfaceSupportsErrorInfo(CLSID_BaseActivation), S_FALSE);
}

}  // namespace
}  // namespace qv
