#include "tracer/session_script.h"

#include <charconv>
#include <cmath>
#include <map>
#include <span>

#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "hooks/QvHooks/visit_client.h"
#include "platform/messaging/message_ids.h"

namespace qv::tracer {

using namespace qv::platform;

namespace {

struct Token {
  std::string key;    // for key=value
  std::string value;  // the word, the quoted text or the value
  bool quoted = false;
};

// Splits a line into words, "quoted text" (with \" \\ \n \t) and key=value pairs.
bool Tokenize(std::string_view line, std::vector<Token>& out, std::string& error) {
  out.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    Token t;
    auto readQuoted = [&](std::string& into) {
      ++i;  // the opening quote
      while (i < line.size() && line[i] != '"') {
        if (line[i] == '\\' && i + 1 < line.size()) {
          const char e = line[++i];
          into.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e);
        } else {
          into.push_back(line[i]);
        }
        ++i;
      }
      if (i >= line.size()) {
        error = "unterminated quoted text";
        return false;
      }
      ++i;  // the closing quote
      t.quoted = true;
      return true;
    };
    if (c == '"') {
      if (!readQuoted(t.value)) return false;
    } else {
      std::string word;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
             line[i] != '=' && line[i] != '"') {
        word.push_back(line[i++]);
      }
      if (i < line.size() && line[i] == '=') {
        ++i;
        t.key = word;
        if (i < line.size() && line[i] == '"') {
          if (!readQuoted(t.value)) return false;
        } else {
          while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            t.value.push_back(line[i++]);
          }
        }
      } else if (i < line.size() && line[i] == '"') {
        error = "a quote inside a word";
        return false;
      } else {
        t.value = word;
      }
    }
    out.push_back(std::move(t));
  }
  return true;
}

bool ParseSeconds(std::string_view s, std::int64_t& ms) {
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v) || v < 0 ||
      v * 1000 > static_cast<double>(kMaxScriptMs)) {
    return false;
  }
  ms = std::llround(v * 1000);
  return true;
}

template <typename T>
bool ParseInt(std::string_view s, T& out) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

bool ParseRect(std::string_view s, Rect& r) {
  std::int32_t v[4];
  for (int k = 0; k < 4; ++k) {
    const auto comma = s.find(',');
    const std::string_view part = k < 3 ? s.substr(0, comma) : s;
    if ((k < 3 && comma == std::string_view::npos) || !ParseInt(part, v[k])) return false;
    if (k < 3) s.remove_prefix(comma + 1);
  }
  r = Rect{v[0], v[1], v[2], v[3]};
  return r.right >= r.left && r.bottom >= r.top;
}

bool ParseFlag(std::string_view s, std::uint32_t& flags) {
  if (s == "track") flags |= hooks::KIV_VF_TRACK;
  else if (s == "notrack") flags |= hooks::KIV_VF_NOTRACK;
  else if (s == "norank") flags |= hooks::KIV_VF_NORANK;
  else if (s == "nojournal") flags |= hooks::KIV_VF_NOJOURNAL;
  else return false;
  return true;
}

const std::map<std::string_view, ScriptCommand>& Commands() {
  static const std::map<std::string_view, ScriptCommand> commands{
      {"window", ScriptCommand::Window},
      {"focus", ScriptCommand::Focus},
      {"close", ScriptCommand::Close},
      {"show", ScriptCommand::Show},
      {"hide", ScriptCommand::Hide},
      {"minimize", ScriptCommand::Minimize},
      {"restore", ScriptCommand::Restore},
      {"title", ScriptCommand::Title},
      {"move", ScriptCommand::Move},
      {"key", ScriptCommand::Key},
      {"click", ScriptCommand::Click},
      {"lock", ScriptCommand::Lock},
      {"unlock", ScriptCommand::Unlock},
      {"screensaver-start", ScriptCommand::ScreenSaverStart},
      {"screensaver-stop", ScriptCommand::ScreenSaverStop},
      {"suspend", ScriptCommand::Suspend},
      {"resume", ScriptCommand::Resume},
      {"visit-start", ScriptCommand::VisitStart},
      {"visit-update", ScriptCommand::VisitUpdate},
      {"visit-end", ScriptCommand::VisitEnd},
      {"end-mail-visits", ScriptCommand::EndMailVisits},
      {"shutdown", ScriptCommand::Shutdown},
  };
  return commands;
}

