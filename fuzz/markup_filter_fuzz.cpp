// The built-in filters' extraction of text from HTML, XML and plain text of any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/indexing/builtin_filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace ix = qv::platform::indexing;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ix::ExtractHtml(bytes);
  ix::ExtractXml(bytes);
  ix::ExtractPlainText(bytes);
  ix::DecodeEntities(bytes);
  return 0;
}
