#pragma once
// A message's compressed RTF body turned back into RTF: the 16-byte header (compressed size,
// raw size, kind, checksum) then either the raw text ("MELA") or the LZ-compressed stream
// ("LZFu") with its 4096-byte dictionary primed with the usual RTF prologue. Bytes that begin
// with "{\rtf" are taken as plain RTF already.
#include <cstdint>
#include <span>
#include <string>

#include "common/hresult.h"

namespace qv::mail::addin {

// Bodies decompressed beyond this are refused rather than grown without end.
inline constexpr std::uint32_t kMaxRtfBytes = 64u << 20;

// STG_E_INVALIDHEADER for bytes that are none of the three forms; STG_E_DOCFILECORRUPT for a
// stream that ends early or says more than it holds.
HRESULT DecompressRtf(std::span<const std::uint8_t> bytes, std::string& out);

}  // namespace qv::mail::addin
