// The message-file section: whatever count a section claims, the reader stays inside it; a
// body written into a section of any size comes back as its own first bytes, followed by the
// zero, never past the section. Compressed RTF bodies of any shape end in bounded output.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mail/QvOutlookAddIn/compressed_rtf.h"
#include "mail/QvOutlookAddIn/msg_file_section.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::mail::addin;
  std::string_view body;
  if (ReadMsgFileSection(std::span(data, size), body) != (size >= 4)) std::abort();
  if (body.size() + 4 > size && size >= 4) std::abort();

  if (size >= 1) {
    // The first byte sizes the section; the rest is the body.
    std::vector<std::uint8_t> section(data[0] + 1u, 0xEE);
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::uint32_t written = 0;
    const qv::HRESULT hr = WriteMsgFileSection(section, input, written);
    if (section.size() <= kMinMsgFileSection) {
      if (hr != qv::E_FAIL) std::abort();
    } else {
      if (qv::Failed(hr) || written + 5 > section.size()) std::abort();
      std::string_view back;
      if (!ReadMsgFileSection(section, back) || back != input.substr(0, written)) std::abort();
      if (section[4 + written] != 0) std::abort();
    }
  }

  std::string rtf;
  if (qv::Succeeded(DecompressRtf(std::span(data, size), rtf)) && rtf.size() > kMaxRtfBytes) {
    std::abort();
  }
  return 0;
}
