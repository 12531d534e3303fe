#include "provider/filters/chunked_document.h"

#include <algorithm>

namespace qv::filters {

using namespace platform;

void ChunkedDocument::Clear() {
  items_.clear();
  next_ = 0;
  current_ = false;
  offset_ = 0;
  valueTaken_ = false;
}

void ChunkedDocument::AddText(std::string text) {
  if (text.empty()) return;
  items_.push_back({{kStoragePropSet, kPidContents}, true, std::move(text), {}});
}

void ChunkedDocument::AddValue(const FullPropSpec& spec, PropVariant value) {
  items_.push_back({spec, false, {}, std::move(value)});
}

HRESULT ChunkedDocument::GetChunk(StatChunk& chunk) {
  if (next_ >= items_.size()) {
    current_ = false;
    next_ = items_.size() + 1;  // stays at the end
    return FILTER_E_END_OF_CHUNKS;
  }
  const Item& item = items_[next_++];
  current_ = true;
  offset_ = 0;
  valueTaken_ = false;
  chunk = StatChunk{};
  chunk.idChunk = static_cast<std::uint32_t>(next_);
  chunk.breakType = BreakType::EndOfChapter;
  chunk.flags = item.text ? ChunkState::Text : ChunkState::Value;
  chunk.locale = locale_;
  chunk.attribute = item.spec;
  chunk.idChunkSource = chunk.idChunk;
  return S_OK;
}

HRESULT ChunkedDocument::GetText(std::string& out, std::size_t maxBytes) {
  if (!current_ || !items_[next_ - 1].text) return FILTER_E_NO_MORE_TEXT;
  return NextTextPiece(items_[next_ - 1].str, offset_, out, maxBytes);
}

HRESULT ChunkedDocument::GetValue(PropVariant& out) {
  if (!current_ || items_[next_ - 1].text || valueTaken_) return FILTER_E_NO_VALUES;
  valueTaken_ = true;
  out = items_[next_ - 1].value;
  return S_OK;
}

HRESULT NextTextPiece(const std::string& text, std::size_t& offset, std::string& out,
                      std::size_t maxBytes) {
  if (offset >= text.size()) return FILTER_E_NO_MORE_TEXT;
  maxBytes = std::max<std::size_t>(maxBytes, 4);
  std::size_t end = std::min(text.size(), offset + maxBytes);
  while (end < text.size() && end > offset &&
         (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  out.append(text, offset, end - offset);
  offset = end;
  return offset >= text.size() ? FILTER_S_LAST_TEXT : S_OK;
}

}  // namespace qv::filters
