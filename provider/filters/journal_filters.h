#pragma once
// The journal's filters: an entry marker (.q6j) yields the entry's search text and its
// journal values; a day's data file (.q6d) yields nothing, since it is read through its
// markers.
#include <filesystem>
#include <mutex>

#include "context/context.h"
#include "platform/indexing/filter.h"
#include "provider/filters/chunked_document.h"

namespace qv::filters {

class JournalIFilter final : public platform::Filter {
 public:
  explicit JournalIFilter(const Context& ctx) : ctx_(ctx) {}
  HRESULT Load(const std::filesystem::path& file) override;
  // FILTER_E_ACCESS when the entry cannot be read; a file that is not a marker of the journal
  // gives an empty document.
  HRESULT Init(std::uint32_t initFlags, std::uint32_t& outFlags) override;
  HRESULT GetChunk(platform::StatChunk& chunk) override { return doc_.GetChunk(chunk); }
  HRESULT GetText(std::string& out, std::size_t maxBytes) override {
    return doc_.GetText(out, maxBytes);
  }
  HRESULT GetValue(platform::PropVariant& out) override { return doc_.GetValue(out); }
  Guid GetClassID() const override;

 private:
  const Context& ctx_;
  std::mutex mutex_;
  std::filesystem::path path_;
  bool loaded_ = false;
  ChunkedDocument doc_;
};

class KivJournalDatIFilter final : public platform::Filter {
 public:
  HRESULT Load(const std::filesystem::path&) override { return S_OK; }
  HRESULT Init(std::uint32_t, std::uint32_t& outFlags) override {
    outFlags = 0;
    return S_OK;
  }
  HRESULT GetChunk(platform::StatChunk&) override { return platform::FILTER_E_END_OF_CHUNKS; }
  HRESULT GetText(std::string&, std::size_t) override { return platform::FILTER_E_NO_MORE_TEXT; }
  HRESULT GetValue(platform::PropVariant&) override { return platform::FILTER_E_NO_VALUES; }
  Guid GetClassID() const override;
};

}  // namespace qv::filters
