#pragma once
// The ranking record as a property set: FMTID and class identifier {48CA09C3-...}, named
// "Quillon Vesper Ranking", twelve properties PROPID 2..13 always written together.
#include "platform/propset/property_set.h"
#include "provider/ranking/ranking.h"

namespace qv::ranking {

// The set is created with the ANSI flag: its strings (only the name) are in code page 1252.
inline constexpr std::uint16_t kRankingCodePage = 1252;

platform::PropertySet MakeRankingPropertySet(const Guid& searchKey, const RankingSet& set);

// False when any of the twelve properties is missing or not of exactly its type.
bool ReadRankingProperties(const platform::PropertySet& ps, Guid& searchKey, RankingSet& set);

}  // namespace qv::ranking
