#include "client/window_layout.h"

#include <algorithm>
#include <limits>

#include "client/result_columns.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegType;
using platform::RegValue;


void Put32(std::array<std::uint8_t, kPlacementBytes>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
  return v;
}

std::int64_t Overlap(const Rect& a, const Rect& b) {
  const std::int64_t w =
      std::min<std::int64_t>(a.right, b.right) - std::max<std::int64_t>(a.left, b.left);
  const std::int64_t h =
      std::min<std::int64_t>(a.bottom, b.bottom) - std::max<std::int64_t>(a.top, b.top);
  return w > 0 && h > 0 ? w * h : 0;
}

// Squared distance between the rectangles (0 when they touch or overlap).
std::int64_t Distance(const Rect& a, const Rect& b) {
  const std::int64_t dx = std::max<std::int64_t>(
      {0, std::int64_t{b.left} - a.right, std::int64_t{a.left} - b.right});
  const std::int64_t dy = std::max<std::int64_t>(
      {0, std::int64_t{b.top} - a.bottom, std::int64_t{a.top} - b.bottom});
  return dx * dx + dy * dy;
}

// One coordinate range [lo, lo+size) moved into [min, max).
void Fit(std::int64_t& lo, std::int64_t& size, std::int64_t min, std::int64_t max) {
  size = std::min(size, max - min);
  lo = std::clamp(lo, min, max - size);
}

std::optional<std::uint32_t> Dword(const platform::Registry& reg, std::string_view name) {
  RegValue v;
  if (reg.GetValue(Hive::CurrentUser, kViewKey, name, v) != 0 || v.type != RegType::Dword) {
    return std::nullopt;
  }
  return v.dword;
}

}  // namespace

std::array<std::uint8_t, kPlacementBytes> EncodePlacement(const WindowPlacement& p) {
  std::array<std::uint8_t, kPlacementBytes> b{};
  Put32(b, 0, kPlacementBytes);
  Put32(b, 4, p.flags);
  Put32(b, 8, static_cast<std::uint32_t>(p.showCmd));
  Put32(b, 12, static_cast<std::uint32_t>(p.minX));
  Put32(b, 16, static_cast<std::uint32_t>(p.minY));
  Put32(b, 20, static_cast<std::uint32_t>(p.maxX));
  Put32(b, 24, static_cast<std::uint32_t>(p.maxY));
  Put32(b, 28, static_cast<std::uint32_t>(p.normal.left));
  Put32(b, 32, static_cast<std::uint32_t>(p.normal.top));
  Put32(b, 36, static_cast<std::uint32_t>(p.normal.right));
  Put32(b, 40, static_cast<std::uint32_t>(p.normal.bottom));
  return b;
}

std::optional<WindowPlacement> DecodePlacement(std::span<const std::uint8_t> b) {
  if (b.size() != kPlacementBytes) return std::nullopt;
  WindowPlacement p;
  p.flags = Get32(b, 4);
  p.showCmd = static_cast<std::int32_t>(Get32(b, 8));
  p.minX = static_cast<std::int32_t>(Get32(b, 12));
  p.minY = static_cast<std::int32_t>(Get32(b, 16));
  p.maxX = static_cast<std::int32_t>(Get32(b, 20));
  p.maxY = static_cast<std::int32_t>(Get32(b, 24));
  p.normal = {static_cast<std::int32_t>(Get32(b, 28)), static_cast<std::int32_t>(Get32(b, 32)),
              static_cast<std::int32_t>(Get32(b, 36)), static_cast<std::int32_t>(Get32(b, 40))};
  if (p.normal.width() <= 0 || p.normal.height() <= 0) return std::nullopt;
  return p;
}

Rect ClampToScreens(const Rect& r, std::span<const Rect> screens) {
  const Rect* best = nullptr;
  std::int64_t bestOverlap = 0, bestDistance = std::numeric_limits<std::int64_t>::max();
  for (const Rect& s : screens) {
    if (s.width() <= 0 || s.height() <= 0) continue;
    const std::int64_t o = Overlap(r, s);
    const std::int64_t d = Distance(r, s);
    if (o > bestOverlap || (bestOverlap == 0 && o == 0 && d < bestDistance)) {
      best = &s;
      bestOverlap = o;
      bestDistance = d;
    }
  }
  if (!best) return r;
  std::int64_t x = r.left, y = r.top, w = r.width(), h = r.height();
  Fit(x, w, best->left, best->right);
  Fit(y, h, best->top, best->bottom);
  return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
          static_cast<std::int32_t>(x + w), static_cast<std::int32_t>(y + h)};
}

WindowLayout LoadWindowLayout(const platform::Registry& reg, std::span<const Rect> screens) {
  WindowLayout l;
  RegValue v;
  if (reg.GetValue(Hive::CurrentUser, kViewKey, kPositionValue, v) == 0 &&
      v.type == RegType::Binary) {
    if (auto p = DecodePlacement(v.binary)) {
      p->normal = ClampToScreens(p->normal, screens);
      l.placement = *p;
    }
  }
  l.statusBar = Dword(reg, kStatusBarValue) != std::optional<std::uint32_t>(0);
  const auto positive = [](std::optional<std::uint32_t> d) {
    return d && *d > 0 && *d <= 0x7FFFFFFF ? d : std::nullopt;
  };
  l.vertSplit = positive(Dword(reg, kVertSplitValue));
  l.horzSplit = positive(Dword(reg, kHorzSplitValue));
  if (auto d = Dword(reg, kReadingPaneValue); d && *d <= kMaxReadingPaneMode) l.readingPane = d;
  if (auto d = Dword(reg, kSearchSplitValue); d && *d <= 0x7FFFFFFF) l.searchSplit = d;
  return l;
}

std::int32_t SaveWindowLayout(platform::Registry& reg, const WindowLayout& l) {
  const auto put = [&reg](std::string_view name, RegValue v) {
    return reg.SetValue(Hive::CurrentUser, kViewKey, name, v);
  };
  if (l.placement) {
    const auto bytes = EncodePlacement(*l.placement);
    if (auto rc = put(kPositionValue, RegValue::Binary({bytes.begin(), bytes.end()}))) return rc;
  }
  if (auto rc = put(kStatusBarValue, RegValue::Dword(l.statusBar ? 1 : 0))) return rc;
  const std::pair<std::string_view, const std::optional<std::uint32_t>*> dwords[] = {
      {kVertSplitValue, &l.vertSplit},
      {kHorzSplitValue, &l.horzSplit},
      {kReadingPaneValue, &l.readingPane},
      {kSearchSplitValue, &l.searchSplit}};
  for (const auto& [name, value] : dwords) {
    if (!*value) continue;
    if (auto rc = put(name, RegValue::Dword(**value))) return rc;
  }
  return 0;
}

}  // namespace qv::client
