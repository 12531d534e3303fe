// QvSeek's print server reads requests, and QvSeek the server's replies: whatever a frame
// holds, decoding either answers false or gives what encodes back to the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "client/print_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  auto same = [&](const std::string& encoded) {
    return encoded.size() == size && std::equal(encoded.begin(), encoded.end(),
                                                reinterpret_cast<const char*>(data));
  };
  qv::client::PrintRequest request;
  if (qv::client::DecodePrintRequest(bytes, request) &&
      !same(qv::client::EncodePrintRequest(request))) {
    std::abort();
  }
  qv::client::PrintReply reply;
  if (qv::client::DecodePrintReply(bytes, reply) && !same(qv::client::EncodePrintReply(reply))) {
    std::abort();
  }
  return 0;
}
