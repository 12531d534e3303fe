#include "service/QvUpdate/qvupdate.h"

#include <sched.h>
#include <sys/resource.h>

#include <string>

#include "context/event_report.h"
#include "interfaces/ikiv_file_ranking.h"
#include "service/QvUpdate/exit_codes.h"
#include "service/QvUpdate/update_args.h"

namespace qv::update {
namespace {

HRESULT Update(const Context& ctx, const UpdateArgs& a) {
  std::shared_ptr<IKivFileRanking> store;
  if (const HRESULT hr = ctx.classes.CreateInstance(CLSID_FileRanking, store); Failed(hr)) {
    return hr;
  }
  return store->UpdateRank(&a.file, a.units, a.visits, a.start, a.finish, a.workingTime,
                           a.activeTime, a.scope, a.retry,
                           a.searchKey ? &*a.searchKey : nullptr);
}

}  // namespace

HRESULT RunUpdate(const Context& ctx, std::span<const std::string_view> args) {
  UpdateArgs a;
  HRESULT hr = ParseUpdateArgs(args, a);
  if (Succeeded(hr)) hr = Update(ctx, a);
  if (Failed(hr)) {
    ReportEvent(ctx, platform::EventType::Error, kCategoryProvider, kEventUpdateFailed,
                {a.file, FormatHresult(hr), std::to_string(ExitCodeFor(hr)), SystemMessage(hr)});
  }
  return hr;
}

void LowerToIdlePriority() {
  (void)::setpriority(PRIO_PROCESS, 0, kIdleNice);
  sched_param none{};
  (void)::sched_setscheduler(0, SCHED_IDLE, &none);
}

}  // namespace qv::update
