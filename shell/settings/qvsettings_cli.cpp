#include "shell/settings/qvsettings_cli.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/tool_args.h"
#include "common/utf.h"
#include "shell/settings/identity_text.h"
#include "shell/settings/settings_constants.h"

namespace qv::settings {

namespace {

constexpr std::string_view kUsage =
    "Usage: qvsettings [--window]\n"
    "       qvsettings show [PAGE]\n"
    "       qvsettings set PAGE.VALUE DATA...\n"
    "Opens the settings window (without arguments, or with --window; needs a display), or\n"
    "shows or changes the settings of Quillon Vesper with the rules of that window.\n"
    "Pages: Files, WebHistory, EMail, General, Search, View. `show` prints one line\n"
    "Page.Value=data per value; pattern lists are joined by ';', and a backslash or\n"
    "control character in a value is written escaped (\\\\, \\xNN). Examples:\n"
    "  qvsettings set Files.DisableJournaling 1      stop journaling files, keep ranking them\n"
    "  qvsettings set Files.matchtype 0              use the exclude list (1: the include list)\n"
    "  qvsettings set Files.exclude Temp .log        patterns become */Temp.* and *.log\n"
    "  qvsettings set Files.exclude ''               delete the list\n"
    "  qvsettings set EMail.PSTs.1A.Settings 0x1B3   a mail store's option bits (0-2, 4-9)\n"
    "Flags take 0 or 1; General.WordlistUserIdle 0 to 1200 (0: off), General.MinWordlistBattery\n"
    "0 to 100 (100: off), Search.PartialMatch 0 to 100, View.PreviewFileTypes 0 to 0x3F.\n"
    "Machine-wide values (General.NoSearchKeys, DisableStatistics, WordlistUserIdle,\n"
    "MinWordlistBattery) can be changed only by the owner of the installation.\n"
    "Exit codes: 0 done, 1 usage error (nothing written), 2 the change failed.\n";

constexpr std::string_view kPages[] = {"Files", "WebHistory", "EMail", "General", "Search", "View"};

int Usage(std::ostream& err, std::string_view what) {
  err << "qvsettings: " << what << "\nRun `qvsettings --help` for the pages and values.\n";
  return kSettingsExitUsage;
}

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

std::string Joined(const std::vector<std::string>& l) {
  std::string s;
  for (const auto& p : l) {
    if (!s.empty()) s += ';';
    s += p;
  }
  return s;
}

// Decimal, or hexadecimal after "0x".
std::optional<std::uint32_t> ParseNumber(std::string_view s, std::uint32_t max) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    std::uint32_t v = 0;
    if (s.size() > 10) return std::nullopt;
    for (char c : s.substr(2)) {
      const char l = AsciiLowerChar(c);
      if (l >= '0' && l <= '9') {
        v = v << 4 | static_cast<std::uint32_t>(l - '0');
      } else if (l >= 'a' && l <= 'f') {
        v = v << 4 | static_cast<std::uint32_t>(l - 'a' + 10);
      } else {
        return std::nullopt;
      }
    }
    if (v > max) return std::nullopt;
    return v;
  }
  const auto v = ParseWholeNumber(s, max);
  if (!v) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

void Line(std::ostream& out, std::string_view page, std::string_view name, std::string_view data) {
  out << page << '.' << name << '=' << EscapeControls(data) << '\n';
}
void Line(std::ostream& out, std::string_view page, std::string_view name, std::uint32_t v) {
  Line(out, page, name, std::to_string(v));
}

void ShowLists(std::ostream& out, std::string_view page, const PatternLists& l) {
  Line(out, page, kMatchType, l.matchType);
  Line(out, page, kInclude, Joined(l.include));
  Line(out, page, kExclude, Joined(l.exclude));
}

void ShowPage(std::string_view page, const SettingsEnvironment& env, std::ostream& out) {
  const platform::Registry& reg = env.ctx.registry;
  if (page == "Files") {
    const FilesPage p = LoadFilesPage(reg);
    Line(out, page, kDisableJournaling, p.journaling ? 0 : 1);
    Line(out, page, kDisableRanking, p.ranking ? 0 : 1);
    ShowLists(out, page, p.lists);
  } else if (page == "WebHistory") {
    const WebHistoryPage p = LoadWebHistoryPage(reg);
    Line(out, page, kDisableJournaling, p.journaling ? 0 : 1);
    Line(out, page, kDisableRanking, p.ranking ? 0 : 1);
    Line(out, page, kDisableCacheChanging, p.cacheChanging ? 0 : 1);
    ShowLists(out, page, p.lists);
  } else if (page == "EMail") {
    const EMailPage p = LoadEMailPage(reg);
    Line(out, page, kDisableJournaling, p.journaling ? 0 : 1);
    Line(out, page, kDisableRanking, p.ranking ? 0 : 1);
    for (const MailStore& s : p.stores) {
      const std::string prefix = "PSTs." + s.keyName + ".";
      Line(out, page, prefix + "Name", s.name);
      Line(out, page, prefix + std::string(kStorePath), s.path);
      Line(out, page, prefix + std::string(kStoreSettings), Hex(s.settings));
    }
  } else if (page == "General") {
    const GeneralPage p = LoadGeneralPage(env);
    Line(out, page, kIdentity, p.identity);
    Line(out, page, kNoSearchKeys, p.searchKeys ? 0 : 1);
    Line(out, page, kDisableStatistics, p.statistics ? 0 : 1);
    Line(out, page, kWordlistUserIdle, p.userIdleOn ? p.userIdle : kUserIdleOff);
    Line(out, page, kMinWordlistBattery, p.batteryOn ? p.battery : kBatteryOff);
  } else if (page == "Search") {
    Line(out, page, kPartialMatch, LoadSearchPage(reg).partialMatch);
  } else if (page == "View") {
    const ViewPage p = LoadViewPage(reg);
    Line(out, page, kPreviewFiles, p.previewFiles ? 1 : 0);
    Line(out, page, kPreviewFileTypes, Hex(p.previewFileTypes));
    ShowLists(out, page, p.lists);
    Line(out, page, kPreviewWeb, p.previewWeb ? 1 : 0);
    Line(out, page, kPreviewEmail, p.previewEmail ? 1 : 0);
    Line(out, page, kDownloadImages, p.downloadImages ? 1 : 0);
  }
}

std::optional<std::string_view> PageName(std::string_view s) {
  for (std::string_view p : kPages) {
    if (EqualsNoCase(p, s)) return p;
  }
  return std::nullopt;
}

// One request to change a value, checked before anything is written.
struct Change {
  std::string_view page;
  std::string value;        // the value's name as the user wrote it
  std::span<const std::string_view> data;
  bool Is(std::string_view name) const { return EqualsNoCase(value, name); }
};

int ReportFailure(std::ostream& err, HRESULT hr, std::string_view what) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  err << "qvsettings: " << what << " failed (" << buf << ")";
  if (hr == E_ACCESSDENIED) {
    err << ": machine-wide values can be changed only by the owner of the installation";
  } else {
    err << "; check that QV_ROOT/registry is writable (`qvreg export` shows what is stored)";
  }
  err << ".\n";
  return kSettingsExitFailed;
}

