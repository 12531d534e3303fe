#include "platform/messaging/message_loop.h"

#include <algorithm>
#include <vector>

#include "platform/messaging/loop_core.h"
#include "platform/messaging/message_ids.h"

namespace qv::platform {
namespace detail {

bool LoopCore::Enqueue(Item item) {
  {
    std::lock_guard lock(mutex_);
    if (closed_ || queue_.size() >= kMaxQueuedMessages) return false;
    queue_.push_back(std::move(item));
  }
  wake_.notify_all();
  return true;
}

bool LoopCore::Post(Message message) { return Enqueue(Item{std::move(message), {}, false, 0}); }

bool LoopCore::PostSend(Message message, Done done) {
  return Enqueue(Item{std::move(message), std::move(done), false, 0});
}

void LoopCore::PostQuit(int code) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    // WM_QUIT is never refused for a full queue: it is how the owner gets out.
    queue_.push_back(Item{Message{0, WM_QUIT, static_cast<WPARAM>(code), 0, {}}, {}, true, code});
  }
  wake_.notify_all();
}

void LoopCore::Register(Hwnd hwnd, std::shared_ptr<WindowProc> proc) {
  std::lock_guard lock(mutex_);
  windows_[hwnd] = std::move(proc);
}

void LoopCore::Unregister(Hwnd hwnd) {
  std::lock_guard lock(mutex_);
  windows_.erase(hwnd);
  std::erase_if(timers_, [hwnd](const auto& t) { return t.first.first == hwnd; });
}

void LoopCore::SetTimer(Hwnd hwnd, std::uintptr_t id, std::chrono::milliseconds interval) {
  interval = std::max(interval, std::chrono::milliseconds(1));
  {
    std::lock_guard lock(mutex_);
    timers_[{hwnd, id}] = Timer{interval, clock_.Monotonic() + interval};
  }
  wake_.notify_all();
}

bool LoopCore::KillTimer(Hwnd hwnd, std::uintptr_t id) {
  std::lock_guard lock(mutex_);
  return timers_.erase({hwnd, id}) != 0;
}

std::optional<LRESULT> LoopCore::CallDirect(const Message& message) {
  std::shared_ptr<WindowProc> proc;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(message.hwnd);
    if (it == windows_.end()) return std::nullopt;
    proc = it->second;
  }
  return (*proc)(message);
}

void LoopCore::Dispatch(Item& item) {
  std::shared_ptr<WindowProc> proc;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(item.message.hwnd);
    if (it != windows_.end()) proc = it->second;
  }
  // The procedure may destroy its own window; `proc` keeps the callable alive meanwhile.
  if (!proc) {
    if (item.done) item.done(std::nullopt);
    return;
  }
  const LRESULT result = (*proc)(item.message);
  if (item.done) item.done(result);
}

bool LoopCore::Pump(std::chrono::milliseconds wait) {
  std::vector<Item> ready;
  {
    std::unique_lock lock(mutex_);
    if (quitCode_) return false;
    loopThread_ = std::this_thread::get_id();
    auto nextDue = [this]() -> std::optional<std::chrono::nanoseconds> {
      std::optional<std::chrono::nanoseconds> next;
      for (const auto& [key, t] : timers_) {
        if (!next || t.due < *next) next = t.due;
      }
      return next;
    };
    if (queue_.empty()) {
      std::chrono::nanoseconds limit = wait;
      if (auto due = nextDue()) limit = std::min(limit, std::max(*due - clock_.Monotonic(),
                                                                 std::chrono::nanoseconds(0)));
      if (limit > std::chrono::nanoseconds(0)) {
        lastTake_ = clock_.Monotonic();
        wake_.wait_for(lock, limit, [this] { return !queue_.empty() || closed_; });
      }
    }
    lastTake_ = clock_.Monotonic();
    // Everything queued so far, then one WM_TIMER per due timer: timers have the lowest
    // priority and never pile up, as the next one is due an interval after this one.
    while (!queue_.empty()) {
      ready.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    const auto now = clock_.Monotonic();
    for (auto& [key, t] : timers_) {
      if (t.due <= now) {
        t.due = now + t.interval;
        ready.push_back(Item{Message{key.first, WM_TIMER, key.second, 0, {}}, {}, false, 0});
      }
    }
  }
  for (std::size_t i = 0; i < ready.size(); ++i) {
    Item& item = ready[i];
    if (item.quit) {
      // Messages behind WM_QUIT stay queued for a later Pump that never comes; sends
      // among them are answered at Close.
      std::lock_guard lock(mutex_);
      quitCode_ = item.quitCode;
      for (std::size_t j = ready.size(); j > i + 1; --j) {
        queue_.push_front(std::move(ready[j - 1]));
      }
      return false;
    }
    {
      std::lock_guard lock(mutex_);
      lastTake_ = clock_.Monotonic();
    }
    Dispatch(item);
  }
  return true;
}

std::optional<int> LoopCore::quitCode() const {
  std::lock_guard lock(mutex_);
  return quitCode_;
}

bool LoopCore::OnLoopThread() const {
  std::lock_guard lock(mutex_);
  return loopThread_ == std::this_thread::get_id();
}

bool LoopCore::IsHung() const {
  std::lock_guard lock(mutex_);
  return !queue_.empty() && clock_.Monotonic() - lastTake_ > kHungAfter;
}

void LoopCore::Close() {
  std::deque<Item> left;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    left.swap(queue_);
    windows_.clear();
    timers_.clear();
  }
  wake_.notify_all();
  for (Item& item : left) {
    if (item.done) item.done(std::nullopt);
  }
}

}  // namespace detail

MessageLoop::MessageLoop(const Clock& clock) : core_(std::make_shared<detail::LoopCore>(clock)) {}

MessageLoop::~MessageLoop() { core_->Close(); }

int MessageLoop::Run() {
  while (core_->Pump(std::chrono::hours(1))) {
  }
  return core_->quitCode().value_or(0);
}

bool MessageLoop::Pump(std::chrono::milliseconds wait) { return core_->Pump(wait); }
void MessageLoop::PostQuit(int code) { core_->PostQuit(code); }
std::optional<int> MessageLoop::quitCode() const { return core_->quitCode(); }
bool MessageLoop::OnLoopThread() const { return core_->OnLoopThread(); }
bool MessageLoop::IsHung() const { return core_->IsHung(); }

}  // namespace qv::platform
