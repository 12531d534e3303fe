#include "shell/start_panel_window/ui_utils_windows.h"

#include <memory>

#include "shell/clear_journal_window/clear_journal_window.h"
#include "shell/start_panel_window/start_panel_window.h"
#include "shell/uiutils/kiv_ui_utils.h"

namespace qv::startpanel {

namespace {
// The object and the views it uses live and die together.
struct WithWindows {
  explicit WithWindows(const Context& ctx) : clear(ctx.clock), utils(ctx, &panel, &clear) {}
  QtStartPanel panel;
  clearjournal::QtClearJournal clear;
  uiutils::KivUIUtils utils;
};
}  // namespace

void RegisterUIUtilsClassWithWindows(const Context& ctx) {
  ctx.classes.Register(CLSID_KivUIUtils, "", "",
                       [&ctx](std::shared_ptr<platform::ComObject>& out) -> HRESULT {
                         auto holder = std::make_shared<WithWindows>(ctx);
                         out = std::shared_ptr<uiutils::KivUIUtils>(holder, &holder->utils);
                         return S_OK;
                       });
}

}  // namespace qv::startpanel
