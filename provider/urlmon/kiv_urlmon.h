#pragma once
// KivUrlmon: gives every visited web page a shortcut file (.q6w) that the tracer ranks and
// journals like a document and the indexer indexes: the page's parts (the page and its
// frames) with their copies in the URL cache, its title, zone and URL. A page with the same
// parts always maps to the same file, which is written once.
#include <array>
#include <chrono>
#include <memory>
#include <string_view>

#include "context/context.h"
#include "interfaces/ikiv_urlmon.h"
#include "platform/urlcache/url_cache.h"
#include "platform/urlcache/url_download.h"
#include "provider/urlmon/shortcut_file.h"

namespace qv::urlmon {

inline constexpr std::uint32_t kEventBucketFolderFailed = 0xC0000421;

inline constexpr std::string_view kSafeLocalProtocolsKey =
    "Software\\Quillon\\Vesper\\WebHistory\\SafeLocalProtocols";
inline constexpr std::string_view kDownloadTimeoutValue = "DownloadTimeout";
inline constexpr std::uint32_t kDefaultDownloadTimeoutSeconds = 10;
inline constexpr std::uint32_t kMinDownloadTimeoutSeconds = 1;
inline constexpr std::uint32_t kMaxDownloadTimeoutSeconds = 299;
// Schemes that are never downloaded into the cache, whatever the registry says.
inline constexpr std::array<std::string_view, 10> kNeverDownloaded = {
    "http", "https", "gopher", "ftp", "vbscript", "javascript", "file", "about", "history",
    "quillon"};
// Names tried for one page when other pages' URLs hash to the same value.
inline constexpr std::uint32_t kMaxNameProbes = 8;

// One record of the frame data: five fields, each ended by a line feed.
struct FrameRecord {
  std::string url;
  std::string contentType;
  std::string charset;
  bool robots = false;  // fourth field given
  bool frames = false;  // fifth field given
};
// The complete records of `frameData`; a trailing incomplete record is dropped.
std::vector<FrameRecord> ParseFrameData(std::string_view frameData);

class KivUrlmon final : public IKivUrlmon {
 public:
  explicit KivUrlmon(const Context& ctx,
                     std::shared_ptr<const platform::ProtocolHandlers> handlers =
                         platform::ProtocolHandlers::Default());

  HRESULT CreateShortcut(const std::string* bstrUrl, DATE VerTime, const std::string* bstrTitle,
                         const std::string* bstrFrameData, std::stop_token hShutdown,
                         std::string* bstrFile, std::string* bstrCachedUrl) override;

  // The registry's download limit: DownloadTimeout seconds when 1 to 299, else 10.
  std::chrono::milliseconds DownloadLimit() const;
  // Whether pages of `scheme` (lower case) may be downloaded when missing from the cache.
  bool IsSafeLocalScheme(std::string_view scheme) const;

 private:
  HRESULT CollectPart(platform::UrlCache& cache, const FrameRecord& rec, DATE verTime,
                      const std::stop_token& shutdown, std::vector<PagePart>& parts);
  HRESULT Download(platform::UrlCache& cache, std::string_view url,
                   const std::stop_token& shutdown);
  HRESULT WriteShortcut(const Shortcut& s, std::filesystem::path& file, std::string& historyUrl);

  const Context& ctx_;
  std::shared_ptr<const platform::ProtocolHandlers> handlers_;
};

// Registers KivUrlmon and the history protocol's class in ctx.classes, and the protocol
// handler under HKEY_CLASSES_ROOT\PROTOCOLS\Handler\history.
HRESULT RegisterWebHistoryClasses(Context& ctx);

}  // namespace qv::urlmon
