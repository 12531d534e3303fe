#pragma once
// The preview of a visited web page: the stored copy its shortcut (.q6w) names, read through
// the "history" protocol (from the URL cache only, never from the network) and turned into
// HTML that the pane can show safely.
#include <cstddef>
#include <filesystem>
#include <string>

#include "client/preview_html.h"
#include "common/hresult.h"
#include "context/context.h"

namespace qv::client {

// A stored page part is shown up to this many bytes.
inline constexpr std::size_t kMaxWebPreviewBytes = 4u << 20;

// The history URL of a shortcut file: its folder names the bucket and its stem the hash
// (".../WebHistory/3/1a2b3c4d.q6w" is "history:031A2B3C4D"). E_INVALIDARG for any other name.
HRESULT HistoryUrlOfShortcut(const std::filesystem::path& shortcut, std::string& out);

// The HTML for the page a shortcut file keeps: HTML parts cleaned (see CleanHtml), text and
// XML parts escaped as preformatted text, other parts left out. A framed page shows its
// frames one after the other. S_FALSE (and no HTML) when nothing of the page is stored any
// more: the shortcut is gone or no part has its copy in the cache. E_INVALIDARG for a
// shortcut outside this user's web history.
HRESULT WebPreviewHtml(const Context& ctx, const std::filesystem::path& shortcut,
                       const HtmlCleaning& cleaning, std::string& html);

}  // namespace qv::client
