#pragma once
// Where the result list draws a row's activation bar inside its cell: as high as a window's
// sizing frame (never more than the cell), centred vertically or at the top, as wide as the
// row's percentage of the cell, and standing at the cell's right end.
#include <cstdint>

namespace qv::client {

// The sizing-frame height the bar takes, in pixels.
inline constexpr int kBarFrameHeight = 4;
// The bar of a row ranked by this user is this green; others take the palette's shadow.
inline constexpr std::uint8_t kBarRed = 0, kBarGreen = 192, kBarBlue = 0;
// What the bar column measures its width with.
inline constexpr const char* kBarMeasureText = "100 %";

struct CellRect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const CellRect&, const CellRect&) = default;
};

// The bar of `percent` (-1 or less: none, an empty rectangle) in `cell`. Percentages above
// 100 are drawn as 100 so that a bar never leaves its cell.
CellRect BarInCell(const CellRect& cell, int percent, int frameHeight = kBarFrameHeight,
                   bool topAligned = false);

}  // namespace qv::client
