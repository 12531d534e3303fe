#pragma once
// Which preview a selected result gets: the preview switches, the mask of file content types
// and the include or exclude path patterns kept under the View key, and the choice they make
// for mail items, web pages, folders and files.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/result_rows.h"
#include "platform/registry/registry.h"

namespace qv::client {

inline constexpr std::string_view kPreviewEmailValue = "PreviewEmail";
inline constexpr std::string_view kPreviewWebValue = "PreviewWeb";
inline constexpr std::string_view kPreviewFilesValue = "PreviewFiles";
inline constexpr std::string_view kPreviewFileTypesValue = "PreviewFileTypes";
inline constexpr std::string_view kDownloadImagesValue = "DownloadImages";
inline constexpr std::string_view kPreviewMatchTypeValue = "matchtype";
inline constexpr std::string_view kPreviewIncludeValue = "include";
inline constexpr std::string_view kPreviewExcludeValue = "exclude";
inline constexpr std::uint32_t kPreviewMatchInclude = 1;

// PreviewFileTypes bits.
inline constexpr std::uint32_t kPreviewTypeText = 0x01;      // text/plain, text/html
inline constexpr std::uint32_t kPreviewTypeXml = 0x02;       // text/xml
inline constexpr std::uint32_t kPreviewTypeImage = 0x04;     // image/*
inline constexpr std::uint32_t kPreviewTypeMedia = 0x08;     // audio/*, video/*
inline constexpr std::uint32_t kPreviewTypePdf = 0x10;       // application/pdf with a filter
inline constexpr std::uint32_t kPreviewTypeFiltered = 0x20;  // anything else with a filter
inline constexpr std::uint32_t kPreviewAllTypes = 0xFFFFFFFF;

// A file type's description (its default value in the classes root) counts up to this long.
inline constexpr std::size_t kMaxFileTypeChars = 200;

struct PreviewSettings {
  bool email = true, web = true, files = true;
  std::uint32_t fileTypes = kPreviewAllTypes;
  bool includeMode = false;
  std::vector<std::string> patterns;  // the include list in include mode, else the exclude list
  bool downloadImages = false;        // remote content in previewed HTML
};

// A switch is off only when it is a REG_DWORD 0; anything else, or nothing, leaves it on.
// The pattern list ends at its first empty string; a list of another type is no list.
PreviewSettings LoadPreviewSettings(const platform::Registry& reg);

// What the desktop knows of a file type.
class FileTypes {
 public:
  virtual ~FileTypes() = default;
  // The MIME type of an extension (".txt", lower case); nullopt when it has none.
  virtual std::optional<std::string> ContentType(std::string_view extension) const = 0;
  // Whether the extension's text can be filtered for a preview.
  virtual bool CanFilter(std::string_view extension) const = 0;
};

// File types from the classes root: the extension key's "Content Type", then, where the
// registry has none, a short built-in list of common types. A type can be filtered when the
// extension has a persistent handler, or when its file type (the extension's default value,
// 1 to 200 characters) has a CLSID sub-key.
class RegistryFileTypes final : public FileTypes {
 public:
  explicit RegistryFileTypes(const platform::Registry& reg) : reg_(reg) {}
  std::optional<std::string> ContentType(std::string_view extension) const override;
  bool CanFilter(std::string_view extension) const override;

 private:
  const platform::Registry& reg_;
};

enum class PreviewKind {
  None,          // the placeholder text
  Mail,          // the mail viewer
  Web,           // the page in the browser
  Folder,        // a folder listing
  Text,          // plain text (also XML, shown as its source)
  Html,          // an HTML document, cleaned (see preview_html.h)
  Image,         // the image through its wrapper page
  Media,         // the media player
  FilteredText,  // the text the indexing filter extracts
};

struct PreviewItem {
  ItemKind kind = ItemKind::File;
  std::string identifier;  // a path, a URL, or an "outlook:" identifier
};

// The kind a file of this content type gets under `mask`; None when the mask or a missing
// filter rules it out. `canFilter` is asked only where it matters.
PreviewKind KindForContentType(std::string_view contentType, std::uint32_t mask, bool canFilter);

// Whether the path passes the pattern list: in include mode it must match one pattern, in
// exclude mode none (an empty list lets every path through in exclude mode, none in include).
bool PathPassesPatterns(std::string_view path, const PreviewSettings& settings);

// Whether an identifier is a URL: a scheme of letters, digits, '+', '-' or '.' (at least
// two characters, so that a drive letter is none) followed by ':'.
bool IsUrl(std::string_view identifier);

// Chooses the preview for a selected row. Files must exist when asked (one that vanished
// since the search is not previewed).
PreviewKind ChoosePreview(const PreviewItem& item, const PreviewSettings& settings,
                          const FileTypes& types);

}  // namespace qv::client
