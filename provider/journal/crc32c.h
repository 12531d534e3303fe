#pragma once
// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), the checksum of the journal's
// day-file records. Table-driven (eight bytes per step), so it runs the same everywhere.
#include <cstdint>
#include <span>

namespace qv::journal {

// Continues a running CRC: Crc32c(b, Crc32c(a)) equals the CRC of a followed by b.
std::uint32_t Crc32c(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

}  // namespace qv::journal
