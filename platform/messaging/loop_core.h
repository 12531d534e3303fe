#pragma once
// The shared state behind a MessageLoop, used by windows and transports; not part of the
// public API. It outlives the MessageLoop object while windows or queued replies refer to it:
// once the loop is gone, posts fail and queued sends are answered "no window".
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "common/clock.h"
#include "platform/messaging/message.h"

namespace qv::platform::detail {

// A full queue refuses further posts instead of growing without bound behind a hung owner.
inline constexpr std::size_t kMaxQueuedMessages = 10000;

class LoopCore {
 public:
  // Called with the procedure's result, or nullopt when the window or the loop went away.
  using Done = std::function<void(std::optional<LRESULT>)>;

  explicit LoopCore(const Clock& clock) : clock_(clock), lastTake_(clock.Monotonic()) {}

  bool Post(Message message);
  bool PostSend(Message message, Done done);
  void PostQuit(int code);

  void Register(Hwnd hwnd, std::shared_ptr<WindowProc> proc);
  void Unregister(Hwnd hwnd);
  void SetTimer(Hwnd hwnd, std::uintptr_t id, std::chrono::milliseconds interval);
  bool KillTimer(Hwnd hwnd, std::uintptr_t id);

  // A send from the loop's own thread to one of its windows: the procedure is called at
  // once, as a sent message to a window of the calling thread is.
  std::optional<LRESULT> CallDirect(const Message& message);

  bool Pump(std::chrono::milliseconds wait);
  std::optional<int> quitCode() const;
  bool OnLoopThread() const;
  bool IsHung() const;
  // The MessageLoop is being destroyed.
  void Close();

 private:
  struct Item {
    Message message;
    Done done;  // set for sends
    bool quit = false;
    int quitCode = 0;
  };
  struct Timer {
    std::chrono::milliseconds interval;
    std::chrono::nanoseconds due;
  };
  bool Enqueue(Item item);
  void Dispatch(Item& item);

  const Clock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  std::map<Hwnd, std::shared_ptr<WindowProc>> windows_;
  std::map<std::pair<Hwnd, std::uintptr_t>, Timer> timers_;
  std::optional<int> quitCode_;
  std::thread::id loopThread_;
  std::chrono::nanoseconds lastTake_;
  bool closed_ = false;
};

}  // namespace qv::platform::detail
