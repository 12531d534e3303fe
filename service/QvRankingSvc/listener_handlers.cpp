#include "service/QvRankingSvc/listener_handlers.h"

#include <memory>

#include "service/QvRankingSvc/catalog_requests.h"
#include "service/QvRankingSvc/pending_jobs.h"
#include "service/QvRankingSvc/pending_update.h"

namespace qv::service {

// Deferred updates go to the job table, due jobs to one runner that lives as long as the
// handlers (it reaps the updaters it started), and catalog requests to catalog maintenance.
ListenerHandlers MakeListenerHandlers(const Context& ctx) {
  ListenerHandlers h;
  h.updatePending = [&ctx](const PendingUpdate& update, const Caller& caller) {
    return SchedulePendingUpdate(ctx, update, caller);
  };
  auto runner = std::make_shared<PendingJobRunner>(ctx);
  h.runDueJobs = [runner]() { return runner->RunDueJobs(); };
  BindCatalogHandlers(ctx, h);
  return h;
}

}  // namespace qv::service
