#include "client/result_bar.h"

#include <gtest/gtest.h>

namespace qv::client {
namespace {

TEST(ResultBar, StandsAtTheRightEndCentredAndTruncatesItsWidth) {
  const CellRect cell{10, 20, 99, 17};
  // 99 * 33 / 100 = 32.67: truncated to 32, ending at the cell's right edge.
  EXPECT_EQ(BarInCell(cell, 33), (CellRect{10 + 99 - 32, 20 + (17 - 4) / 2, 32, 4}));
  EXPECT_EQ(BarInCell(cell, 100), (CellRect{10, 26, 99, 4}));
  EXPECT_EQ(BarInCell(cell, 33, 4, true).y, 20);
}

TEST(ResultBar, NoneForNoPercentageAndNeverOutsideItsCell) {
  const CellRect cell{0, 0, 80, 3};
  EXPECT_EQ(BarInCell(cell, -1).width, 0);
  EXPECT_EQ(BarInCell(cell, 0).width, 0);
  // Taller than the cell: as high as the cell. Over 100 %: the whole cell.
  EXPECT_EQ(BarInCell(cell, 250, 6), (CellRect{0, 0, 80, 3}));
  EXPECT_EQ(BarInCell({5, 5, 0, 10}, 50).width, 0);
  // A wide cell does not overflow the arithmetic.
  EXPECT_EQ(BarInCell({0, 0, 30000000, 10}, 80).width, 24000000);
}

}  // namespace
}  // namespace qv::client
