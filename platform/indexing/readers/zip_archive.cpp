#include "platform/indexing/readers/zip_archive.h"

#include <zip.h>

#include <algorithm>

#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {
namespace {

constexpr std::size_t kReadPiece = 64 * 1024;
constexpr std::uint64_t kMaxReserve = 16u << 20;

struct ZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

}  // namespace

HRESULT ZipArchive::Open(std::string_view bytes, const ReaderLimits& limits,
                         std::unique_ptr<ZipArchive>& out) {
  out.reset();
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  if (!source) {
    zip_error_fini(&error);
    return E_OUTOFMEMORY;
  }
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  zip_error_fini(&error);
  if (!archive) {
    zip_source_free(source);  // the archive did not take it over
    return FILTER_E_UNKNOWNFORMAT;
  }
  auto z = std::make_unique<ZipArchive>(archive, limits.maxDecompressedBytes);
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0) return FILTER_E_UNKNOWNFORMAT;
  if (static_cast<std::uint64_t>(count) > limits.maxEntries) return kLimitExceeded;
  z->names_.reserve(static_cast<std::size_t>(count));
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    z->names_.emplace_back(name ? name : "");
  }
  out = std::move(z);
  return S_OK;
}

ZipArchive::~ZipArchive() { zip_discard(zip_); }

bool ZipArchive::Has(std::string_view name) const {
  return std::find(names_.begin(), names_.end(), name) != names_.end();
}

HRESULT ZipArchive::Read(std::string_view name, std::string& out) {
  out.clear();
  bool reserved = false;
  const HRESULT hr = ReadPieces(name, [&](std::string_view piece, bool) {
    if (!reserved) {
      // The size the archive claims is only a hint (a bomb claims what it likes); no more
      // than kMaxReserve is set aside on its word.
      out.reserve(static_cast<std::size_t>(std::min(claimed_, kMaxReserve)));
      reserved = true;
    }
    out.append(piece);
    return true;
  });
  if (Failed(hr)) out.clear();
  return hr;
}

HRESULT ZipArchive::ReadPieces(std::string_view name, const PieceFn& piece) {
  const auto it = std::find(names_.begin(), names_.end(), name);
  if (it == names_.end()) return STG_E_FILENOTFOUND;
  const auto index = static_cast<zip_uint64_t>(it - names_.begin());
  std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(zip_, index, 0));
  if (!file) return FILTER_E_UNKNOWNFORMAT;
  zip_stat_t st;
  claimed_ = zip_stat_index(zip_, index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
  // One piece is held back until the next is read, so that the last one says it is.
  std::vector<char> buf(kReadPiece), held(kReadPiece);
  std::size_t heldSize = 0;
  bool haveHeld = false;
  for (;;) {
    const zip_int64_t n = zip_fread(file.get(), buf.data(), buf.size());
    if (n < 0) return FILTER_E_UNKNOWNFORMAT;
    // Every inflated byte counts against the budget, whatever the archive claims.
    if (static_cast<std::uint64_t>(n) > budget_) {
      budget_ = 0;
      return kLimitExceeded;
    }
    budget_ -= static_cast<std::uint64_t>(n);
    if (haveHeld && !piece(std::string_view(held.data(), heldSize), n == 0)) return S_FALSE;
    if (n == 0) {
      if (!haveHeld && !piece({}, true)) return S_FALSE;
      return S_OK;
    }
    std::swap(buf, held);
    heldSize = static_cast<std::size_t>(n);
    haveHeld = true;
  }
}

}  // namespace qv::platform::readers
