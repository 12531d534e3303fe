// Reads arbitrary bytes as the full-text index's leaves, structure record and table
// statement, which a damaged or foreign catalog may hold: the reader must never read out of
// bounds, what it lists must be in row id order with a position per hit, and finding a
// doclist must agree with reading it.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/indexing/fts_postings.h"

namespace {

using namespace qv::platform::indexing;

class FuzzLeaves : public LeafPages {
 public:
  explicit FuzzLeaves(std::vector<std::vector<std::uint8_t>> pages) : pages_(std::move(pages)) {}
  int Read(std::int64_t page, std::vector<std::uint8_t>& bytes) override {
    if (page < 1 || page > static_cast<std::int64_t>(pages_.size())) return SQLITE_CORRUPT;
    bytes = pages_[static_cast<std::size_t>(page - 1)];
    return SQLITE_OK;
  }

 private:
  std::vector<std::vector<std::uint8_t>> pages_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> in(data, size);
  std::vector<FtsSegment> segments;
  ParseStructure(in, segments);
  std::vector<std::string> args;
  TokenizeArguments(std::string_view(reinterpret_cast<const char*>(data), size), args);
  if (size < 2) return 0;
  // The first byte says whether positions are kept; then leaves, each after its length in
  // two bytes, big-endian, the last one taking what is left.
  const bool positions = data[0] & 1;
  std::vector<std::vector<std::uint8_t>> pages;
  std::span<const std::uint8_t> rest = in.subspan(1);
  while (rest.size() >= 2 && pages.size() < 64) {
    const std::size_t n = std::min<std::size_t>((rest[0] << 8) | rest[1], rest.size() - 2);
    pages.emplace_back(rest.begin() + 2, rest.begin() + 2 + static_cast<std::ptrdiff_t>(n));
    rest = rest.subspan(2 + n);
  }
  if (pages.empty()) return 0;
  const auto count = pages.size();
  FuzzLeaves leaves(std::move(pages));
  static constexpr std::uint8_t kTerm[] = {'0', 'b', 'u', 'd', 'g', 'e', 't'};
  SegmentDoclist out;
  const auto last = static_cast<std::int64_t>(count);
  const DoclistResult found = FindDoclist(leaves, 1, last, kTerm);
  const DoclistResult read = ReadDoclist(leaves, 1, last, kTerm, positions, out);
  // Finding a doclist reads its first leaf as reading it does: they agree on where it is.
  if ((found == DoclistResult::Absent) != (read == DoclistResult::Absent)) __builtin_trap();
  if (found == DoclistResult::Damaged && read != DoclistResult::Damaged) __builtin_trap();
  if (read != DoclistResult::Found) return 0;
  std::uint64_t hits = 0;
  for (std::size_t i = 0; i < out.entries.size(); ++i) {
    if (i && out.entries[i].rowid <= out.entries[i - 1].rowid) __builtin_trap();
    hits += out.entries[i].hits;
  }
  if (positions && hits != out.positions.size()) __builtin_trap();
  // Counted without positions, the same rows with the same hits. Not where a varint may run
  // past eight bytes (no index holds one): the count's fast pass takes every byte with the
  // top bit set as carrying on.
  std::size_t run = 0, longest = 0;
  for (const std::uint8_t b : in) {
    run = b & 0x80 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  SegmentDoclist other;
  const DoclistResult again =
      longest >= 8 ? DoclistResult::Absent : ReadDoclist(leaves, 1, last, kTerm, !positions, other);
  // Damage the one reading sees, the other sees too.
  if (again == DoclistResult::Damaged) __builtin_trap();
  if (again == DoclistResult::Found) {
    if (other.entries.size() != out.entries.size()) __builtin_trap();
    for (std::size_t i = 0; i < out.entries.size(); ++i) {
      if (other.entries[i].rowid != out.entries[i].rowid ||
          other.entries[i].hits != out.entries[i].hits) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
