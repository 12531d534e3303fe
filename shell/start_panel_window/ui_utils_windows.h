#pragma once
// KivUIUtils with its windows: the start panel and the journal clearing dialog as Qt views,
// for programs that run a QApplication (the manager). Without one the views show nothing:
// StartPanel fails and ClearJournal returns at once.
#include "context/context.h"

namespace qv::startpanel {

// Registers KivUIUtils in ctx.classes with the Qt views, replacing a registration without
// them.
void RegisterUIUtilsClassWithWindows(const Context& ctx);

}  // namespace qv::startpanel
