#pragma once
// Finding the cached copy of a page part for the moment of a visit, and archiving live HTML
// copies under a content-addressed private URL so that later visits cannot overwrite them.
#include <string_view>

#include "context/context.h"
#include "common/oledate.h"
#include "platform/urlcache/url_cache.h"

namespace qv::urlmon {

inline constexpr std::uint32_t kEventArchiveFailed = 0xC0000422;
inline constexpr std::uint32_t kEventArchiveDeleteFailed = 0xC0000423;
// Archived copies are read in blocks of this size.
inline constexpr std::size_t kArchiveBlock = 32767;
// A version index larger than this is damaged (65,536 versions of one page).
inline constexpr std::size_t kMaxVersionIndex = 1 << 20;

// The cache entry that shows part URL `u` (without fragment) as it was at `verTime`:
// the browser add-on's archived version captured last before the visit, unless the live
// entry was synchronised after that capture and before the visit; the live entry when there
// is no archived version. HRESULT of Win32 error 2 when neither exists; E_INVALIDARG for a
// URL under the private prefix.
HRESULT LookupPartEntry(const platform::UrlCache& cache, std::string_view u, DATE verTime,
                        platform::CacheEntry& out);

// Copies the live entry of page `u` to its content-addressed private URL (once per content)
// in the archive cache group, and returns that entry. S_FALSE for an empty copy. Failures
// write warning event 0xC0000422 (0xC0000423 when a half-made copy cannot be deleted).
HRESULT ArchiveLiveEntry(const Context& ctx, platform::UrlCache& cache, std::string_view u,
                         const platform::CacheEntry& live, platform::CacheEntry& out);

}  // namespace qv::urlmon
