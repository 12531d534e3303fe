#pragma once
// The handlers through which the service's listener reaches the job table and catalog
// maintenance, as the service's main wires them.
#include "context/context.h"
#include "interfaces/ibase_activation.h"
#include "service/QvRankingSvc/listener_requests.h"

namespace qv::service {

ListenerHandlers MakeListenerHandlers(const Context& ctx);

}  // namespace qv::service
