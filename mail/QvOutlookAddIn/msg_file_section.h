#pragma once
// The message-file section as the add-in leaves it for the e-mail filter: a 32-bit byte count
// (this machine's byte order), the body's bytes, one zero byte. A longer body is cut so that
// the three fit in the usable size.
#include <cstdint>
#include <span>
#include <string_view>

#include "common/hresult.h"

namespace qv::mail::addin {

// Sections of this many bytes or fewer cannot hold a body.
inline constexpr std::uint32_t kMinMsgFileSection = 4;

// Writes the body into `section` (its usable part); E_FAIL for a section of 4 bytes or less.
// Returns how many body bytes were written.
HRESULT WriteMsgFileSection(std::span<std::uint8_t> section, std::string_view body,
                            std::uint32_t& written);
// The body a section holds, within the section whatever its count says; false when the
// section cannot hold a count.
bool ReadMsgFileSection(std::span<const std::uint8_t> section, std::string_view& body);

}  // namespace qv::mail::addin
