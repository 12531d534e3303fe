#include "mail/QvOutlookAddIn/msg_file_section.h"

#include <algorithm>
#include <cstring>

namespace qv::mail::addin {

HRESULT WriteMsgFileSection(std::span<std::uint8_t> section, std::string_view body,
                            std::uint32_t& written) {
  written = 0;
  if (section.size() <= kMinMsgFileSection) return E_FAIL;
  const std::size_t room = section.size() - 5;
  const std::size_t n = std::min(body.size(), room);
  const auto count = static_cast<std::uint32_t>(n);
  std::memcpy(section.data(), &count, 4);
  if (n > 0) std::memcpy(section.data() + 4, body.data(), n);
  section[4 + n] = 0;
  written = count;
  return S_OK;
}

bool ReadMsgFileSection(std::span<const std::uint8_t> section, std::string_view& body) {
  body = {};
  if (section.size() < 4) return false;
  std::uint32_t count = 0;
  std::memcpy(&count, section.data(), 4);
  const std::size_t n = std::min<std::size_t>(count, section.size() - 4);
  body = std::string_view(reinterpret_cast<const char*>(section.data()) + 4, n);
  return true;
}

}  // namespace qv::mail::addin
