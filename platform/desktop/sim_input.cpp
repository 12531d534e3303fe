#include "platform/desktop/sim_input.h"

#include "common/hresult.h"
#include "platform/messaging/message_ids.h"

namespace qv::platform {

bool SimInput::TakeFailure(std::int32_t& slot, std::int32_t& error) {
  if (slot == 0) return false;
  error = slot;
  slot = 0;
  return true;
}

bool SimInput::TakeAddFailure(std::int32_t& error) {
  if (failAdd_ == 0) return false;
  if (failAddAfter_ > 0) {
    --failAddAfter_;
    return false;
  }
  return TakeFailure(failAdd_, error);
}

InputSource::HookId SimInput::AddKeyboardHook(KeyboardHook hook, std::int32_t& error) {
  std::lock_guard lock(mutex_);
  if (TakeAddFailure(error)) return 0;
  if (!hook) {
    error = win32::ERROR_INVALID_PARAMETER;
    return 0;
  }
  keyboard_[nextId_] = std::move(hook);
  return nextId_++;
}

InputSource::HookId SimInput::AddMouseHook(MouseHook hook, std::int32_t& error) {
  std::lock_guard lock(mutex_);
  if (TakeAddFailure(error)) return 0;
  if (!hook) {
    error = win32::ERROR_INVALID_PARAMETER;
    return 0;
  }
  mouse_[nextId_] = std::move(hook);
  return nextId_++;
}

bool SimInput::RemoveHook(HookId id, std::int32_t& error) {
  std::lock_guard call(callMutex_);
  std::lock_guard lock(mutex_);
  if (TakeFailure(failRemove_, error)) return false;
  if (keyboard_.erase(id) + mouse_.erase(id) == 0) {
    error = win32::ERROR_INVALID_HANDLE;  // ERROR_INVALID_HOOK_HANDLE in spirit
    return false;
  }
  return true;
}

std::uint16_t SimInput::AsyncKeyState(int virtualKey) {
  std::lock_guard lock(mutex_);
  std::uint16_t state = down_.count(virtualKey) != 0 ? 0x8000 : 0;
  if (pressedSinceQuery_.erase(virtualKey) != 0) state |= 0x0001;
  return state;
}

bool SimInput::LastInputTick(std::uint32_t& tick) const {
  std::lock_guard lock(mutex_);
  if (!lastInputReadable_) return false;
  tick = lastInput_;
  return true;
}

void SimInput::KeyDown(std::uint32_t virtualKey, std::uint64_t focusWindow) {
  bool wasDown;
  {
    std::lock_guard lock(mutex_);
    wasDown = !down_.insert(static_cast<int>(virtualKey)).second;
    pressedSinceQuery_.insert(static_cast<int>(virtualKey));
  }
  Send(KeyboardEvent{HC_ACTION, virtualKey, 1u | (wasDown ? kKeyFlagPreviousDown : 0u),
                     focusWindow});
}

void SimInput::KeyUp(std::uint32_t virtualKey, std::uint64_t focusWindow) {
  {
    std::lock_guard lock(mutex_);
    down_.erase(static_cast<int>(virtualKey));
  }
  Send(KeyboardEvent{HC_ACTION, virtualKey, 1u | kKeyFlagPreviousDown | kKeyFlagReleased,
                     focusWindow});
}

void SimInput::Mouse(std::uint32_t message, std::uint64_t window, std::int32_t x, std::int32_t y) {
  {
    std::lock_guard lock(mutex_);
    switch (message) {
      case WM_LBUTTONDOWN:
      case WM_NCLBUTTONDOWN:
        down_.insert(VK_LBUTTON);
        pressedSinceQuery_.insert(VK_LBUTTON);
        break;
      case WM_LBUTTONUP:
      case WM_NCLBUTTONUP:
        down_.erase(VK_LBUTTON);
        break;
      case WM_RBUTTONDOWN:
        down_.insert(VK_RBUTTON);
        pressedSinceQuery_.insert(VK_RBUTTON);
        break;
      case WM_RBUTTONUP:
        down_.erase(VK_RBUTTON);
        break;
      default:
        break;
    }
  }
  Send(MouseEvent{HC_ACTION, message, MouseRecord{x, y, window}});
}

void SimInput::Send(const KeyboardEvent& event) {
  std::lock_guard call(callMutex_);
  std::map<HookId, KeyboardHook> hooks;
  {
    std::lock_guard lock(mutex_);
    lastInput_ = clock_.Tick();
    hooks = keyboard_;
  }
  for (auto& [id, hook] : hooks) hook(event);
}

void SimInput::Send(const MouseEvent& event) {
  std::lock_guard call(callMutex_);
  std::map<HookId, MouseHook> hooks;
  {
    std::lock_guard lock(mutex_);
    lastInput_ = clock_.Tick();
    hooks = mouse_;
  }
  for (auto& [id, hook] : hooks) hook(event);
}

void SimInput::SetKeyDown(int virtualKey, bool down) {
  std::lock_guard lock(mutex_);
  if (down) {
    down_.insert(virtualKey);
  } else {
    down_.erase(virtualKey);
  }
}

void SimInput::FailNextAdd(std::int32_t error, std::size_t after) {
  std::lock_guard lock(mutex_);
  failAdd_ = error;
  failAddAfter_ = after;
}

void SimInput::FailNextRemove(std::int32_t error) {
  std::lock_guard lock(mutex_);
  failRemove_ = error;
}

void SimInput::SetLastInputReadable(bool readable) {
  std::lock_guard lock(mutex_);
  lastInputReadable_ = readable;
}

std::size_t SimInput::HookCount() const {
  std::lock_guard lock(mutex_);
  return keyboard_.size() + mouse_.size();
}

}  // namespace qv::platform
