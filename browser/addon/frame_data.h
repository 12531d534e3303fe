#pragma once
// The frame data sent with a page visit: the top document, then depth first the documents of
// its frames, each as five lines (URL, content type, charset, robots text, frames marker).
// The first line is the top URL, which the tracer takes as the visit's identifier.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv::browser {

struct MetaTag {
  std::string name;
  std::string content;
};

// One document as the browser shows it.
struct FrameDocument {
  std::string url;
  std::string contentType;        // the add-on leaves it empty; a scripted browser may know it
  std::string charset;
  std::vector<MetaTag> metas;     // the document's META elements, in order
  bool hasFrames = false;         // it has FRAME or IFRAME elements
  std::vector<FrameDocument> frames;  // the documents of those frames, in order
};

// The content of the first META named "robots" (without case) whose content holds "none" or
// "noindex" (without case); empty when there is none.
std::string RobotsText(std::span<const MetaTag> metas);

// `s` without control characters (U+0000..U+001F, DEL): a page-controlled text must never
// end a line of the frame data early and so inject lines of its own.
std::string WithoutControls(std::string_view s);

// The frame data of `top`. A document whose URL is already the URL of an earlier block is
// skipped (whole URLs are compared, never parts of them); frames whose URL is not accepted
// are not followed; documents deeper than kMaxFrameDepth are left out. A block that would take
// the text beyond `maxBytes` is left out with its frames (the top block is always kept), so
// a page with very many frames still fits the visit message.
std::string BuildFrameData(const FrameDocument& top,
                           std::size_t maxBytes = static_cast<std::size_t>(-1));

}  // namespace qv::browser
