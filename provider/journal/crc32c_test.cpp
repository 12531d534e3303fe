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
  std::uint8_t bytes[32] = {};
  EXPECT_EQ(Crc32c(bytes), 0x8A9136AAu);
  for (std::uint8_t& b : bytes) b = 0xFF;
  EXPECT_EQ(Crc32c(bytes), 0x62A8AB43u);
  for (std::size_t i = 0; i < 32; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Crc32c(bytes), 0x46DD794Eu);
}

TEST(Crc32c, ContinuesAcrossPieces) {
  // Long enough for the eight-byte steps and every length of remainder.
  const std::string_view text = "journal day file record, checked eight bytes at a time";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    EXPECT_EQ(Crc32c(Bytes(text.substr(cut)), Crc32c(Bytes(text.substr(0, cut)))),
              Crc32c(Bytes(text)))
        << "cut at " << cut;
  }
}

}  // namespace
}  // namespace qv::journal
