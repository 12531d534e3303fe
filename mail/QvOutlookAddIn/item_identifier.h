#pragma once
// A mail item's visit identifier: "outlook:" and its entry id in upper-case hexadecimal. An
// item without an entry id (new, not saved yet) is "outlook:" alone and its visit does not
// count; one with an entry id counts.
#include <cstdint>
#include <span>
#include <string>

namespace qv::mail::addin {

std::string ItemIdentifier(std::span<const std::uint8_t> entryId);
// KIV_VF_TRACK with an entry id, KIV_VF_NOTRACK without.
std::uint32_t VisitFlagsFor(std::span<const std::uint8_t> entryId);

}  // namespace qv::mail::addin
