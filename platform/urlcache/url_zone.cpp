#include "platform/urlcache/url_zone.h"

#include <array>
#include <string>

#include "platform/urlcache/url.h"

namespace qv::platform {
namespace {

constexpr std::array<std::string_view, 6> kNetworkSchemes = {"http", "https", "ftp",
                                                             "gopher", "ws", "wss"};

bool IsLoopback(std::string_view host) {
  return host == "localhost" || host == "[::1]" || host.starts_with("127.") ||
         host.ends_with(".localhost");
}

}  // namespace

HRESULT MapUrlToZone(std::string_view url, UrlZone& zone) {
  std::string scheme;
  if (const HRESULT hr = GetUrlScheme(url, scheme); Failed(hr)) return hr;
  if (scheme.empty()) return E_INVALIDARG;
  bool network = false;
  for (auto s : kNetworkSchemes) network = network || s == scheme;
  if (!network) {
    zone = UrlZone::LocalMachine;
    return S_OK;
  }
  const std::string host = UrlHost(url);
  if (host.empty()) return E_INVALIDARG;
  zone = IsLoopback(host) || host.find('.') == std::string::npos ? UrlZone::Intranet
                                                                   : UrlZone::Internet;
  return S_OK;
}

}  // namespace qv::platform
