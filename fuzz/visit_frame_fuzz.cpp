// Feeds arbitrary records to the window-message frame decoder: it must reject or accept
// without crashing, and whatever it accepts must encode back to the same bytes and carry a
// window name the query reply parser can take or refuse safely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "platform/messaging/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform;
  const std::span<const std::uint8_t> input(data, size);
  Frame frame;
  if (qv::Failed(DecodeFrame(input, frame))) return 0;
  std::vector<std::uint8_t> again;
  if (qv::Failed(EncodeFrame(frame, again))) std::abort();
  if (again.size() != size || !std::equal(again.begin(), again.end(), input.begin())) std::abort();
  const Message message = MessageFromFrame(frame);
  if (message.copyData && message.copyData->bytes.size() > kMaxCopyDataBytes) std::abort();
  std::string cls, title;
  if (DecodeWindowName(frame.data, cls, title) && cls.empty()) std::abort();
  return 0;
}
