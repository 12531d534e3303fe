#pragma once
// URL security zones, as the browser's security manager assigns them: pages of this machine,
// of the local network and of the Internet.
#include <cstdint>
#include <string_view>

#include "common/hresult.h"

namespace qv::platform {

enum class UrlZone : std::int32_t {
  LocalMachine = 0,
  Intranet = 1,
  Trusted = 2,
  Internet = 3,
  Untrusted = 4,
};

// Network schemes (http, https, ftp, gopher, ws, wss) are in the intranet zone when their host
// is a loopback address or a name without a dot, else in the Internet zone; a network URL
// without a host gives E_INVALIDARG. Every other scheme (file, data, about and the local
// protocols of installed programs) names something on this machine. Text without a readable
// scheme gives URL_E_INVALID_SYNTAX, an empty scheme E_INVALIDARG.
HRESULT MapUrlToZone(std::string_view url, UrlZone& zone);

}  // namespace qv::platform
