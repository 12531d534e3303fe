#pragma once
// Downloading a URL into the cache, as the browser's URL moniker does for the protocols it
// knows: a handler per scheme fetches the bytes piece by piece, the pieces go to a new cache
// file, and the finished file is committed as the URL's entry.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "platform/urlcache/url_cache.h"

namespace qv::platform {

inline constexpr HRESULT INET_E_UNKNOWN_PROTOCOL = MakeHr(0x800C000D);
inline constexpr HRESULT INET_E_RESOURCE_NOT_FOUND = MakeHr(0x800C0005);

// Receives each piece of a download; a failure code stops the fetch with that code.
using PieceSink = std::function<HRESULT(std::span<const std::uint8_t>)>;

class ProtocolFetcher {
 public:
  virtual ~ProtocolFetcher() = default;
  // Hands the bytes of `url` to `sink` in pieces and sets `contentType` when the protocol
  // knows it. A fetcher that waits must do so in short slices and hand on at least an empty
  // piece after each, so that the download's caller can stop it.
  virtual HRESULT Fetch(std::string_view url, const PieceSink& sink, std::string& contentType) = 0;
};

// The "data:" scheme (RFC 2397): "data:[type][;charset=x][;base64],payload".
class DataUrlFetcher final : public ProtocolFetcher {
 public:
  HRESULT Fetch(std::string_view url, const PieceSink& sink, std::string& contentType) override;
};

// Fetchers by lower-case scheme. The default set knows "data".
class ProtocolHandlers {
 public:
  static std::shared_ptr<ProtocolHandlers> Default();
  void Register(std::string_view scheme, std::shared_ptr<ProtocolFetcher> fetcher);
  std::shared_ptr<ProtocolFetcher> Find(std::string_view scheme) const;

 private:
  std::map<std::string, std::shared_ptr<ProtocolFetcher>, std::less<>> fetchers_;
};

// Called before the fetch and after every piece; a failure code (E_ABORT) stops the download.
using ProgressCheck = std::function<HRESULT()>;

// Downloads `url` into a new cache file and commits it as the entry of `url` (headers: a
// status line and the Content-Type when known). INET_E_UNKNOWN_PROTOCOL when no handler knows
// the scheme. On failure the partial file is removed and `file` stays empty.
HRESULT DownloadToCacheFile(UrlCache& cache, const ProtocolHandlers& handlers,
                            std::string_view url, const ProgressCheck& progress,
                            std::filesystem::path& file);

}  // namespace qv::platform
