#include "client/preview_web.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "client/preview_text.h"
#include "platform/urlcache/pluggable_protocol.h"
#include "provider/filters/charset.h"
#include "provider/urlmon/history_protocol.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/private_urls.h"
#include "provider/urlmon/shortcut_file.h"

namespace qv::client {
namespace {

namespace fs = std::filesystem;
using platform::INET_E_CANNOT_LOAD_DATA;
using platform::INET_E_DATA_NOT_AVAILABLE;

// The preview wants the bytes only; progress and results are read from the return codes.
class QuietSink final : public platform::IInternetProtocolSink {
 public:
  HRESULT Switch(std::uint32_t) override { return S_OK; }
  HRESULT ReportProgress(platform::BindStatus, std::string_view) override { return S_OK; }
  HRESULT ReportData(std::uint32_t, std::uint32_t, std::uint32_t) override { return S_OK; }
  HRESULT ReportResult(HRESULT, std::uint32_t, std::string_view) override { return S_OK; }
};

bool ParseHex(std::string_view text, std::size_t maxDigits, std::uint32_t& out) {
  if (text.empty() || text.size() > maxDigits) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 16);
  return ec == std::errc() && end == text.data() + text.size();
}

bool IsUtf8(std::string_view charset) {
  std::string lower;
  for (char c : charset) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower.empty() || lower == "utf-8" || lower == "utf8" || lower == "us-ascii";
}

// S_OK with at most kMaxWebPreviewBytes of the part's copy; `cut` when more followed.
// S_FALSE when the copy is not in the cache (any more).
HRESULT ReadPart(const Context& ctx, const std::string& url, std::string& bytes, bool& cut) {
  urlmon::KivHistoryApp protocol(ctx);
  QuietSink sink;
  const HRESULT hr = protocol.Start(url, &sink, 0);
  if (hr == INET_E_DATA_NOT_AVAILABLE || hr == INET_E_CANNOT_LOAD_DATA) return S_FALSE;
  if (Failed(hr)) return hr;
  bytes.clear();
  cut = false;
  std::vector<std::uint8_t> buf(64 * 1024);
  for (;;) {
    std::uint32_t n = 0;
    const HRESULT r = protocol.Read(buf, n);
    if (Failed(r)) return r;
    const std::size_t room = kMaxWebPreviewBytes - bytes.size();
    bytes.append(reinterpret_cast<const char*>(buf.data()), std::min<std::size_t>(n, room));
    if (n > room) {
      cut = true;
      break;
    }
    if (r == S_FALSE) break;
  }
  protocol.Terminate(0);
  return S_OK;
}

std::string PartText(const urlmon::PagePart& part, const std::string& bytes, bool cut) {
  std::string text;
  // A page in another charset is converted; one the converter does not know (or a copy cut
  // inside a character) still shows, with replacement characters where bytes do not fit.
  if (IsUtf8(part.charset) || !filters::ConvertToUtf8(bytes, part.charset, text)) {
    return ValidPreviewText(bytes, cut);
  }
  return ValidPreviewText(text, false);
}

}  // namespace

HRESULT HistoryUrlOfShortcut(const fs::path& shortcut, std::string& out) {
  if (shortcut.extension() != urlmon::kShortcutExtension) return E_INVALIDARG;
  urlmon::ShortcutName name;
  if (!ParseHex(shortcut.parent_path().filename().string(), 2, name.bucket) ||
      name.bucket >= urlmon::kBucketCount ||
      !ParseHex(shortcut.stem().string(), 8, name.hash)) {
    return E_INVALIDARG;
  }
  out = urlmon::FormatHistoryUrl(name);
  return S_OK;
}

HRESULT WebPreviewHtml(const Context& ctx, const fs::path& shortcut,
                       const HtmlCleaning& cleaning, std::string& html) {
  html.clear();
  std::string history;
  if (const HRESULT hr = HistoryUrlOfShortcut(shortcut, history); Failed(hr)) return hr;
  std::error_code ec;
  if (!fs::exists(shortcut, ec)) return S_FALSE;
  // The protocol serves the user's own web history only; a file of the same name elsewhere
  // would otherwise preview a different page.
  urlmon::HistoryUrl parsed;
  if (Failed(urlmon::ParseHistoryUrl(history, parsed))) return E_INVALIDARG;
  const fs::path own = urlmon::ShortcutPath(urlmon::WebHistoryRoot(ctx.root), parsed.name);
  if (!fs::equivalent(shortcut, own, ec)) return E_INVALIDARG;

  urlmon::Shortcut page;
  if (Failed(urlmon::ReadShortcutFile(shortcut, page)) || page.parts.empty()) return S_FALSE;
  // A frameset shows nothing by itself here: its frames are shown in its place.
  std::size_t first = 0;
  if ((page.parts[0].flags & urlmon::kFlagFrames) != 0 && page.parts.size() > 1) first = 1;

  bool any = false;
  for (std::size_t i = first; i < page.parts.size(); ++i) {
    const urlmon::PagePart& part = page.parts[i];
    if (part.kind == urlmon::kKindOther) continue;
    const std::string url = i == 0 ? history : history + "?url=" + std::string(urlmon::UnwrapPrivateUrl(part.url));
    std::string bytes;
    bool cut = false;
    const HRESULT hr = ReadPart(ctx, url, bytes, cut);
    if (Failed(hr)) return hr;
    if (hr == S_FALSE) continue;
    const std::string text = PartText(part, bytes, cut);
    if (any) html += "<hr>";
    html += part.kind == urlmon::kKindHtml ? CleanHtml(text, cleaning)
                                           : "<pre>" + HtmlEscape(text) + "</pre>";
    any = true;
  }
  return any ? S_OK : S_FALSE;
}

}  // namespace qv::client
