#include "mail/QvOutlookAddIn/client_windows.h"

#include "mail/QvOutlookAddIn/addin_constants.h"

namespace qv::mail::addin {

using platform::Desktop;
using platform::DesktopWindow;
using platform::WindowState;

namespace {

bool Matches(const Desktop& desktop, DesktopWindow w, const platform::mail::ClientWindowInfo& info) {
  WindowState s;
  if (w == 0 || !desktop.GetWindow(w, s)) return false;
  return s.title == info.caption && s.rect.left == info.left && s.rect.top == info.top &&
         s.rect.Width() == info.width && s.rect.Height() == info.height;
}

// The topmost visible top-level window that holds the point.
DesktopWindow WindowAt(const Desktop& desktop, std::int32_t x, std::int32_t y) {
  for (const DesktopWindow w : desktop.TopLevelWindows()) {
    WindowState s;
    if (!desktop.GetWindow(w, s) || !s.visible || s.minimized) continue;
    if (x >= s.rect.left && x < s.rect.right && y >= s.rect.top && y < s.rect.bottom) return w;
  }
  return 0;
}

// A browser or rich-edit view anywhere below `w`; the depth bound keeps a cyclic or hostile
// window tree from running away.
bool HoldsView(const Desktop& desktop, DesktopWindow w, int depth) {
  if (depth > 32) return false;
  for (const DesktopWindow child : desktop.Children(w)) {
    WindowState s;
    if (!desktop.GetWindow(child, s)) continue;
    if (s.className == kBrowserViewClass || s.className.starts_with(kRichEditClassPrefix)) {
      return true;
    }
    if (HoldsView(desktop, child, depth + 1)) return true;
  }
  return false;
}

}  // namespace

HRESULT FindClientWindow(const Desktop& desktop, const platform::mail::ClientWindowInfo& info,
                         ClientWindowKind kind, DesktopWindow& out) {
  out = 0;
  if (kind == ClientWindowKind::Inspector) {
    if (const DesktopWindow fg = desktop.Foreground(); Matches(desktop, fg, info)) {
      out = fg;
      return S_OK;
    }
    if (const DesktopWindow at = WindowAt(desktop, info.left + 1, info.top + 1);
        Matches(desktop, at, info)) {
      out = at;
      return S_OK;
    }
  }
  for (const DesktopWindow w : desktop.TopLevelWindows()) {
    if (Matches(desktop, w, info)) {
      out = w;
      return S_OK;
    }
  }
  return HresultFromWin32(win32::ERROR_NOT_FOUND);
}

DesktopWindow FindReadingPane(const Desktop& desktop, DesktopWindow explorer) {
  if (explorer == 0) return 0;
  for (const DesktopWindow child : desktop.Children(explorer)) {
    WindowState s;
    if (!desktop.GetWindow(child, s)) continue;
    if (!s.visible || (s.style & platform::WS_POPUP) != 0 || s.className != kDialogClass) continue;
    if (HoldsView(desktop, child, 0) || desktop.Children(child).size() >= kPaneMinChildren) {
      return child;
    }
  }
  return 0;
}

}  // namespace qv::mail::addin
