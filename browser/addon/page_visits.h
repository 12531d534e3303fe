#pragma once
// How the add-on reports what the browser shows: a page's visit opens uncounted when its
// navigation completes, and is taken over and made to count, with its frame data, when its
// document is complete. A page that is not accepted (https, about:blank) ends the window's
// visit instead; closing the window ends it too.
#include <cstdint>
#include <functional>

#include "browser/addon/frame_data.h"
#include "common/hresult.h"

namespace qv::browser {

// The visit interface as the add-on calls it (KivVisitStart, KivVisitEnd).
struct VisitCalls {
  std::function<HRESULT(std::uint64_t window, const char16_t* item, std::uint32_t flags)> start;
  std::function<HRESULT(std::uint64_t window, const char16_t* item, std::uint32_t flags)> end;
};

class PageVisits {
 public:
  explicit PageVisits(VisitCalls calls) : calls_(std::move(calls)) {}

  // The top-level browser of `window` finished navigating to `url`.
  HRESULT NavigateComplete(std::uint64_t window, std::string_view url);
  // Its document is complete; `top` describes it and its frames.
  HRESULT DocumentComplete(std::uint64_t window, const FrameDocument& top);
  // The browser window (or tab) went away.
  HRESULT Quit(std::uint64_t window);

 private:
  VisitCalls calls_;
};

}  // namespace qv::browser
