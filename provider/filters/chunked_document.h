#pragma once
// A document whose text and values are known in full before the first chunk: handed out as
// chunks in order, each text in pieces of at most the caller's buffer. The journal and mail
// filters keep their documents so.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/indexing/filter.h"

namespace qv::filters {

class ChunkedDocument {
 public:
  void Clear();
  void SetLocale(std::uint32_t locale) { locale_ = locale; }
  // Contents text (end of chapter); empty text is not added.
  void AddText(std::string text);
  void AddValue(const platform::FullPropSpec& spec, platform::PropVariant value);

  HRESULT GetChunk(platform::StatChunk& chunk);
  HRESULT GetText(std::string& out, std::size_t maxBytes);
  HRESULT GetValue(platform::PropVariant& out);

  std::size_t size() const { return items_.size(); }

 private:
  struct Item {
    platform::FullPropSpec spec;
    bool text = false;
    std::string str;
    platform::PropVariant value;
  };
  std::vector<Item> items_;
  std::size_t next_ = 0;   // the item the next GetChunk hands out
  bool current_ = false;   // whether items_[next_ - 1] is the current chunk
  std::size_t offset_ = 0; // of the current text
  bool valueTaken_ = false;
  std::uint32_t locale_ = 0;
};

// The next piece of `text` from `offset`: at most maxBytes (at least 4), never splitting a
// UTF-8 sequence. FILTER_S_LAST_TEXT with the piece that ends the text, FILTER_E_NO_MORE_TEXT
// once it has all been handed out.
HRESULT NextTextPiece(const std::string& text, std::size_t& offset, std::string& out,
                      std::size_t maxBytes);

}  // namespace qv::filters
