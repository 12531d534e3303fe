// Reads arbitrary bytes as a file's ranking property set, which another process or another
// version may have written: what reads as a ranking record must write back as the same
// record, and its activation must work out without undefined arithmetic, as the search
// client and the ranking update work it out.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/propset/property_set.h"
#include "provider/ranking/ranking.h"
#include "provider/ranking/ranking_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  platform::PropertySet ps;
  if (Failed(platform::ParsePropertySet(std::span(data, size), ps))) return 0;
  Guid key;
  ranking::RankingSet set;
  if (!ranking::ReadRankingProperties(ps, key, set)) return 0;
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
