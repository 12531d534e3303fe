#pragma once
// A message loop: one per thread that owns windows. Other threads (and the transports) put
// posted and sent messages into its queue; the owning thread runs Run() or Pump(), which
// hands each message to its window's procedure, generates WM_TIMER for due timers and ends
// on WM_QUIT.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "common/clock.h"
#include "platform/messaging/message.h"

namespace qv::platform {

namespace detail {
class LoopCore;
}

// A loop whose owning thread has not taken a message for this long, while messages wait,
// counts as hung: sends with SMTO_ABORTIFHUNG fail at once instead of waiting.
inline constexpr std::chrono::milliseconds kHungAfter{5000};

class MessageLoop {
 public:
  // Timers and the hung test read `clock`'s monotonic time; it must outlive the loop.
  explicit MessageLoop(const Clock& clock);
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Dispatches until WM_QUIT arrives; returns the quit code.
  int Run();
  // Dispatches whatever is ready, waiting up to `wait` for the first message or timer.
  // Returns false once WM_QUIT has been taken (its code is then in quitCode()).
  bool Pump(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
  // Posts WM_QUIT to the loop; callable from any thread.
  void PostQuit(int code);
  std::optional<int> quitCode() const;

  // True while called on the thread that is running Run() or Pump().
  bool OnLoopThread() const;
  // See kHungAfter.
  bool IsHung() const;

  std::shared_ptr<detail::LoopCore> core() const { return core_; }

 private:
  std::shared_ptr<detail::LoopCore> core_;
};

}  // namespace qv::platform