// Reads the arguments after the command into the step; false with `error` set.
bool ParseArgs(std::span<const Token> args, ScriptStep& step, std::string& error) {
  auto wantWindow = [&]() {
    if (args.empty() || !args[0].key.empty() || !ParseInt(args[0].value, step.window.id) ||
        step.window.id == 0) {
      error = "expected a window number above 0";
      return false;
    }
    args = args.subspan(1);
    return true;
  };
  auto noMore = [&]() {
    if (!args.empty()) error = "unexpected '" + args[0].value + "'";
    return args.empty();
  };
  switch (step.command) {
    case ScriptCommand::Window:
      if (!wantWindow()) return false;
      step.window.className = "Window";
      step.window.rect = Rect{0, 0, 1920, 1080};
      step.window.threadId = static_cast<std::uint32_t>(step.window.id);
      for (const Token& t : args) {
        if (t.key == "title") {
          step.window.title = t.value;
        } else if (t.key == "class" && !t.value.empty()) {
          step.window.className = t.value;
        } else if (t.key == "rect" && ParseRect(t.value, step.window.rect)) {
        } else if (t.key == "thread" && ParseInt(t.value, step.window.threadId)) {
        } else if (t.key == "parent" && ParseInt(t.value, step.window.parent)) {
        } else if (t.key.empty() && !t.quoted && t.value == "hidden") {
          step.window.visible = false;
        } else if (t.key.empty() && !t.quoted && t.value == "popup") {
          step.window.style |= WS_POPUP;
        } else {
          error = "bad window option '" + (t.key.empty() ? t.value : t.key) + "'";
          return false;
        }
      }
      return true;
    case ScriptCommand::Focus:
    case ScriptCommand::Close:
    case ScriptCommand::Show:
    case ScriptCommand::Hide:
    case ScriptCommand::Minimize:
    case ScriptCommand::Restore:
    case ScriptCommand::Click:
      return wantWindow() && noMore();
    case ScriptCommand::Title:
      if (!wantWindow()) return false;
      if (args.size() != 1 || !args[0].key.empty()) {
        error = "expected one title";
        return false;
      }
      step.text = args[0].value;
      return true;
    case ScriptCommand::Move:
      if (!wantWindow()) return false;
      if (args.size() != 1 || !ParseRect(args[0].value, step.rect)) {
        error = "expected a rectangle L,T,R,B";
        return false;
      }
      return true;
    case ScriptCommand::Key:
      if (!wantWindow()) return false;
      if (!args.empty()) {
        if (!ParseInt(args[0].value, step.count) || step.count == 0 || step.count > kMaxKeyCount) {
          error = "bad key count";
          return false;
        }
        args = args.subspan(1);
      }
      if (!args.empty()) {
        if (!ParseSeconds(args[0].value, step.intervalMs) ||
            step.intervalMs * static_cast<std::int64_t>(step.count) > kMaxScriptMs) {
          error = "bad key interval";
          return false;
        }
        args = args.subspan(1);
      }
      return noMore();
    case ScriptCommand::VisitStart:
    case ScriptCommand::VisitUpdate:
    case ScriptCommand::VisitEnd: {
      if (!wantWindow()) return false;
      bool haveItem = false;
      for (const Token& t : args) {
        if (t.quoted && !haveItem) {
          step.text = t.value;
          haveItem = true;
        } else if (t.quoted || !t.key.empty() || !ParseFlag(t.value, step.flags)) {
          error = "bad visit argument '" + t.value + "'";
          return false;
        }
      }
      if (step.command == ScriptCommand::VisitStart && !haveItem) {
        error = "visit-start needs a quoted item";
        return false;
      }
      return true;
    }
    case ScriptCommand::Shutdown:
      if (!args.empty() && args[0].key.empty() && args[0].value == "discard") {
        step.discard = true;
        args = args.subspan(1);
      }
      return noMore();
    default:
      return noMore();
  }
}

}  // namespace

HRESULT ParseSessionScript(std::string_view text, SessionScript& out, std::string& error) {
  out = SessionScript{};
  error.clear();
  int lineNo = 0;
  std::int64_t last = 0;
  std::vector<Token> tokens;
  while (!text.empty()) {
    ++lineNo;
    const auto nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(lineNo) + ": " + what;
      out = SessionScript{};
      return E_INVALIDARG;
    };
    std::string why;
    if (!Tokenize(line, tokens, why)) return fail(why);
    if (tokens.empty()) continue;
    if (tokens[0].value == "start" && !tokens[0].quoted && tokens[0].key.empty()) {
      if (!out.steps.empty() || out.start || tokens.size() != 2) {
        return fail("'start ISO-TIME' comes once, before the first step");
      }
      const auto date = ParseIsoDate(tokens[1].value);
      const auto ft = date ? DateToFileTime(*date) : std::nullopt;
      if (!ft) return fail("bad start time '" + tokens[1].value + "'");
      out.start = *ft;
      continue;
    }
    if (tokens.size() < 3 || tokens[0].value != "at" || tokens[0].quoted || !tokens[0].key.empty()) {
      return fail("expected 'at SECONDS COMMAND ...'");
    }
    ScriptStep step;
    step.line = lineNo;
    if (!ParseSeconds(tokens[1].value, step.atMs)) return fail("bad time '" + tokens[1].value + "'");
    if (step.atMs < last) return fail("time goes backwards");
    last = step.atMs;
    const auto cmd = Commands().find(tokens[2].value);
    if (cmd == Commands().end() || tokens[2].quoted || !tokens[2].key.empty()) {
      return fail("unknown command '" + tokens[2].value + "'");
    }
    step.command = cmd->second;
    if (!ParseArgs(std::span<const Token>(tokens).subspan(3), step, why)) return fail(why);
    if (out.steps.size() >= kMaxScriptSteps) return fail("too many steps");
    out.steps.push_back(std::move(step));
  }
  return S_OK;
}

