#pragma once
// The input hooks: installed on an InputSource, they post KIVM_INPUT to the tracer's main
// window for every event that counts. They only post, so a busy or hung tracer never holds up
// the input.
#include <atomic>
#include <mutex>

#include "common/hresult.h"
#include "platform/desktop/input_source.h"
#include "platform/messaging/window_station.h"

namespace qv::hooks {

class InputHooks {
 public:
  InputHooks(platform::InputSource& source, platform::WindowStation& station)
      : source_(source), station_(station) {}
  ~InputHooks();
  InputHooks(const InputHooks&) = delete;
  InputHooks& operator=(const InputHooks&) = delete;

  // S_OK; kHooksAlreadyInstalled if both hooks are in place; the failed install's error
  // (both hooks are then removed).
  HRESULT Install();
  // S_OK, or the error of the last unhook that failed; the hooks count as removed either way
  // and the cached tracer window is forgotten.
  HRESULT Remove();

  bool KeyboardInstalled() const { return keyboard_ != 0; }
  bool MouseInstalled() const { return mouse_ != 0; }

 private:
  HRESULT RemoveLocked();
  void Report(std::uint64_t kind, std::uint64_t window);

  platform::InputSource& source_;
  platform::WindowStation& station_;
  std::mutex mutex_;  // serialises Install and Remove
  std::atomic<platform::InputSource::HookId> keyboard_{0};
  std::atomic<platform::InputSource::HookId> mouse_{0};
  // The tracer's main window, looked up on first use and forgotten when a post fails, so a
  // restarted tracer is found again. A stale value costs one lookup.
  std::atomic<platform::Hwnd> tracer_{0};
};

}  // namespace qv::hooks
