#include "common/guid.h"
#include "provider/urlmon/history_protocol.h"
#include "provider/urlmon/kiv_urlmon.h"

namespace qv::urlmon {

HRESULT RegisterWebHistoryClasses(Context& ctx) {
  const Context* c = &ctx;
  ctx.classes.Register(CLSID_KivUrlmon, kProgIdKivUrlmon, kProgIdKivUrlmonIndependent,
                       [c](std::shared_ptr<platform::ComObject>& out) {
                         out = std::make_shared<KivUrlmon>(*c);
                         return S_OK;
                       });
  ctx.classes.Register(CLSID_KivHistoryApp, "", "",
                       [c](std::shared_ptr<platform::ComObject>& out) {
                         out = std::make_shared<KivHistoryApp>(*c);
                         return S_OK;
                       });
  const auto err = ctx.registry.SetValue(platform::Hive::ClassesRoot, kProtocolHandlerKey, "CLSID",
                                         platform::RegValue::Sz(FormatGuid(CLSID_KivHistoryApp)));
  return HresultFromWin32(err);
}

}  // namespace qv::urlmon
