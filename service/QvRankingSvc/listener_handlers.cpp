#include "service/QvRankingSvc/listener_handlers.h"

namespace qv::service {

// Filled when the job table and catalog maintenance land; until then every call is answered
// "not implemented" and nothing is queued or scheduled.
ListenerHandlers MakeListenerHandlers(const Context& /*ctx*/) {
  ListenerHandlers h;
  h.updatePending = [](const PendingUpdate&, const Caller&) { return E_NOTIMPL; };
  h.makeConfigRequest = [](std::string_view, bool, const Caller&, CatalogRequest&) {
    return E_NOTIMPL;
  };
  h.makeMailProfileRequest = [](std::string_view, std::string_view, std::string_view,
                                const Caller&, CatalogRequest&) { return E_NOTIMPL; };
  h.processCatalogRequest = [](const CatalogRequest&) {};
  h.otlStopScope = [](std::string_view, const Caller&) { return E_NOTIMPL; };
  h.deleteStale = [](std::string_view, const Caller&) { return E_NOTIMPL; };
  h.runDueJobs = []() -> std::optional<SystemTime> { return std::nullopt; };
  return h;
}

}  // namespace qv::service
