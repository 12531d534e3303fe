// Parses arbitrary text as a "history:" URL; what parses must format to a URL that parses
// to the same bucket, hash, frame URL and fragment. The same text also goes through the URL
// helpers the protocol uses (scheme, zone, resolution against a base).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/urlcache/url.h"
#include "platform/urlcache/url_zone.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/private_urls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::urlmon;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  HistoryUrl first;
  if (qv::Succeeded(ParseHistoryUrl(text, first))) {
    HistoryUrl second;
    if (qv::Failed(ParseHistoryUrl(FormatHistoryUrl(first), second))) std::abort();
    if (second.name != first.name || second.partUrl != first.partUrl ||
        second.fragment != first.fragment) {
      std::abort();
    }
  }
  (void)UnwrapPrivateUrl(text);

  // Split the input into a base and a reference at the first newline.
  const auto nl = text.find('\n');
  const std::string_view base = text.substr(0, nl);
  const std::string_view ref = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
  std::string out;
  if (qv::Succeeded(qv::platform::CombineUrl(base, ref, out))) {
    std::string again;
    (void)qv::platform::CombineUrl(out, "", again);
  }
  qv::platform::UrlZone zone{};
  (void)qv::platform::MapUrlToZone(base, zone);
  std::filesystem::path path;
  (void)qv::platform::FileUrlToPath(base, path);
  return 0;
}
