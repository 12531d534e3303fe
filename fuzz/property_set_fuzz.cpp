// Parses arbitrary bytes as a property-set stream. Whatever parses must serialize to a stream
// that parses again and serializes to the same bytes (bytes, not values: a NaN date is kept
// bit for bit but never equals itself).
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/propset/property_set.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform;
  PropertySet first;
  if (qv::Failed(ParsePropertySet(std::span(data, size), first))) return 0;
  const std::vector<std::uint8_t> bytes = SerializePropertySet(first);
  PropertySet second;
  if (qv::Failed(ParsePropertySet(bytes, second))) std::abort();
  if (SerializePropertySet(second) != bytes) std::abort();
  if (second.values.size() != first.values.size() || second.names != first.names ||
      second.codePage != first.codePage || second.fmtid != first.fmtid ||
      second.clsid != first.clsid) {
    std::abort();
  }
  return 0;
}
