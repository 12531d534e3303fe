#include "client/result_bar.h"

#include <algorithm>

namespace qv::client {

CellRect BarInCell(const CellRect& cell, int percent, int frameHeight, bool topAligned) {
  if (percent < 0 || cell.width <= 0 || cell.height <= 0) {
    return {cell.x + std::max(cell.width, 0), cell.y, 0, 0};
  }
  const int pct = std::min(percent, 100);
  const int height = std::clamp(frameHeight, 0, cell.height);
  // Integer arithmetic truncates, as the list has always drawn it; 64 bits keep wide cells exact.
  const int width = static_cast<int>(static_cast<long long>(cell.width) * pct / 100);
  CellRect bar;
  bar.width = width;
  bar.height = height;
  bar.x = cell.x + cell.width - width;
  bar.y = topAligned ? cell.y : cell.y + (cell.height - height) / 2;
  return bar;
}

}  // namespace qv::client
