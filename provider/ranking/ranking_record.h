#pragma once
// The ranking record as a property set: FMTID and class identifier {48CA09C3-...}, named
// "Quillon Vesper Ranking", twelve properties PROPID 2..13 always written together.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/propset/property_set.h"
#include "provider/ranking/ranking.h"

namespace qv::ranking {

// The set is created with the ANSI flag: its strings (only the name) are in code page 1252.
inline constexpr std::uint16_t kRankingCodePage = 1252;

platform::PropertySet MakeRankingPropertySet(const Guid& searchKey, const RankingSet& set);

// False when any of the twelve properties is missing or not of exactly its type.
bool ReadRankingProperties(const platform::PropertySet& ps, Guid& searchKey, RankingSet& set);

// The record's stream as MakeRankingPropertySet and the general codec lay it out, with its
// twelve values written into and read from their places directly: an update reads and
// writes one on every visit, and the general codec's maps and strings cost more than the
// system calls around them. Its bytes are the general codec's, value for value. A stored
// stream laid out any other way (another program's, or one with more properties) is not
// read here; the caller parses it with the general codec.
class RankingRecordLayout {
 public:
  RankingRecordLayout();
  // The one layout every update shares: it is learnt once per process.
  static const RankingRecordLayout& Ours();
  // The stream of the record, in `out` (whose room is kept from call to call).
  void Encode(const Guid& searchKey, const RankingSet& set, std::vector<std::uint8_t>& out) const;
  // False, and nothing set, unless `bytes` is a stream of exactly this layout.
  bool Decode(std::span<const std::uint8_t> bytes, Guid& searchKey, RankingSet& set) const;
  // The extended attribute the record is kept under.
  const std::string& attribute() const { return attribute_; }

 private:
  static constexpr std::size_t kValues = kLastRankingPid - kFirstRankingPid + 1;
  std::string attribute_;
  std::vector<std::uint8_t> stream_;         // the record of a null key and empty set
  std::array<std::size_t, kValues> at_{};    // per PROPID from the first: where its value is
  // The stretches of the stream outside the values, which a stream of this layout repeats.
  struct Span {
    std::size_t at, size;
  };
  std::vector<Span> fixed_;
};

}  // namespace qv::ranking
