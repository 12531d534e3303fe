// Reads arbitrary bytes as the URL cache's index files (an entry, the groups), as a version
// index, and as a downloaded copy for the content sniffers. Index files are written in one
// canonical way, so what parses must serialize to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/urlcache/mime_sniff.h"
#include "platform/urlcache/url_cache_format.h"
#include "provider/urlmon/private_urls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::platform;
  const std::span<const std::uint8_t> bytes(data, size);
  const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());

  urlcache_format::StoredEntry entry;
  if (urlcache_format::ParseEntry(bytes, entry) && urlcache_format::SerializeEntry(entry) != copy) {
    std::abort();
  }
  urlcache_format::StoredGroups groups;
  if (urlcache_format::ParseGroups(bytes, groups) &&
      urlcache_format::SerializeGroups(groups) != copy) {
    std::abort();
  }
  const auto records = qv::urlmon::ParseVersionIndex(bytes);
  if (qv::urlmon::SerializeVersionIndex(records).size() != size / 16 * 16) std::abort();

  (void)FindMimeFromData(bytes);
  (void)FindHtmlCharset(bytes);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)ParseContentType(HeaderValue(text, "Content-Type"));
  return 0;
}
