#include "browser/addon/frame_data.h"

#include <unordered_set>

#include "browser/addon/accepted_url.h"
#include "browser/addon/addon_constants.h"
#include "common/utf.h"

namespace qv::browser {
namespace {

bool ContainsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    if (EqualsNoCase(text.substr(i, word.size()), word)) return true;
  }
  return false;
}

void Append(const FrameDocument& doc, std::size_t depth, std::size_t maxBytes,
            std::unordered_set<std::string>& seen, std::string& out) {
  std::string url = WithoutControls(doc.url);
  if (url.empty() || seen.contains(url)) return;
  std::string block = url;
  block += '\n';
  block += WithoutControls(doc.contentType);
  block += '\n';
  block += WithoutControls(doc.charset);
  block += '\n';
  block += WithoutControls(RobotsText(doc.metas));
  block += '\n';
  block += doc.hasFrames || !doc.frames.empty() ? "f" : "";
  block += '\n';
  if (!out.empty() && out.size() + block.size() > maxBytes) return;
  seen.insert(std::move(url));
  out += block;
  if (depth >= kMaxFrameDepth) return;
  for (const FrameDocument& frame : doc.frames) {
    if (IsAcceptedUrl(WithoutControls(frame.url))) Append(frame, depth + 1, maxBytes, seen, out);
  }
}

}  // namespace

std::string RobotsText(std::span<const MetaTag> metas) {
  for (const MetaTag& m : metas) {
    if (EqualsNoCase(m.name, "robots") &&
        (ContainsNoCase(m.content, "none") || ContainsNoCase(m.content, "noindex"))) {
      return m.content;
    }
  }
  return {};
}

std::string WithoutControls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) out += c;
  }
  return out;
}

std::string BuildFrameData(const FrameDocument& top, std::size_t maxBytes) {
  std::unordered_set<std::string> seen;
  std::string out;
  Append(top, 0, maxBytes, seen, out);
  return out;
}

}  // namespace qv::browser
