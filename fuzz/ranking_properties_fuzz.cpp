// Reads arbitrary bytes as a file's ranking property set, which another process or another
// version may have written: what reads as a ranking record must write back as the same
// record, and its activation must work out without undefined arithmetic, as the search
// client and the ranking update work it out. What the update's own reader of our layout
// takes, the general codec must read alike, and it must write back byte for byte.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/propset/property_set.h"
#include "provider/ranking/ranking.h"
#include "provider/ranking/ranking_record.h"

namespace {

std::uint64_t Bits(double d) { return std::bit_cast<std::uint64_t>(d); }

bool SameBits(const qv::ranking::RankingSet& a, const qv::ranking::RankingSet& b) {
  auto same = [](const qv::ranking::Triple& x, const qv::ranking::Triple& y) {
    return Bits(x.end) == Bits(y.end) && x.t == y.t && x.n == y.n;
  };
  return a.scope == b.scope && a.workingTime == b.workingTime && a.activeTime == b.activeTime &&
         a.visits == b.visits && Bits(a.firstVisitStart) == Bits(b.firstVisitStart) &&
         same(a.last, b.last) && same(a.blended, b.blended);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  const ranking::RankingRecordLayout& layout = ranking::RankingRecordLayout::Ours();
  const std::span<const std::uint8_t> bytes(data, size);
  Guid quickKey;
  ranking::RankingSet quick;
  const bool ours = layout.Decode(bytes, quickKey, quick);
  platform::PropertySet ps;
  Guid key;
  ranking::RankingSet set;
  const bool general = Succeeded(platform::ParsePropertySet(bytes, ps)) &&
                       ranking::ReadRankingProperties(ps, key, set);
  if (ours) {
    if (!general || ps.fmtid != ranking::kRankingFmtid || quickKey != key ||
        !SameBits(quick, set)) {
      __builtin_trap();
    }
    std::vector<std::uint8_t> back;
    layout.Encode(quickKey, quick, back);
    if (!std::equal(back.begin(), back.end(), bytes.begin(), bytes.end())) __builtin_trap();
  }
  if (!general) return 0;
  Guid keyAgain;
  ranking::RankingSet again;
  if (!ranking::ReadRankingProperties(ranking::MakeRankingPropertySet(key, set), keyAgain,
                                      again) ||
      keyAgain != key) {
    __builtin_trap();
  }
  // A date that is not a number is no date, and a record holding one is not compared after
  // its round trip (the dates' NaN payloads and what depends on them need not survive).
  if (std::isnan(set.firstVisitStart) || std::isnan(set.last.end) ||
      std::isnan(set.blended.end)) {
    return 0;
  }
  // A NaN date never equals itself; compare the rest.
  again.firstVisitStart = set.firstVisitStart;
  again.last.end = set.last.end;
  again.blended.end = set.blended.end;
  if (!(again == set)) __builtin_trap();

  constexpr DATE kNow = 46000.5;
  double activation = 0.0;
  for (const ranking::Triple& t : {set.last, set.blended}) {
    std::int32_t elapsed = 0;
    if (t.t == 0 || Failed(ranking::ElapsedSeconds(t.end, kNow, elapsed))) continue;
    activation += ranking::TripleActivation(static_cast<std::uint32_t>(elapsed), t.t, t.n);
  }
  if (activation > ranking::kMinScaledActivation && ranking::ActivationScale(activation) > 100) {
    __builtin_trap();
  }
  return 0;
}
