// The query text and the full-text text inside it: any bytes must give a result or a clean
// error, never a crash or a read past the input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/indexing/query_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace ix = qv::platform::indexing;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ix::ParsedQuery q;
  std::string error;
  ix::ParseQueryText(text, q, error);
  std::unique_ptr<ix::ContentNode> node;
  ix::ParseContentText(text, false, node, error);
  ix::ParseContentText(text, true, node, error);
  return 0;
}
