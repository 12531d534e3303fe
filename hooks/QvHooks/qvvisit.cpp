// qvvisit: reports a visit to the tracer the way other components do, through the exports
// of libQvHooks.so. For scripts and the demo.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "common/utf.h"
#include "hooks/QvHooks/qv_hooks.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "platform/fs/private_files.h"

namespace {

constexpr const char* kUsage =
    "usage: qvvisit start  --window ID [--flags N] ITEM\n"
    "       qvvisit update --window ID [--flags N] [ITEM]\n"
    "       qvvisit end    --window ID [--flags N] [ITEM]\n"
    "       qvvisit running\n"
    "\n"
    "Tells the activity tracer that a visit to ITEM (a URL or path; a line feed may follow\n"
    "with frame data) in window ID begins, changes or ends. ID is the desktop window id\n"
    "(decimal or 0x hex). N holds the visit flags: 1 track, 2 do not track, 0x10 no ranking,\n"
    "0x20 no journal entry; start defaults to 1, update and end to 0.\n"
    "\n"
    "Exit codes: 0 delivered (running: a tracer runs), 1 no tracer is running, 2 bad\n"
    "arguments, 3 the tracer did not answer in time, 4 any other failure.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "qvvisit: %s\n\n%s", problem, kUsage);
  return 2;
}

bool ParseNumber(const char* text, std::uint64_t& out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoull(text, &end, 0);
  return errno == 0 && end != nullptr && *end == '\0' && text[0] != '-';
}

int Report(qv::HRESULT hr) {
  if (hr == qv::S_OK) {
    std::puts("delivered");
    return 0;
  }
  if (hr == qv::S_FALSE) {
    std::fprintf(stderr, "qvvisit: no tracer is running; start QvTracer (or the demo) first\n");
    return 1;
  }
  if (hr == qv::E_INVALIDARG) {
    std::fprintf(stderr, "qvvisit: the tracer refuses these arguments (%s): check the window "
                         "id and that the item is at most %zu characters\n",
                 qv::FormatHresult(hr).c_str(), qv::hooks::kMaxVisitItemChars);
    return 2;
  }
  if (hr == qv::HresultFromWin32(qv::win32::ERROR_TIMEOUT)) {
    std::fprintf(stderr, "qvvisit: the tracer did not answer within %u ms (%s); it may be "
                         "hung: check it with the runtime manager\n",
                 qv::hooks::kVisitSendTimeoutMs, qv::FormatHresult(hr).c_str());
    return 3;
  }
  std::fprintf(stderr, "qvvisit: failed with %s %s\n", qv::FormatHresult(hr).c_str(),
               qv::SystemMessage(hr).c_str());
  return 4;
}

}  // namespace

int main(int argc, char** argv) {
  qv::platform::RestrictUmask();  // everything this program writes is the user's alone
  if (argc < 2) return Usage("say what to do: start, update, end or running");
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "running") {
    if (argc != 2) return Usage("running takes no arguments");
    const qv::HRESULT hr = KivIsRunning();
    std::puts(hr == qv::S_OK ? "running" : "not running");
    return hr == qv::S_OK ? 0 : 1;
  }
  if (command != "start" && command != "update" && command != "end") {
    return Usage("unknown command; use start, update, end or running");
  }
  std::uint64_t window = 0, flags = command == "start" ? qv::hooks::KIV_VF_TRACK : 0;
  bool haveWindow = false;
  const char* item = nullptr;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--window" || arg == "--flags") {
      if (i + 1 >= argc) return Usage("an option lacks its value");
      std::uint64_t value = 0;
      if (!ParseNumber(argv[++i], value)) return Usage("option values are numbers");
      if (arg == "--window") {
        window = value;
        haveWindow = true;
      } else {
        if (value > 0xFFFF) return Usage("flags take 16 bits");
        flags = value;
      }
    } else if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (item == nullptr && !arg.starts_with("--")) {
      item = argv[i];
    } else {
      return Usage("unexpected argument");
    }
  }
  if (!haveWindow) return Usage("give the visit's window with --window ID");
  if (command == "start" && item == nullptr) return Usage("start needs the item");

  std::u16string text;
  if (item != nullptr) {
    bool ok = true;
    text = qv::Utf8ToUtf16(item, &ok);
    if (!ok) return Usage("the item is not valid UTF-8");
  }
  const char16_t* p = item != nullptr ? text.c_str() : nullptr;
  const auto f = static_cast<std::uint32_t>(flags);
  if (command == "start") return Report(KivVisitStart(window, p, f));
  if (command == "update") return Report(KivVisitUpdate(window, p, f));
  return Report(KivVisitEnd(window, p, f));
}