// The patterns of a list argument: several arguments, or one text separated by ';'.
std::vector<std::string> ListText(std::span<const std::string_view> data, PatternKind kind) {
  std::string text;
  for (std::string_view d : data) {
    for (char c : d) text += c == ';' ? '\n' : c;
    text += '\n';
  }
  return NormalisePatternText(text, kind);
}

std::optional<bool> ParseFlag(std::string_view s) {
  if (s == "0") return false;
  if (s == "1") return true;
  return std::nullopt;
}

int RunSet(std::span<const std::string_view> args, const SettingsEnvironment& env,
           std::ostream& out, std::ostream& err) {
  (void)out;
  if (args.size() < 2) return Usage(err, "set needs PAGE.VALUE and DATA");
  const std::string_view target = args[0];
  const auto dot = target.find('.');
  if (dot == std::string_view::npos) return Usage(err, "name the value as PAGE.VALUE");
  const auto page = PageName(target.substr(0, dot));
  if (!page) return Usage(err, "unknown page '" + EscapeControls(target.substr(0, dot)) + "'");
  Change c{*page, std::string(target.substr(dot + 1)), args.subspan(1)};
  platform::Registry& reg = env.ctx.registry;
  const bool isList = c.Is(kInclude) || c.Is(kExclude);
  if (!isList && c.data.size() != 1) return Usage(err, "this value takes exactly one DATA");
  const std::string_view d = c.data[0];
  const std::string unknown = "unknown value '" + EscapeControls(target) + "'";

  auto flagArg = [&](bool& field, bool inverted) -> std::optional<int> {
    const auto f = ParseFlag(d);
    if (!f) return Usage(err, std::string(target) + " takes 0 or 1");
    field = inverted ? !*f : *f;
    return std::nullopt;
  };
  auto save = [&](HRESULT hr) {
    return Succeeded(hr) ? kSettingsExitOk : ReportFailure(err, hr, "saving the page");
  };

  if (c.page == "Files" || c.page == "WebHistory" || c.page == "View") {
    const std::string key(c.page == "Files" ? kFilesKey : c.page == "View" ? kViewKey : kWebKey);
    const PatternKind kind = c.page == "WebHistory" ? PatternKind::Web : PatternKind::File;
    if (isList) {
      for (std::string_view a : c.data) {
        if (HasControlCharacter(a)) return Usage(err, "a pattern cannot hold control characters");
      }
      const std::vector<std::string> l = ListText(c.data, kind);
      const HRESULT hr = WritePatternList(reg, key, c.Is(kInclude) ? kInclude : kExclude, l);
      return Succeeded(hr) ? kSettingsExitOk : ReportFailure(err, hr, "writing the list");
    }
    if (c.Is(kMatchType)) {
      const auto f = ParseFlag(d);
      if (!f) return Usage(err, std::string(target) + " takes 0 (exclude list) or 1 (include list)");
      const HRESULT hr = HresultFromWin32(
          reg.SetValue(platform::Hive::CurrentUser, key, kMatchType, platform::RegValue::Dword(*f)));
      return save(hr);
    }
  }

  if (c.page == "Files" || c.page == "WebHistory") {
    // Both pages write all their values at once; load them so that only this one changes.
    if (c.page == "Files") {
      FilesPage p = LoadFilesPage(reg);
      if (c.Is(kDisableJournaling)) {
        if (auto r = flagArg(p.journaling, true)) return *r;
      } else if (c.Is(kDisableRanking)) {
        if (auto r = flagArg(p.ranking, true)) return *r;
      } else {
        return Usage(err, unknown);
      }
      return save(SaveFilesPage(reg, p));
    }
    WebHistoryPage p = LoadWebHistoryPage(reg);
    if (c.Is(kDisableJournaling)) {
      if (auto r = flagArg(p.journaling, true)) return *r;
    } else if (c.Is(kDisableRanking)) {
      if (auto r = flagArg(p.ranking, true)) return *r;
    } else if (c.Is(kDisableCacheChanging)) {
      if (auto r = flagArg(p.cacheChanging, true)) return *r;
    } else {
      return Usage(err, unknown);
    }
    return save(SaveWebHistoryPage(reg, p));
  }

  if (c.page == "EMail") {
    const EMailPage loaded = LoadEMailPage(reg);
    EMailPage p = loaded;
    if (c.Is(kDisableJournaling)) {
      if (auto r = flagArg(p.journaling, true)) return *r;
    } else if (c.Is(kDisableRanking)) {
      if (auto r = flagArg(p.ranking, true)) return *r;
    } else {
      // PSTs.<store>.Settings
      const std::string_view rest(c.value);
      const std::string_view prefix = "PSTs.";
      const std::string_view suffix = ".Settings";
      if (rest.size() <= prefix.size() + suffix.size() ||
          !EqualsNoCase(rest.substr(0, prefix.size()), prefix) ||
          !EqualsNoCase(rest.substr(rest.size() - suffix.size()), suffix)) {
        return Usage(err, unknown);
      }
      const std::string_view store =
          rest.substr(prefix.size(), rest.size() - prefix.size() - suffix.size());
      std::uint32_t number = 0;
      if (!ParseStoreNumber(store, number)) {
        return Usage(err, "a mail store is named by a nonzero hexadecimal number");
      }
      MailStore* s = nullptr;
      for (MailStore& m : p.stores) {
        if (m.number == number) s = &m;
      }
      if (!s) {
        return Usage(err, "no mail store " + std::string(store) +
                              " (`qvsettings show EMail` lists the stores)");
      }
      const auto v = ParseNumber(d, 0xFFFFFFFFu);
      if (!v) return Usage(err, "store settings are a number (decimal or 0x hexadecimal)");
      if (((*v ^ s->settings) & ~kEditableStoreBits) != 0) {
        return Usage(err, "only the bits 0, 1, 2 and 4 to 9 of a store's settings can change (mask 0x3F7)");
      }
      s->settings = *v;
    }
    std::vector<HRESULT> notified;
    return save(SaveEMailPage(env, loaded, p, &notified));
  }

  if (c.page == "General") {
    const GeneralPage loaded = LoadGeneralPage(env);
    GeneralPage p = loaded;
    if (c.Is(kIdentity)) {
      if (HasControlCharacter(d)) return Usage(err, "an identity cannot hold control characters");
      p.identity = CleanIdentity(d);
      if (p.identity.empty()) return Usage(err, "an identity cannot be empty");
    } else if (c.Is(kNoSearchKeys)) {
      if (auto r = flagArg(p.searchKeys, true)) return *r;
    } else if (c.Is(kDisableStatistics)) {
      if (auto r = flagArg(p.statistics, true)) return *r;
    } else if (c.Is(kWordlistUserIdle)) {
      const auto v = ParseNumber(d, kUserIdleMax);
      if (!v) return Usage(err, "General.WordlistUserIdle takes 0 (off) to 1200 seconds");
      p.userIdleOn = *v != kUserIdleOff;
      if (p.userIdleOn) p.userIdle = *v;
    } else if (c.Is(kMinWordlistBattery)) {
      const auto v = ParseNumber(d, kBatteryOff);
      if (!v) return Usage(err, "General.MinWordlistBattery takes 0 to 99 percent, or 100 (off)");
      p.batteryOn = *v <= kBatteryMax;
      if (p.batteryOn) p.battery = *v;
    } else {
      return Usage(err, unknown);
    }
    return save(SaveGeneralPage(env, loaded, p));
  }

  if (c.page == "Search") {
    if (!c.Is(kPartialMatch)) return Usage(err, unknown);
    const auto v = ParseNumber(d, kPartialMatchMax);
    if (!v) return Usage(err, "Search.PartialMatch takes 0 to 100");
    return save(SaveSearchPage(reg, SearchPage{*v}));
  }

  // View
  ViewPage p = LoadViewPage(reg);
  if (c.Is(kPreviewFiles)) {
    if (auto r = flagArg(p.previewFiles, false)) return *r;
  } else if (c.Is(kPreviewFileTypes)) {
    const auto v = ParseNumber(d, kAllPreviewFileTypes);
    if (!v) return Usage(err, "View.PreviewFileTypes takes a bit mask from 0 to 0x3F");
    p.previewFileTypes = *v;
  } else if (c.Is(kPreviewWeb)) {
    if (auto r = flagArg(p.previewWeb, false)) return *r;
  } else if (c.Is(kPreviewEmail)) {
    if (auto r = flagArg(p.previewEmail, false)) return *r;
  } else if (c.Is(kDownloadImages)) {
    if (auto r = flagArg(p.downloadImages, false)) return *r;
  } else {
    return Usage(err, unknown);
  }
  return save(SaveViewPage(reg, p));
}

}  // namespace

int RunQvsettings(std::span<const std::string_view> args, const SettingsEnvironment& env,
                  std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, "name a command: show or set");
  if (args[0] == "--help" || args[0] == "-h") {
    out << kUsage;
    return kSettingsExitOk;
  }
  if (args[0] == "show") {
    if (args.size() > 2) return Usage(err, "show takes at most one PAGE");
    if (args.size() == 2) {
      const auto page = PageName(args[1]);
      if (!page) return Usage(err, "unknown page '" + EscapeControls(args[1]) + "'");
      ShowPage(*page, env, out);
      return kSettingsExitOk;
    }
    for (std::string_view page : kPages) ShowPage(page, env, out);
    return kSettingsExitOk;
  }
  if (args[0] == "set") return RunSet(args.subspan(1), env, out, err);
  return Usage(err, "unknown command '" + EscapeControls(args[0]) + "'");
}

}  // namespace qv::settings
