#include "platform/messaging/transport.h"

#include "common/utf.h"

namespace qv::platform {

bool Matches(const WindowQuery& query, const WindowInfo& info) {
  if (info.messageOnly != query.messageOnly) return false;
  if (query.className && !EqualsNoCase(*query.className, info.className)) return false;
  if (query.title && *query.title != info.title) return false;
  return true;
}

}  // namespace qv::platform
