// A WM_COPYDATA block as another process sends it: the first 8 bytes are dwData, a ninth
// byte chooses a null pointer, the rest is the block. Whatever the identifier, turning it
// into a file URL and back must give the same path.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tracer/item_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  qv::platform::CopyData block;
  std::memcpy(&block.dwData, data, 8);
  block.nullData = (data[8] & 1) != 0;
  if (!block.nullData) block.bytes.assign(data + 9, data + size);
  qv::tracer::VisitMessage m;
  if (qv::Failed(qv::tracer::ParseVisitMessage(block, m))) return 0;
  std::string id;
  if (qv::Succeeded(qv::tracer::ToIdentifier(m.identifier, id)) && !m.identifier.empty() &&
      m.identifier.front() == '/') {
    std::string path;
    if (!qv::tracer::PathFromFileUrl(id, path) || path != m.identifier) std::abort();
  }
  (void)qv::tracer::ReadScheme(m.identifier);
  (void)qv::tracer::IsNoHistoryUrl(m.identifier);
  return 0;
}
