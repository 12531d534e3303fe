// Feeds arbitrary documents to the preview's HTML cleaning: whatever comes in, nothing that
// starts a script element, an event handler or (without the setting) a remote load comes out.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/preview_html.h"
#include "common/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool allowRemote = (data[0] & 1) != 0;
  const std::string_view html(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string out = qv::client::CleanHtml(html, {.allowRemote = allowRemote});
  // Every '<' left in the output opens a tag the cleaning wrote; text keeps none.
  const std::string lower = qv::AsciiLower(out);
  for (auto lt = lower.find('<'); lt != std::string::npos; lt = lower.find('<', lt + 1)) {
    const auto gt = lower.find('>', lt);
    if (gt == std::string::npos) std::abort();
    const std::string_view tag = std::string_view(lower).substr(lt, gt - lt + 1);
    std::size_t n = tag.starts_with("</") ? 2 : 1;
    const std::size_t nameStart = n;
    while (n < tag.size() && tag[n] != ' ' && tag[n] != '>') ++n;
    const std::string_view name = tag.substr(nameStart, n - nameStart);
    if (name == "script" || name == "iframe" || name == "object" || name == "style") std::abort();
    for (auto at = tag.find(" on"); at != std::string_view::npos; at = tag.find(" on", at + 1)) {
      // An attribute name begins right after a blank outside a quoted value.
      const auto before = tag.substr(0, at);
      const auto quotes = std::count(before.begin(), before.end(), '"');
      if (quotes % 2 == 0) std::abort();
    }
    if (!allowRemote && (tag.find(" src=\"http:") != std::string_view::npos ||
                         tag.find(" src=\"https:") != std::string_view::npos ||
                         tag.find(" src=\"//") != std::string_view::npos)) {
      std::abort();
    }
  }
  return 0;
}
