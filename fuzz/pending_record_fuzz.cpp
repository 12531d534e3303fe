// A shortcut file's contents as the apply pass reads them, and its name as the directory walk
// decodes it: only a whole record is accepted, and it writes back to the very same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "mail/QvOutlookAddIn/pending_record.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::mail::addin;
  const std::span<const std::uint8_t> bytes(data, size);
  qv::ranking::RankingSet set;
  const qv::HRESULT hr = DecodePendingRecord(bytes, set);
  if (qv::Succeeded(hr) != (size == kPendingRecordSize)) std::abort();
  if (qv::Succeeded(hr)) {
    const PendingRecord again = EncodePendingRecord(set);
    if (std::memcmp(again.data(), data, size) != 0) std::abort();
  }

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::uint8_t> key;
  if (qv::Succeeded(DecodeHex(text, 64, key))) {
    if (key.size() * 2 != size || key.size() > 64) std::abort();
    std::filesystem::path path;
    const bool fits = !key.empty() && key.size() <= kMaxItemKeyBytes;
    if (qv::Succeeded(ShortcutPath("/s", key, path)) != fits) std::abort();
  }
  return 0;
}
