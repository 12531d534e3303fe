#pragma once
// For the filter fuzz targets: one installation on a temporary root for the whole run, and a
// drain of everything a filter yields that checks the protocol's promises.
#include <cstdlib>
#include <string>

#include "context/test_context.h"
#include "platform/indexing/filter.h"

namespace qv::filters::fuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// Init, every chunk, every piece of text and every value; ids must increase, pieces must
// not exceed the buffer, and nothing may run forever.
inline void DrainChecked(platform::Filter& f) {
  using namespace platform;
  std::uint32_t flags = 0;
  if (Failed(f.Init(0, flags))) return;
  std::uint32_t lastId = 0;
  for (int chunks = 0;; ++chunks) {
    Check(chunks < 100000);
    StatChunk c;
    const HRESULT hr = f.GetChunk(c);
    if (hr == FILTER_E_END_OF_CHUNKS) return;
    if (hr == FILTER_E_EMBEDDING_UNAVAILABLE) continue;
    if (Failed(hr)) return;
    Check(c.idChunk > lastId);
    lastId = c.idChunk;
    if (c.flags == ChunkState::Text) {
      for (int pieces = 0;; ++pieces) {
        Check(pieces < 10000000);
        std::string piece;
        const HRESULT t = f.GetText(piece, 64);
        Check(piece.size() <= 64);
        if (t != S_OK) break;
      }
    } else {
      PropVariant v;
      f.GetValue(v);
    }
  }
}

}  // namespace qv::filters::fuzz
