#include "tracer/detection/window_finder.h"

#include "common/utf.h"
#include "tracer/detection/detection_constants.h"

namespace qv::tracer {

using namespace qv::platform;

namespace {

struct Search {
  const Desktop& desktop;
  const TitlePattern& pattern;
  FoundWindow best;

  void Score(DesktopWindow w, const WindowState& s) {
    const int score = ScoreTitle(s.title, pattern);
    if (score > best.score) best = {w, score};
  }

  static bool Candidate(const WindowState& s) { return s.visible && (s.style & WS_POPUP) == 0; }

  // Descendants in z-order, depth first; a window counts only while its ancestors are shown.
  void Descendants(DesktopWindow parent) {
    for (DesktopWindow c : desktop.Children(parent)) {
      WindowState s;
      if (!desktop.GetWindow(c, s) || !s.visible) continue;
      if ((s.style & WS_POPUP) == 0 && (s.style & WS_CAPTION) != 0) Score(c, s);
      Descendants(c);
    }
  }

  // The frame's document windows, if it has an MDI client with an active document.
  bool Mdi(DesktopWindow frame) {
    for (DesktopWindow c : desktop.Children(frame)) {
      WindowState client;
      if (!desktop.GetWindow(c, client) || !EqualsNoCase(client.className, kMdiClientClass)) {
        continue;
      }
      // The active document is the topmost child of the client; without one nothing shows.
      const auto docs = desktop.Children(c);
      for (DesktopWindow d : docs) {
        WindowState s;
        if (d != frame && desktop.GetWindow(d, s) && Candidate(s)) Score(d, s);
      }
      return true;
    }
    return false;
  }
};

}  // namespace

FoundWindow FindWindowForPath(const Desktop& desktop, const TitlePattern& pattern) {
  Search search{desktop, pattern, {}};
  for (DesktopWindow top : desktop.TopLevelWindows()) {
    WindowState s;
    if (!desktop.GetWindow(top, s) || !Search::Candidate(s)) continue;
    if (search.Mdi(top)) continue;
    search.Descendants(top);
    search.Score(top, s);
    if (search.best.score == kScorePathAndExtension) break;
  }
  return search.best;
}

}  // namespace qv::tracer
