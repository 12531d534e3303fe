// Feeds arbitrary stored values to the search history's reader: text values and time values
// under arbitrary names and types. Every entry it offers must have a readable name, a text
// and an 8-byte time, come newest first, and every time value is either used or unusable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/search_history.h"

namespace {

using qv::platform::RegType;
using qv::platform::RegValue;

// One value: a type byte, a name length byte, the name, a length byte and the data.
bool TakeValue(const std::uint8_t*& p, const std::uint8_t* end, qv::client::RegValues& out) {
  if (end - p < 3) return false;
  const std::uint8_t type = *p++;
  const std::uint8_t nameLength = *p++;
  std::size_t n = std::min<std::size_t>(nameLength, end - p);
  std::string name(reinterpret_cast<const char*>(p), n);
  p += n;
  if (p == end) return false;
  const std::uint8_t dataLength = *p++;
  n = std::min<std::size_t>(dataLength, end - p);
  std::vector<std::uint8_t> data(p, p + n);
  p += n;
  RegValue v;
  switch (type % 3) {
    case 0: v = RegValue::Sz(std::string(data.begin(), data.end())); break;
    case 1: v = RegValue::Binary(std::move(data)); break;
    default: v = RegValue::Dword(n); break;
  }
  out.emplace_back(std::move(name), std::move(v));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::client::RegValues texts, times;
  const std::uint8_t* p = data;
  const std::uint8_t* end = data + size;
  bool toTimes = false;
  while (TakeValue(p, end, toTimes ? times : texts)) toTimes = !toTimes;
  const auto scan = qv::client::ScanHistory(texts, times);
  if (scan.entries.size() + scan.unusable.size() != times.size()) std::abort();
  for (std::size_t i = 0; i < scan.entries.size(); ++i) {
    const auto& e = scan.entries[i];
    if (!qv::client::ParseHistoryName(e.name) || e.query.empty()) std::abort();
    if (i > 0 && scan.entries[i - 1].lastUse < e.lastUse) std::abort();
  }
  return 0;
}
