// Reads arbitrary bytes as a journal notification, which any process of the user can send to
// a journal view window: a block that reads must be exactly the block its fields encode to.
#include <cstddef>
#include <cstdint>
#include <span>

#include "provider/journal/journal_notification.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::journal;
  const std::span<const std::uint8_t> block(data, size);
  const auto n = DecodeNotification(block);
  if (!n) return 0;
  const NotificationBlock again = EncodeNotification(n->entry, n->localStart);
  if (size != again.size() || !std::equal(again.begin(), again.end(), block.begin())) {
    __builtin_trap();
  }
  return 0;
}
