#pragma once
// Strict standard base64 (RFC 4648 alphabet, '=' padding, no white space).
#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::browser {

// False for anything but canonical padded base64.
bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace qv::browser
