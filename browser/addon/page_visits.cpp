#include "browser/addon/page_visits.h"

#include "browser/addon/accepted_url.h"
#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"

namespace qv::browser {

HRESULT PageVisits::NavigateComplete(std::uint64_t window, std::string_view url) {
  const std::string clean = WithoutControls(url);
  if (!IsAcceptedUrl(clean)) return calls_.end(window, nullptr, 0);
  const std::u16string item = Utf8ToUtf16(clean);
  return calls_.start(window, item.c_str(), hooks::KIV_VF_NOTRACK);
}

HRESULT PageVisits::DocumentComplete(std::uint64_t window, const FrameDocument& top) {
  if (!IsAcceptedUrl(WithoutControls(top.url))) return S_FALSE;
  // A UTF-8 byte never stands for less than one UTF-16 unit, so the bytes bound the units.
  const std::u16string item = Utf8ToUtf16(BuildFrameData(top, hooks::kMaxVisitItemChars));
  return calls_.start(window, item.c_str(), hooks::KIV_VF_TRACK);
}

HRESULT PageVisits::Quit(std::uint64_t window) { return calls_.end(window, nullptr, 0); }

}  // namespace qv::browser
