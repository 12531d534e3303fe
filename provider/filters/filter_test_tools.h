#pragma once
// For the filter tests: everything a filter yields, chunk by chunk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/indexing/filter.h"

namespace qv::filters {

struct DrainedChunk {
  platform::StatChunk stat;
  std::string text;
  platform::PropVariant value;
};

// Runs Init and every GetChunk; texts are read in pieces of `piece` bytes. GetChunk answers
// other than S_OK and the end (an unavailable embedding) are kept in `skipped`.
inline HRESULT Drain(platform::Filter& f, std::vector<DrainedChunk>& out, std::uint32_t* flags = nullptr,
                     std::size_t piece = 5, std::vector<HRESULT>* skipped = nullptr) {
  out.clear();
  std::uint32_t outFlags = 0;
  HRESULT hr = f.Init(0, outFlags);
  if (flags) *flags = outFlags;
  if (Failed(hr)) return hr;
  for (int guard = 0; guard < 10000; ++guard) {
    DrainedChunk c;
    hr = f.GetChunk(c.stat);
    if (hr == platform::FILTER_E_END_OF_CHUNKS) return S_OK;
    if (hr != S_OK) {
      if (skipped) skipped->push_back(hr);
      if (Failed(hr) && hr != platform::FILTER_E_EMBEDDING_UNAVAILABLE) return hr;
      continue;
    }
    if (c.stat.flags == platform::ChunkState::Text) {
      HRESULT t = S_OK;
      int pieces = 0;
      while ((t = f.GetText(c.text, piece)) == S_OK) ++pieces;
      EXPECT_EQ(t, platform::FILTER_S_LAST_TEXT) << "the last piece is marked";
      EXPECT_EQ(f.GetText(c.text, piece), platform::FILTER_E_NO_MORE_TEXT);
      EXPECT_EQ(f.GetValue(c.value), platform::FILTER_E_NO_VALUES);
    } else {
      EXPECT_EQ(f.GetValue(c.value), S_OK);
      platform::PropVariant again;
      EXPECT_EQ(f.GetValue(again), platform::FILTER_E_NO_VALUES) << "a value is handed out once";
    }
    out.push_back(std::move(c));
  }
  ADD_FAILURE() << "the filter never ends";
  return E_FAIL;
}

// Text without the blanks and line ends that markup leaves at its ends.
inline std::string Trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1));
}

inline bool IsProp(const DrainedChunk& c, const Guid& fmtid, std::uint32_t pid) {
  const auto* id = std::get_if<std::uint32_t>(&c.stat.attribute.id);
  return c.stat.attribute.fmtid == fmtid && id && *id == pid;
}

}  // namespace qv::filters
