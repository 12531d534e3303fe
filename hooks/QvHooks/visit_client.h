#pragma once
// The visit interface: other components tell the tracer that a visit to an item begins,
// changes or ends. Each call becomes one WM_COPYDATA to the tracer's message-only event
// window, keyed by the caller's window.
#include <chrono>
#include <cstdint>
#include <functional>

#include "common/hresult.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/messaging/window_station.h"

namespace qv::hooks {

class VisitClient {
 public:
  // `isWindow` tells whether a visit key names a window of the desktop; without one every
  // non-zero handle counts as a window. A null station (no usable runtime folder) behaves as
  // a session without a tracer.
  explicit VisitClient(platform::WindowStation* station,
                       std::function<bool(std::uint64_t)> isWindow = nullptr,
                       std::chrono::milliseconds timeout =
                           std::chrono::milliseconds(kVisitSendTimeoutMs));

  // E_INVALIDARG if `window` is not a window, `item` is null or longer than the tracer reads.
  HRESULT Start(std::uint64_t window, const char16_t* item, std::uint32_t flags);
  // A null item sends an empty string; E_INVALIDARG only for an over-long item.
  HRESULT Update(std::uint64_t window, const char16_t* item, std::uint32_t flags);
  // E_INVALIDARG if `window` is 0 or the item is over-long.
  HRESULT End(std::uint64_t window, const char16_t* item, std::uint32_t flags);
  // S_OK if the tracer's event window exists, S_FALSE if not.
  HRESULT IsRunning();

 private:
  HRESULT Send(std::uint32_t operation, std::uint64_t window, const char16_t* item,
               std::uint32_t flags);

  platform::WindowStation* station_;
  std::function<bool(std::uint64_t)> isWindow_;
  std::chrono::milliseconds timeout_;
};

// The copy-data block of an item: its UTF-16LE characters and the terminating NUL. False if
// the item is longer than kMaxVisitItemChars (only that many characters plus one are read).
bool VisitItemBytes(const char16_t* item, std::vector<std::uint8_t>& out);

}  // namespace qv::hooks
