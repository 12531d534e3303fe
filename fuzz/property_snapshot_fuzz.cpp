// A property cache snapshot is a file that a damaged disk or another program may have
// changed. Whatever it holds behind a header of the right catalog, opening it refuses it or
// gives a cache whose every value, id lookup and row order reads within bounds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/indexing/property_cache.h"
#include "platform/indexing/property_snapshot_format.h"

using namespace qv::platform::indexing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kLead = 24;  // counts and flags; the rest is the sections
  if (size < kLead) return 0;
  auto u16 = [&](std::size_t at) { return std::uint64_t{data[at]} | std::uint64_t{data[at + 1]} << 8; };
  const ChangeStamp stamp{"{fuzz}", 7, 42};
  snapshot::SnapshotHeader h;
  std::copy(stamp.instance.begin(), stamp.instance.end(), h.instance.begin());
  h.changes = stamp.changes;
  h.file = stamp.file;
  h.rows = u16(0);
  h.cells = u16(2);
  h.textBytes = u16(4);
  h.rowOfIdSize = u16(6);
  h.flags = data[8] & 1;
  h.likeResults = data[19] & 3;
  const std::vector<std::string> exprs = PropertyCache::ColumnExprs({});
  h.columns = exprs.size();
  std::string columns;
  for (std::size_t c = 0; c < exprs.size(); ++c) {
    const auto n = static_cast<std::uint32_t>(exprs[c].size());
    columns.append(reinterpret_cast<const char*>(&n), sizeof n);
    columns += exprs[c];
    columns += static_cast<char>(data[9 + c % 8] & 0x0f);
  }
  columns.resize((columns.size() + 7) / 8 * 8, '\0');
  std::string body(reinterpret_cast<const char*>(data) + kLead, size - kLead);
  h.fileSize = sizeof h + columns.size() + body.size() + (data[17] == 0xff ? data[18] : 0);
  static const std::string file = [] {
    return (std::filesystem::temp_directory_path() /
            ("qv-snapshot-fuzz-" + std::to_string(::getpid())))
        .string();
  }();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&h), sizeof h);
    out << columns << body;
  }
  std::shared_ptr<const PropertyCache> cache;
  LikeMemo memo;
  if (PropertyCache::Open(file, stamp, {}, 1, cache, &memo) != qv::S_OK) return 0;
  if (memo.snapshot != cache.get()) std::abort();
  for (const auto& [key, known] : memo.results) {
    if (known.size() != cache->size()) std::abort();  // a result for every row
    const std::int8_t most = IsPlanKey(key) ? 1 : 2;  // a condition is true or false
    for (const std::int8_t v : known) {
      if (v < -1 || v > most) std::abort();  // checked eight at a time
    }
  }
  // What the rank and the row order rely on: lengths that are not negative, and every row
  // its own place in path order.
  std::vector<bool> taken(cache->size());
  for (std::size_t row = 0; row < cache->size(); ++row) {
    const std::uint32_t place = cache->pathOrder(row);
    if (cache->tokens(row) < 0 || place >= cache->size() || taken[place]) std::abort();
    taken[place] = true;
  }
  if (cache->placesArePathOrder()) std::abort();  // a file's places are not trusted
  std::uint64_t sum = 0;
  for (std::size_t row = 0; row < cache->size(); ++row) {
    sum += static_cast<std::uint64_t>(cache->id(row)) + static_cast<std::uint64_t>(cache->tokens(row)) +
           cache->pathOrder(row);
    if (cache->Find(cache->id(row)) != row) std::abort();  // ids ascend: every one is found
    // An id between two rows' is found nowhere (a stray entry of the id table would give
    // another document's row).
    const std::int64_t between = cache->id(row) + 1;
    if (between > cache->id(row)) {
      const std::size_t found = cache->Find(between);
      if (found != cache->size() && cache->id(found) != between) std::abort();
    }
    cache->Prefetch(row);
    for (int c = 0; c < static_cast<int>(exprs.size()); ++c) {
      const CacheCell cell = cache->Cell(c, row);
      for (const char ch : cell.text) sum += static_cast<unsigned char>(ch);
      if (const double* reals = cache->Reals(c)) sum += static_cast<std::uint64_t>(reals[row] != 0);
    }
  }
  for (std::size_t k = 0; k < 32 && k < size; ++k) sum += cache->Find(data[k] * 31 - 100);
  if (sum == 0x5eed) std::abort();  // keeps the reads
  return 0;
}
