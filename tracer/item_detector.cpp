#include "tracer/item_detector.h"

#include "common/utf.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {

using namespace qv::platform;

std::string PathInTitle(std::string_view title) {
  std::size_t start = std::string_view::npos;
  if (!title.empty() && title.front() == '/') {
    start = 0;
  } else if (const auto p = title.find(" /"); p != std::string_view::npos) {
    start = p + 1;
  }
  if (start == std::string_view::npos) return {};
  std::string_view rest = title.substr(start);
  if (const auto end = rest.find(" - "); end != std::string_view::npos) rest = rest.substr(0, end);
  while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
  if (rest.size() < 2) return {};
  return std::string(rest);
}

void TitlePathDetector::OnWindowEvent(const WinEvent& event, DetectionSink& sink) {
  if (event.childId != CHILDID_SELF) return;
  if (event.event != EVENT_SYSTEM_FOREGROUND && event.event != EVENT_OBJECT_NAMECHANGE &&
      event.event != EVENT_OBJECT_SHOW) {
    return;
  }
  WindowState state;
  if (!desktop_.GetWindow(event.window, state) || state.parent != 0 ||
      (state.style & WS_POPUP) != 0) {
    return;
  }
  std::string path = PathInTitle(state.title);
  if (!path.empty()) sink.ItemDetected(event.window, kKindDocument, 0, std::move(path));
}

namespace {
// Case-insensitive search for ASCII letters.
bool ContainsNoCase(std::string_view hay, std::string_view needle) {
  if (needle.empty() || needle.size() > hay.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    if (EqualsNoCase(hay.substr(i, needle.size()), needle)) return true;
  }
  return false;
}
}  // namespace

int TitlePathDetector::ScoreTitle(std::string_view title, std::string_view path) const {
  const auto slash = path.rfind('/');
  const std::string_view dir = slash == std::string_view::npos ? "" : path.substr(0, slash + 1);
  const std::string_view name = path.substr(dir.size());
  const auto dot = name.rfind('.');
  const std::string_view base = dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
  if (title.empty() || base.empty()) return 0;
  const std::string full = std::string(dir) + std::string(base);
  if (base.size() != name.size() && ContainsNoCase(title, path)) return 4;
  if (ContainsNoCase(title, full)) return 3;
  if (base.size() != name.size() && ContainsNoCase(title, name)) return 2;
  return ContainsNoCase(title, base) ? 1 : 0;
}

}  // namespace qv::tracer
