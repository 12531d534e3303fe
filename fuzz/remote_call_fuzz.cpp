// Reads arbitrary bytes as a call to a served object, as the ranking service does with each
// record a client sends. A call that decodes must encode to exactly the same bytes, so the
// decoder accepts nothing the encoder could not have written; replies likewise.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/com/remote_call.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform;
  const std::span<const std::uint8_t> bytes(data, size);
  CallRequest call;
  if (qv::Succeeded(DecodeCall(bytes, call))) {
    if (call.args.size() > kMaxCallArgs) __builtin_trap();
    std::vector<std::uint8_t> again;
    if (qv::Failed(EncodeCall(call, again))) __builtin_trap();
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
  }
  CallReply reply;
  if (qv::Succeeded(DecodeReply(bytes, reply))) {
    const std::vector<std::uint8_t> again = EncodeReply(reply);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
  }
  return 0;
}
