/* The exports of libQvHooks.so: the input hooks and the visit interface. Every function
   returns an HRESULT. Window handles are 64-bit desktop window ids; item strings are UTF-16,
   NUL-terminated. */
#pragma once

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#define QV_HOOKS_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* S_OK; 0x800401FC if both hooks are installed already; the error of a failed install. */
QV_HOOKS_EXPORT int32_t KivInstallInputHooks(void);
/* S_OK, or the error of the last unhook that failed. */
QV_HOOKS_EXPORT int32_t KivRemoveInputHooks(void);
/* S_OK (0) if the tracer's event window exists, S_FALSE (1) if not. */
QV_HOOKS_EXPORT int32_t KivIsRunning(void);
/* S_FALSE without a tracer, S_OK once delivered, otherwise the send's error; every call
   waits at most 5000 ms, and a tracer that is hung (stopped, or not answering) gives
   0x800705B4, the time-out. E_INVALIDARG for a null item or a window that is not one (start),
   window 0 (end), or an item longer than the tracer reads (all three). */
QV_HOOKS_EXPORT int32_t KivVisitStart(uint64_t window, const char16_t* item, uint32_t flags);
QV_HOOKS_EXPORT int32_t KivVisitUpdate(uint64_t window, const char16_t* item, uint32_t flags);
QV_HOOKS_EXPORT int32_t KivVisitEnd(uint64_t window, const char16_t* item, uint32_t flags);

#ifdef __cplusplus
}  // extern "C"

#include <functional>

namespace qv::platform {
class InputSource;
}

namespace qv::hooks {
// The input source this process's hooks attach to. The tracer binds its own before calling
// KivInstallInputHooks; without one, installing fails with ERROR_NOT_SUPPORTED. Passing
// nullptr removes installed hooks first. The source must outlive the binding.
QV_HOOKS_EXPORT void BindInputSource(platform::InputSource* source);
// Which visit keys are windows (KivVisitStart's check). Without it a key must name a window
// of the X display in $DISPLAY or a window of one of this user's components.
QV_HOOKS_EXPORT void BindWindowCheck(std::function<bool(uint64_t)> isWindow);
}  // namespace qv::hooks
#endif