std::vector<std::string> PlaySessionScript(
    const SessionScript& script, ScriptTargets t, const std::function<void(std::int64_t)>& moveTo,
    const std::function<void(const std::function<void()>&)>& perform) {
  std::vector<std::string> failures;
  auto note = [&](const ScriptStep& s, const char* what, HRESULT hr) {
    if (Failed(hr)) failures.push_back("line " + std::to_string(s.line) + ": " + what + ": " +
                                       FormatHresult(hr));
  };
  hooks::VisitClient client(&t.station, [&t](std::uint64_t w) { return t.desktop.IsWindow(w); });
  constexpr std::uint32_t kKey = 0x41;  // 'A'
  for (const ScriptStep& s : script.steps) {
    const DesktopWindow w = s.window.id;
    if (s.command == ScriptCommand::Key) {
      for (std::uint32_t i = 0; i < s.count; ++i) {
        moveTo(s.atMs + static_cast<std::int64_t>(i) * s.intervalMs);
        perform([&] {
          t.input.KeyDown(kKey, w);
          t.input.KeyUp(kKey, w);
        });
      }
      continue;
    }
    moveTo(s.atMs);
    perform([&] {
      const std::u16string item = Utf8ToUtf16(s.text);
      const char16_t* itemOrNull = s.text.empty() ? nullptr : item.c_str();
      switch (s.command) {
        case ScriptCommand::Window: {
          if (t.desktop.CreateWindow(s.window) == 0) note(s, "window", E_INVALIDARG);
          break;
        }
        case ScriptCommand::Focus: t.desktop.SetForeground(w); break;
        case ScriptCommand::Close: t.desktop.DestroyWindow(w); break;
        case ScriptCommand::Show: t.desktop.Show(w, true); break;
        case ScriptCommand::Hide: t.desktop.Show(w, false); break;
        case ScriptCommand::Minimize: t.desktop.Minimize(w, true); break;
        case ScriptCommand::Restore: t.desktop.Minimize(w, false); break;
        case ScriptCommand::Title: t.desktop.SetTitle(w, s.text); break;
        case ScriptCommand::Move: t.desktop.SetRect(w, s.rect); break;
        case ScriptCommand::Click:
          t.input.Mouse(WM_LBUTTONDOWN, w);
          t.input.Mouse(WM_LBUTTONUP, w);
          break;
        case ScriptCommand::Lock: t.session.Raise(SessionEvent::Lock); break;
        case ScriptCommand::Unlock: t.session.Raise(SessionEvent::Unlock); break;
        case ScriptCommand::ScreenSaverStart: t.session.Raise(SessionEvent::ScreenSaverStart); break;
        case ScriptCommand::ScreenSaverStop: t.session.Raise(SessionEvent::ScreenSaverStop); break;
        case ScriptCommand::Suspend: t.session.Raise(SessionEvent::Suspend); break;
        case ScriptCommand::Resume: t.session.Raise(SessionEvent::Resume); break;
        case ScriptCommand::VisitStart: note(s, "visit-start", client.Start(w, item.c_str(), s.flags)); break;
        case ScriptCommand::VisitUpdate: note(s, "visit-update", client.Update(w, itemOrNull, s.flags)); break;
        case ScriptCommand::VisitEnd: note(s, "visit-end", client.End(w, itemOrNull, s.flags)); break;
        case ScriptCommand::EndMailVisits: {
          const Hwnd events = t.station.FindMessageWindow(hooks::kTracerEventWindowClass);
          note(s, "end-mail-visits",
               events == 0 ? S_FALSE
                           : t.station.SendMessageTimeout(events, hooks::KIVM_END_MAIL_VISITS, 0, 0,
                                                          SMTO_ABORTIFHUNG,
                                                          std::chrono::milliseconds(5000)));
          break;
        }
        case ScriptCommand::Shutdown: {
          const Hwnd main = t.station.FindWindow(hooks::kTracerWindowClass);
          note(s, "shutdown",
               main == 0 ? HresultFromWin32(ERROR_INVALID_WINDOW_HANDLE)
                         : t.station.PostMessage(main, hooks::KIVM_SHUTDOWN, s.discard ? 1 : 0, 0));
          break;
        }
        case ScriptCommand::Key: break;
      }
    });
  }
  return failures;
}

}  // namespace qv::tracer
