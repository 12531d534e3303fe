// Reads arbitrary text as a "data:" URL, as a page's frames may name one: the decoder must
// refuse or decode without crashing, hand over no more bytes than the URL carries, and give
// a content type whenever it decodes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/urlcache/url_download.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  DataUrlFetcher fetcher;
  for (const std::string& url : {std::string(text), "data:" + std::string(text)}) {
    std::size_t total = 0;
    std::string contentType;
    const qv::HRESULT hr = fetcher.Fetch(
        url,
        [&](std::span<const std::uint8_t> piece) {
          total += piece.size();
          return qv::S_OK;
        },
        contentType);
    if (qv::Succeeded(hr) && (total > url.size() || contentType.empty())) __builtin_trap();
  }
  return 0;
}
