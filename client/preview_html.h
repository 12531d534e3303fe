#pragma once
// HTML for the preview pane: text escaped for HTML, the wrapper page through which an image
// is shown, and previewed HTML documents cleaned of scripts, embedded objects and (unless the
// user allows it) content loaded from other hosts.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"

namespace qv::client {

// The wrapper page's fixed parts; the image's address goes between them.
inline constexpr std::string_view kImageWrapperHead =
    "<html><meta http-equiv=\"Content-Type\" content=\"text/html;charset=unicodeFEFF\">"
    "<body><img src=\"";
inline constexpr std::string_view kImageWrapperTail = "\"></body></html>";
inline constexpr std::string_view kImageWrapperPrefix = "TFR";

// &, <, >, " and ' as character references.
std::string HtmlEscape(std::string_view text);
// "file://" and the path with every byte but letters, digits, "-._~/" percent-encoded, so
// that '#', '?', '%', quotes and angle brackets in a file name stay part of the name.
std::string FileUrl(std::string_view path);
// The wrapper page's text for an image file (UTF-8; the file holds it as UTF-16LE).
std::string ImageWrapperText(std::string_view imagePath);

// Writes wrapper pages into a folder: each new page replaces (deletes) the previous one, and
// the last is deleted when the object goes. Pages are private (0600), created new, never
// indexed.
class ImageWrapperFile {
 public:
  explicit ImageWrapperFile(std::filesystem::path folder) : folder_(std::move(folder)) {}
  ~ImageWrapperFile();
  ImageWrapperFile(const ImageWrapperFile&) = delete;
  ImageWrapperFile& operator=(const ImageWrapperFile&) = delete;

  // Writes the page for `imagePath`: byte order mark and UTF-16LE text, in a new file named
  // "TFR" and random characters with the extension ".htm". `out` is its path.
  HRESULT Write(std::string_view imagePath, std::filesystem::path& out);
  // Deletes the current page, if any.
  void Clear();

 private:
  std::filesystem::path folder_;
  std::filesystem::path current_;
};

struct HtmlCleaning {
  bool allowRemote = false;  // images and other content from other hosts
};
// The document with script elements and their content, style sheets, frames, embedded
// objects, base, link and meta elements, comments, event-handler attributes and script
// addresses removed; without allowRemote also every attribute that would load content from
// another host (src, srcset, background, poster, data and the like naming "//", "\\" or a
// scheme other than file, data and cid).
std::string CleanHtml(std::string_view html, const HtmlCleaning& options);

}  // namespace qv::client
