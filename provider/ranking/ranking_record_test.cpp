#include "provider/ranking/ranking_record.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <random>

namespace qv::ranking {
namespace {

using platform::PropVariant;

// Doubles compared by their bits: a NaN date must come back as the same NaN.
std::uint64_t Bits(double d) { return std::bit_cast<std::uint64_t>(d); }

bool SameBits(const RankingSet& a, const RankingSet& b) {
  auto same = [](const Triple& x, const Triple& y) {
    return Bits(x.end) == Bits(y.end) && x.t == y.t && x.n == y.n;
  };
  return a.scope == b.scope && a.workingTime == b.workingTime && a.activeTime == b.activeTime &&
         a.visits == b.visits && Bits(a.firstVisitStart) == Bits(b.firstVisitStart) &&
         same(a.last, b.last) && same(a.blended, b.blended);
}

void ExpectSame(const RankingSet& a, const RankingSet& b) {
  EXPECT_EQ(a.scope, b.scope);
  EXPECT_EQ(a.workingTime, b.workingTime);
  EXPECT_EQ(a.activeTime, b.activeTime);
  EXPECT_EQ(a.visits, b.visits);
  EXPECT_EQ(Bits(a.firstVisitStart), Bits(b.firstVisitStart));
  EXPECT_EQ(Bits(a.last.end), Bits(b.last.end));
  EXPECT_EQ(a.last.t, b.last.t);
  EXPECT_EQ(a.last.n, b.last.n);
  EXPECT_EQ(Bits(a.blended.end), Bits(b.blended.end));
  EXPECT_EQ(a.blended.t, b.blended.t);
  EXPECT_EQ(a.blended.n, b.blended.n);
}

TEST(RankingRecordLayout, WritesTheGeneralCodecsBytesAndReadsEitherBack) {
  const RankingRecordLayout layout;
  std::mt19937_64 rng(7);
  const double odd[] = {0.0, -0.0, 46000.25, -1.0, std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::quiet_NaN(),
                        std::bit_cast<double>(std::uint64_t{0x7FF0000000000123})};
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < 200; ++i) {
    auto u32 = [&] { return static_cast<std::uint32_t>(i < 2 ? (i ? UINT32_MAX : 0) : rng()); };
    auto date = [&] { return i < 7 ? odd[i] : std::bit_cast<double>(rng()); };
    RankingSet s;
    s.scope = u32();
    s.workingTime = u32();
    s.activeTime = u32();
    s.visits = u32();
    s.firstVisitStart = date();
    s.last = {date(), u32(), u32()};
    s.blended = {date(), u32(), u32()};
    Guid key{static_cast<std::uint32_t>(rng()), static_cast<std::uint16_t>(rng()),
             static_cast<std::uint16_t>(rng()), {}};
    for (auto& b : key.data4) b = static_cast<std::uint8_t>(rng());
    SCOPED_TRACE(i);

    layout.Encode(key, s, stream);
    ASSERT_EQ(stream, platform::SerializePropertySet(MakeRankingPropertySet(key, s)));
    Guid keyBack;
    RankingSet back;
    ASSERT_TRUE(layout.Decode(stream, keyBack, back));
    EXPECT_EQ(keyBack, key);
    ExpectSame(back, s);
    // What the general codec reads from the same bytes.
    platform::PropertySet ps;
    ASSERT_EQ(platform::ParsePropertySet(stream, ps), S_OK);
    ASSERT_TRUE(ReadRankingProperties(ps, keyBack, back));
    EXPECT_EQ(keyBack, key);
    ExpectSame(back, s);
  }
}

TEST(RankingRecordLayout, LeavesEveryOtherLayoutToTheGeneralCodec) {
  const RankingRecordLayout layout;
  RankingSet s;
  s.visits = 3;
  s.last = {46000.5, 60, 2};
  const Guid key{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  const std::vector<std::uint8_t> ours =
      platform::SerializePropertySet(MakeRankingPropertySet(key, s));
  Guid k;
  RankingSet r;
  ASSERT_TRUE(layout.Decode(ours, k, r));

  // Other programs' records, which the general codec reads as ranking records too.
  auto other = [&](auto change) {
    platform::PropertySet ps = MakeRankingPropertySet(key, s);
    change(ps);
    const auto bytes = platform::SerializePropertySet(ps);
    platform::PropertySet parsed;
    EXPECT_EQ(platform::ParsePropertySet(bytes, parsed), S_OK);
    EXPECT_TRUE(ReadRankingProperties(parsed, k, r));
    return layout.Decode(bytes, k, r);
  };
  EXPECT_FALSE(other([](auto& ps) { ps.values[40] = PropVariant::Lpstr("more"); }));
  EXPECT_FALSE(other([](auto& ps) { ps.codePage = platform::kCodePageUtf8; }));
  EXPECT_FALSE(other([](auto& ps) { ps.names.clear(); }));
  EXPECT_FALSE(other([](auto& ps) { ps.clsid = Guid{9, 9, 9, {}}; }));

  // Cut short, one byte more, and every byte outside the values changed.
  EXPECT_FALSE(layout.Decode(std::span(ours).first(ours.size() - 4), k, r));
  std::vector<std::uint8_t> longer = ours;
  longer.push_back(0);
  EXPECT_FALSE(layout.Decode(longer, k, r));
  std::size_t valueBytes = 0;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    std::vector<std::uint8_t> changed = ours;
    changed[i] ^= 0x40;
    Guid ck;
    RankingSet cr;
    if (!layout.Decode(changed, ck, cr)) continue;
    // A changed value reads as the general codec reads it.
    ++valueBytes;
    platform::PropertySet ps;
    ASSERT_EQ(platform::ParsePropertySet(changed, ps), S_OK) << i;
    ASSERT_TRUE(ReadRankingProperties(ps, k, r)) << i;
    EXPECT_EQ(ck, k) << i;
    ExpectSame(cr, r);
    EXPECT_FALSE(ck == key && SameBits(cr, s)) << i;
  }
  // The key, three dates and eight numbers.
  EXPECT_EQ(valueBytes, 16u + 3 * 8 + 8 * 4);
}

}  // namespace
}  // namespace qv::ranking
