/* The exports of libQvWLNP.so: the session's lock and screen-saver changes, passed on to the
   tracer's main window as KIVM_LOCK_STATE. Each takes the notification record and returns
   nothing; every failure ends the call silently. */
#pragma once

#include <stdint.h>

#define QV_WLNP_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* The notification record. `size` must cover the whole record as declared here (a caller
   with an older, shorter record is ignored); only `windowStation` and `token` are read. */
typedef struct QvWlxNotificationInfo {
  uint32_t size;
  uint32_t flags;
  const char* userName;
  const char* domain;
  /* The session's window station: the runtime folder that holds its windows. */
  const char* windowStation;
  /* The session's logon token; a null token means no session and nothing is done. */
  const void* token;
  const void* desktop;
  void (*statusCallback)(void);
} QvWlxNotificationInfo;

QV_WLNP_EXPORT void WLLock(const QvWlxNotificationInfo* info);
QV_WLNP_EXPORT void WLUnlock(const QvWlxNotificationInfo* info);
QV_WLNP_EXPORT void WLStartScreenSaver(const QvWlxNotificationInfo* info);
QV_WLNP_EXPORT void WLStopScreenSaver(const QvWlxNotificationInfo* info);

#ifdef __cplusplus
}  // extern "C"
#endif
