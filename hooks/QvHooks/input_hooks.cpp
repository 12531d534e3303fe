#include "hooks/QvHooks/input_hooks.h"

#include "hooks/QvHooks/input_filters.h"
#include "hooks/QvHooks/tracer_messages.h"

namespace qv::hooks {

using namespace qv::platform;

InputHooks::~InputHooks() { Remove(); }

HRESULT InputHooks::Install() {
  std::lock_guard lock(mutex_);
  std::int32_t error = 0;
  if (keyboard_ != 0) {
    if (mouse_ != 0) return kHooksAlreadyInstalled;
  } else {
    const auto id = source_.AddKeyboardHook(
        [this](const KeyboardEvent& e) {
          if (auto notice = FilterKeyboard(e)) Report(notice->kind, notice->window);
        },
        error);
    if (id == 0) {
      const HRESULT hr = HresultFromWin32(error != 0 ? error : win32::ERROR_INVALID_PARAMETER);
      RemoveLocked();
      return hr;
    }
    keyboard_ = id;
    if (mouse_ != 0) return S_OK;
  }
  const auto id = source_.AddMouseHook(
      [this](const MouseEvent& e) {
        if (auto notice = FilterMouse(e, [this](int vk) { return source_.AsyncKeyState(vk); })) {
          Report(notice->kind, notice->window);
        }
      },
      error);
  if (id == 0) {
    const HRESULT hr = HresultFromWin32(error != 0 ? error : win32::ERROR_INVALID_PARAMETER);
    RemoveLocked();
    return hr;
  }
  mouse_ = id;
  return S_OK;
}

HRESULT InputHooks::Remove() {
  std::lock_guard lock(mutex_);
  return RemoveLocked();
}

HRESULT InputHooks::RemoveLocked() {
  HRESULT hr = S_OK;
  for (auto* handle : {&keyboard_, &mouse_}) {
    const auto id = handle->exchange(0);
    std::int32_t error = 0;
    if (id != 0 && !source_.RemoveHook(id, error)) hr = HresultFromWin32(error);
  }
  tracer_ = 0;
  return hr;
}

void InputHooks::Report(std::uint64_t kind, std::uint64_t window) {
  Hwnd tracer = tracer_.load();
  if (tracer == 0) {
    tracer = station_.FindWindow(kTracerWindowClass);
    if (tracer == 0) return;  // no tracer: the event is dropped
    tracer_ = tracer;
  }
  if (Failed(station_.PostMessage(tracer, KIVM_INPUT, kind, static_cast<LPARAM>(window)))) {
    tracer_ = 0;
  }
}

}  // namespace qv::hooks
