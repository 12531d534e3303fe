#include "provider/journal/crc32c.h"

#include <gtest/gtest.h>

#include <string_view>

namespace qv::journal {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc32c, MatchesTheStandardCheckValues) {
  EXPECT_EQ(Crc32c(Bytes("123456789")), 0xE3069283u);
  EXPECT_EQ(Crc32c(Bytes("")), 0u);
  // 32 zero bytes, a published test vector of the Castagnoli CRC (RFC 3720, B.4).
  const std::uint8_t zeros[32] = {};
  EXPECT_EQ(Crc32c(zeros), 0x8A9136AAu);
}

TEST(Crc32c, ContinuesAcrossPieces) {
  const std::string_view text = "journal day file record";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    EXPECT_EQ(Crc32c(Bytes(text.substr(cut)), Crc32c(Bytes(text.substr(0, cut)))),
              Crc32c(Bytes(text)))
        << "cut at " << cut;
  }
}

}  // namespace
}  // namespace qv::journal
