#include "mail/QvOutlookAddIn/item_identifier.h"

#include "hooks/QvHooks/tracer_messages.h"
#include "mail/otl_ranking.h"

namespace qv::mail::addin {

std::string ItemIdentifier(std::span<const std::uint8_t> entryId) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out(kMailItemPrefix);
  out.reserve(out.size() + entryId.size() * 2);
  for (const std::uint8_t b : entryId) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
  return out;
}

std::uint32_t VisitFlagsFor(std::span<const std::uint8_t> entryId) {
  return entryId.empty() ? hooks::KIV_VF_NOTRACK : hooks::KIV_VF_TRACK;
}

}  // namespace qv::mail::addin
