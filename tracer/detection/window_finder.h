#pragma once
// Which window shows a path: the best-scoring title among the visible, non-pop-up windows.
#include "platform/desktop/desktop.h"
#include "tracer/detection/title_match.h"

namespace qv::tracer {

struct FoundWindow {
  platform::DesktopWindow window = 0;  // 0: no title names the path
  int score = 0;
};

// Top-level windows are examined in z-order (topmost first). A frame with an "MDIClient"
// child is judged by the document windows inside it; any other window by its framed
// descendants, then by its own title. On a tie the window found first keeps the place.
FoundWindow FindWindowForPath(const platform::Desktop& desktop, const TitlePattern& pattern);

}  // namespace qv::tracer
