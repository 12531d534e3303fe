// Reads arbitrary bytes as a filter host's reply, in pieces as a socket might hand them over:
// the decoder must stay within its limits and never read out of bounds, whatever the host
// (a reader gone wrong) writes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/indexing/filter_host_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qv::platform::indexing::ReplyDecoder;
  if (size == 0) return 0;
  qv::platform::ReaderLimits limits;
  limits.maxTextBytes = 1u << 16;
  limits.maxEntries = 64;
  ReplyDecoder decoder(limits);
  // The first byte picks the size of the pieces.
  const std::size_t piece = 1 + data[0] % 97;
  std::span<const std::uint8_t> rest(data + 1, size - 1);
  while (!rest.empty() && decoder.state() == ReplyDecoder::State::NeedMore) {
    const std::size_t n = rest.size() < piece ? rest.size() : piece;
    decoder.Feed(rest.first(n));
    rest = rest.subspan(n);
  }
  std::uint64_t text = 0;
  for (const auto& c : decoder.text().chunks) text += c.size();
  if (text > limits.maxTextBytes || decoder.text().chunks.size() > limits.maxEntries) {
    __builtin_trap();
  }
  return 0;
}
