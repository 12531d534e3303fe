#include "client/preview_text.h"

#include <unistd.h>

#include <cerrno>

#include "common/utf.h"
#include "platform/indexing/regular_file.h"

namespace qv::client {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
constexpr std::size_t kMaxSequence = 4;

}  // namespace

std::string ValidPreviewText(std::string_view bytes, bool cut) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t n = Utf8SequenceLength(bytes, i);
    if (n > 0) {
      out.append(bytes.substr(i, n));
      i += n;
      continue;
    }
    // An incomplete sequence at the very end of a cut text is the start of what was cut off.
    if (cut && bytes.size() - i < kMaxSequence) {
      bool prefix = static_cast<unsigned char>(bytes[i]) >= 0xC2;
      for (std::size_t j = i + 1; j < bytes.size() && prefix; ++j) {
        prefix = (static_cast<unsigned char>(bytes[j]) & 0xC0) == 0x80;
      }
      if (prefix) break;
    }
    out.append(kReplacement);
    ++i;
  }
  return out;
}

HRESULT ReadPreviewText(const std::filesystem::path& file, std::string& out) {
  out.clear();
  platform::UniqueFd fd;
  if (const HRESULT hr = platform::indexing::OpenRegularFile(file, fd); Failed(hr)) return hr;
  std::string bytes;
  char buf[64 * 1024];
  bool cut = false;
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HresultFromErrno(errno);
    if (n == 0) break;
    const std::size_t room = kMaxPreviewTextBytes - bytes.size();
    bytes.append(buf, std::min(room, static_cast<std::size_t>(n)));
    if (static_cast<std::size_t>(n) > room || bytes.size() == kMaxPreviewTextBytes) {
      cut = true;
      break;
    }
  }
  out = ValidPreviewText(bytes, cut);
  return S_OK;
}

HRESULT FilteredPreviewText(platform::indexing::DocumentReader& reader,
                            const std::filesystem::path& file, std::string& out) {
  out.clear();
  std::shared_ptr<platform::Filter> filter;
  const HRESULT found = reader.FindFilter(file, filter);
  if (Failed(found)) return found;
  if (found == S_FALSE || !filter) return S_FALSE;
  if (const HRESULT hr = filter->Load(file); Failed(hr)) return hr;
  std::string text, title;
  if (const HRESULT hr = platform::indexing::DrainFilter(*filter, text, title); Failed(hr)) {
    return hr;
  }
  const bool cut = text.size() > kMaxPreviewTextBytes;
  if (cut) text.resize(kMaxPreviewTextBytes);
  out = ValidPreviewText(text, cut);
  return S_OK;
}

}  // namespace qv::client
