#pragma once
// A mail item's ranking set as the add-in keeps it: the 56-byte pending record parked in the
// item's shortcut file until an apply pass moves it into the item, and the eleven named
// properties of the message that hold it there.
#include <array>
#include <cstdint>
#include <span>

#include "common/hresult.h"
#include "platform/mail/mail_store.h"
#include "provider/ranking/ranking.h"

namespace qv::mail::addin {

// Little-endian: Scope, WorkingTime, ActiveTime, Visits (4 each), FirstVisitStart and
// LastVisitEnd (8-byte doubles), LastVisitT, LastVisitN (4 each), BlendedEnd (8), BlendedT,
// BlendedN (4 each).
inline constexpr std::size_t kPendingRecordSize = 56;
using PendingRecord = std::array<std::uint8_t, kPendingRecordSize>;

PendingRecord EncodePendingRecord(const ranking::RankingSet& set);
// STG_E_READFAULT unless exactly 56 bytes are given: a short record is a failed read, never a
// record padded with zeros.
HRESULT DecodePendingRecord(std::span<const std::uint8_t> bytes, ranking::RankingSet& out);

// The eleven named properties: the ranking property set with numeric names equal to the
// ranking record's property ids (Scope 3 .. BlendedN 13); dates are doubles, the rest longs.
inline constexpr std::size_t kRankingPropertyCount = 11;
platform::mail::NamedId RankingNamedId(ranking::RankingPropId pid);

void SetRankingProperties(platform::mail::Message& message, const ranking::RankingSet& set);
// S_OK with all eleven read; S_FALSE when any is missing or of another type (the message has
// no ranking set then, and `out` is left as it was).
HRESULT GetRankingProperties(const platform::mail::Message& message, ranking::RankingSet& out);

}  // namespace qv::mail::addin
