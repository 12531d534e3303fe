// Reads arbitrary bytes as a page's frame tree from the browser extension and builds the
// frame data from it: whole blocks of five lines, the top URL first, no URL twice, no
// control character but the line ends, and never more than the frames the depth limit allows.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "browser/addon/frame_data.h"
#include "browser/host/host_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::browser;
  const std::string json = R"({"type":"document","tab":1,"frame":)" +
                           std::string(reinterpret_cast<const char*>(data), size) + "}";
  HostMessage message;
  std::string error;
  if (!ParseHostMessage(json, message, error)) return 0;
  const FrameDocument& top = std::get<DocumentMessage>(message).top;
  const std::string text = BuildFrameData(top);
  std::size_t lines = 0;
  std::set<std::string_view> urls;
  std::string_view rest = text;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    if (end == std::string_view::npos) __builtin_trap();  // every line is ended
    const std::string_view line = rest.substr(0, end);
    for (char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
    }
    if (lines % 5 == 0 && (line.empty() || !urls.insert(line).second)) __builtin_trap();
    ++lines;
    rest.remove_prefix(end + 1);
  }
  if (lines % 5 != 0) __builtin_trap();
  if (!text.empty() && text.substr(0, text.find('\n')) != WithoutControls(top.url)) __builtin_trap();
  return 0;
}
