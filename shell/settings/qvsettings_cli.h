#pragma once
// The qvsettings command line: every value of the settings pages, shown and changed through
// the same models and rules as the settings window.
//
//   qvsettings show [PAGE]           one "Page.Value=data" line per value
//   qvsettings set PAGE.VALUE DATA   one value
//
// Pages: Files, WebHistory, EMail, General, Search, View (names compare without case). Values
// carry their registry names and meanings (Files.DisableJournaling=1: journaling is off).
// A pattern list prints on one line, its patterns joined by ';' (the separator the matcher
// itself splits at, so no pattern can hold one); `set` takes it as several DATA arguments or
// one ';'-separated text, normalises it like the window, and an empty list deletes the value.
// A mail store's options are EMail.PSTs.<store>.Settings (its .Name and .Path are shown only).
#include <ostream>
#include <span>
#include <string_view>

#include "shell/settings/settings_pages.h"

namespace qv::settings {

// Exit codes: 0 done, 1 usage error (nothing written), 2 the registry failed or the change
// needs rights the user lacks.
inline constexpr int kSettingsExitOk = 0;
inline constexpr int kSettingsExitUsage = 1;
inline constexpr int kSettingsExitFailed = 2;

// `args` excludes the program name.
int RunQvsettings(std::span<const std::string_view> args, const SettingsEnvironment& env,
                  std::ostream& out, std::ostream& err);

}  // namespace qv::settings
