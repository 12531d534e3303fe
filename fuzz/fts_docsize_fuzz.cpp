// Reads arbitrary bytes as a row's fts_docsize blob, which a damaged or foreign index may
// hold: the length in tokens must never be negative.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/indexing/fts_rank.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (qv::platform::indexing::DocsizeTokens(std::span(data, size)) < 0) __builtin_trap();
  return 0;
}
