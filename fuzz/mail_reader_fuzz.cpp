// The mail reader over any bytes (the glue around the MIME reader): it must end, stay within its limits, and hand out UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsUtf8(std::string_view s) {
  bool ok = true;
  qv::Utf8ToUtf16(s, &ok);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace rd = qv::platform::readers;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  qv::platform::ReaderLimits limits;
  limits.maxTextBytes = 4096;
  limits.maxDepth = 64;
  qv::platform::DocumentText out;
  rd::ReadMail(bytes, limits, out);
  std::size_t total = 0;
  for (const auto& chunk : out.chunks) {
    Check(IsUtf8(chunk));
    total += chunk.size();
  }
  Check(total <= limits.maxTextBytes);
  if (out.title) Check(out.title->size() <= rd::kMaxPropertyBytes && IsUtf8(*out.title));
  if (out.author) Check(out.author->size() <= rd::kMaxPropertyBytes && IsUtf8(*out.author));
  return 0;
}
