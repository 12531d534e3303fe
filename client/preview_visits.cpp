#include "client/preview_visits.h"

#include "common/utf.h"
#include "hooks/QvHooks/visit_client.h"

namespace qv::client {
namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view WithoutTrailingSlash(std::string_view s) {
  if (!s.empty() && s.back() == '/') s.remove_suffix(1);
  return s;
}

}  // namespace

HRESULT HooksVisitReporter::Start(std::uint64_t window, std::string_view item,
                                  std::uint32_t flags) {
  const std::u16string wide = Utf8ToUtf16(item);
  return client_.Start(window, wide.c_str(), flags);
}

HRESULT HooksVisitReporter::End(std::uint64_t window, std::uint32_t flags) {
  return client_.End(window, nullptr, flags);
}

bool IsUnreportedPage(std::string_view url) {
  return url.empty() || url.front() == ':' || StartsWithNoCase(url, "https") ||
         StartsWithNoCase(url, "about:blank");
}

bool IsSamePage(std::string_view a, std::string_view b) {
  return EqualsNoCase(a, b) || WithoutTrailingSlash(a) == WithoutTrailingSlash(b);
}

HRESULT PreviewVisits::Start(std::string_view item, std::uint32_t flags) {
  const HRESULT hr = reporter_.Start(viewer_, item, flags);
  // Without a tracer (S_FALSE) there is nothing to end later either.
  open_ = hr == S_OK;
  return Failed(hr) ? hr : S_OK;
}

HRESULT PreviewVisits::ItemShown(std::string_view item) {
  if (open_) Cleared();
  item_ = std::string(item);
  if (IsUnreportedPage(item)) return S_FALSE;
  return Start(item, kPreviewShownFlags);
}

HRESULT PreviewVisits::Navigated(std::string_view url) {
  if (IsUnreportedPage(url)) return S_FALSE;
  if (!item_.empty() && IsSamePage(url, item_)) return Start(item_, kPreviewShownFlags);
  return Start(url, kPreviewLinkFlags);
}

HRESULT PreviewVisits::Cleared() {
  item_.clear();
  if (!open_) return S_FALSE;
  open_ = false;
  const HRESULT hr = reporter_.End(viewer_, kPreviewClearedFlags);
  return Failed(hr) ? hr : S_OK;
}

}  // namespace qv::client
