// A mail body as the mail proxy leaves it in the shared section, with the kind it reports:
// whatever the byte count and the bytes, the conversion reads only the section, in bounded
// depth, and the RTF readers end. The first byte is the kind, the rest the section.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "provider/filters/email_filter.h"
#include "provider/filters/mail_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::filters;
  if (size < 1) return 0;
  const std::uint32_t kind = data[0] % 4;
  const std::span<const std::uint8_t> section(data + 1, size - 1);
  std::string text;
  MailTextFromSection(section, kind, kind == 2 ? "windows-1252" : "", text);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string html;
  RtfToHtml(bytes, html);
  const std::string plain = RtfToText(bytes);
  // Text never grows beyond a few bytes per input byte (a \u escape is the worst).
  if (plain.size() > 4 * size + 16) std::abort();
  WrapTextAsHtml(bytes, "utf-8");
  return 0;
}
