// The runtime manager's outside inputs. Any bytes: no crash; a version accepted starts with
// digits and a dot; a cache folder read back is never longer than the file may hold; a
// tooltip is at most 127 characters and a prefix of the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/utf.h"
#include "manager/runtime/browser_version.h"
#include "manager/runtime/cache_folder.h"
#include "manager/runtime/manager_config.h"
#include "manager/runtime/tray_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace m = qv::manager;
  const std::string_view all(reinterpret_cast<const char*>(data), size);

  if (m::CheckBrowserVersion(all) == qv::S_OK) {
    if (all.size() < 3 || all[0] < '0' || all[0] > '9' || all.find('.') == std::string_view::npos) {
      std::abort();
    }
  }
  const std::string folder = m::DecodeCacheFolder(all);
  if (qv::Utf8ToUtf16(folder).size() * 2 > m::kMaxCacheFolderBytes) std::abort();

  const m::TrayText text = m::SplitMessage(all);
  if (all.substr(0, text.tooltip.size()) != text.tooltip) std::abort();
  std::size_t chars = 0;
  for (unsigned char c : text.tooltip) chars += (c & 0xC0) != 0x80;
  if (chars > m::kMaxTooltipChars) std::abort();
  return 0;
}
