#include "client/preview_rules.h"

#include <sys/stat.h>

#include <array>
#include <utility>

#include "client/item_actions.h"
#include "client/result_columns.h"
#include "common/utf.h"
#include "tracer/detection/path_match.h"

namespace qv::client {
namespace {

using platform::Hive;
using platform::RegType;
using platform::RegValue;

constexpr std::string_view kContentTypeValue = "Content Type";

// Common types for extensions the classes root does not describe.
constexpr std::array<std::pair<std::string_view, std::string_view>, 33> kKnownTypes = {{
    {".txt", "text/plain"},        {".text", "text/plain"},
    {".log", "text/plain"},        {".htm", "text/html"},
    {".html", "text/html"},        {".xml", "text/xml"},
    {".jpg", "image/jpeg"},        {".jpeg", "image/jpeg"},
    {".jpe", "image/jpeg"},        {".png", "image/png"},
    {".gif", "image/gif"},         {".bmp", "image/bmp"},
    {".webp", "image/webp"},       {".svg", "image/svg+xml"},
    {".tif", "image/tiff"},        {".tiff", "image/tiff"},
    {".mp3", "audio/mpeg"},        {".ogg", "audio/ogg"},
    {".oga", "audio/ogg"},         {".wav", "audio/wav"},
    {".flac", "audio/flac"},       {".mp4", "video/mp4"},
    {".webm", "video/webm"},       {".mkv", "video/x-matroska"},
    {".avi", "video/x-msvideo"},   {".pdf", "application/pdf"},
    {".rtf", "application/rtf"},   {".doc", "application/msword"},
    {".docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {".odt", "application/vnd.oasis.opendocument.text"},
    {".eml", "message/rfc822"},    {".zip", "application/zip"},
    {".csv", "text/csv"},
}};

// A switch is off only as a REG_DWORD 0.
bool Switch(const platform::Registry& reg, std::string_view name) {
  RegValue v;
  if (reg.GetValue(Hive::CurrentUser, kViewKey, name, v) != 0) return true;
  return !(v.type == RegType::Dword && v.dword == 0);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string Extension(std::string_view path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  // A leading dot names a hidden file, not an extension.
  if (dot == (slash == std::string_view::npos ? 0 : slash + 1)) return {};
  return AsciiLower(path.substr(dot));
}

}  // namespace

PreviewSettings LoadPreviewSettings(const platform::Registry& reg) {
  PreviewSettings s;
  s.email = Switch(reg, kPreviewEmailValue);
  s.web = Switch(reg, kPreviewWebValue);
  s.files = Switch(reg, kPreviewFilesValue);
  RegValue v;
  if (reg.GetValue(Hive::CurrentUser, kViewKey, kPreviewFileTypesValue, v) == 0 &&
      v.type == RegType::Dword) {
    s.fileTypes = v.dword;
  }
  s.includeMode = reg.GetValue(Hive::CurrentUser, kViewKey, kPreviewMatchTypeValue, v) == 0 &&
                  v.type == RegType::Dword && v.dword == kPreviewMatchInclude;
  if (reg.GetValue(Hive::CurrentUser, kViewKey,
                   s.includeMode ? kPreviewIncludeValue : kPreviewExcludeValue, v) == 0 &&
      v.type == RegType::MultiSz) {
    for (auto& p : v.strings) {
      if (p.empty()) break;
      s.patterns.push_back(std::move(p));
    }
  }
  s.downloadImages = reg.GetValue(Hive::CurrentUser, kViewKey, kDownloadImagesValue, v) == 0 &&
                     v.type == RegType::Dword && v.dword == 1;
  return s;
}

std::optional<std::string> RegistryFileTypes::ContentType(std::string_view extension) const {
  RegValue v;
  if (reg_.GetValue(Hive::ClassesRoot, extension, kContentTypeValue, v) == 0 &&
      (v.type == RegType::Sz || v.type == RegType::ExpandSz) && !v.text.empty()) {
    // Parameters ("; charset=...") do not change the kind.
    std::string type = AsciiLower(v.text.substr(0, v.text.find(';')));
    while (!type.empty() && type.back() == ' ') type.pop_back();
    if (!type.empty()) return type;
  }
  const std::string ext = AsciiLower(extension);
  for (const auto& [known, type] : kKnownTypes) {
    if (known == ext) return std::string(type);
  }
  return std::nullopt;
}

bool RegistryFileTypes::CanFilter(std::string_view extension) const {
  if (extension.empty()) return false;
  if (reg_.KeyExists(Hive::ClassesRoot, std::string(extension) + "\\PersistentHandler")) {
    return true;
  }
  RegValue v;
  if (reg_.GetValue(Hive::ClassesRoot, extension, "", v) != 0 || v.type != RegType::Sz) {
    return false;
  }
  const std::size_t chars = Utf8ToUtf16(v.text).size();
  if (chars < 1 || chars > kMaxFileTypeChars) return false;
  return reg_.KeyExists(Hive::ClassesRoot, v.text + "\\CLSID");
}

PreviewKind KindForContentType(std::string_view type, std::uint32_t mask, bool canFilter) {
  const auto on = [mask](std::uint32_t bit) { return (mask & bit) != 0; };
  if (type == "text/plain") return on(kPreviewTypeText) ? PreviewKind::Text : PreviewKind::None;
  if (type == "text/html") return on(kPreviewTypeText) ? PreviewKind::Html : PreviewKind::None;
  if (type == "text/xml") return on(kPreviewTypeXml) ? PreviewKind::Text : PreviewKind::None;
  if (type.starts_with("image/")) {
    return on(kPreviewTypeImage) ? PreviewKind::Image : PreviewKind::None;
  }
  if (type.starts_with("audio/") || type.starts_with("video/")) {
    return on(kPreviewTypeMedia) ? PreviewKind::Media : PreviewKind::None;
  }
  const std::uint32_t bit = type == "application/pdf" ? kPreviewTypePdf : kPreviewTypeFiltered;
  return on(bit) && canFilter ? PreviewKind::FilteredText : PreviewKind::None;
}

bool PathPassesPatterns(std::string_view path, const PreviewSettings& settings) {
  for (const auto& pattern : settings.patterns) {
    // The first match decides: through in include mode, kept out in exclude mode.
    if (tracer::PathMatchSpec(path, pattern)) return settings.includeMode;
  }
  return !settings.includeMode;
}

bool IsUrl(std::string_view id) {
  const auto colon = id.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  if (!((id[0] >= 'a' && id[0] <= 'z') || (id[0] >= 'A' && id[0] <= 'Z'))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = id[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

PreviewKind ChoosePreview(const PreviewItem& item, const PreviewSettings& settings,
                          const FileTypes& types) {
  const auto kind = static_cast<std::int32_t>(item.kind);
  if (kind >= static_cast<std::int32_t>(ItemKind::Mail) &&
      kind <= static_cast<std::int32_t>(ItemKind::Task) &&
      StartsWithNoCase(item.identifier, kMailPrefix)) {
    return settings.email ? PreviewKind::Mail : PreviewKind::None;
  }
  if (item.kind == ItemKind::WebPage || IsUrl(item.identifier)) {
    return settings.web && !item.identifier.empty() ? PreviewKind::Web : PreviewKind::None;
  }
  if (!settings.files || item.identifier.empty()) return PreviewKind::None;
  struct stat st {};
  if (::stat(item.identifier.c_str(), &st) != 0) return PreviewKind::None;
  PreviewKind chosen = PreviewKind::None;
  if (S_ISDIR(st.st_mode)) {
    chosen = PreviewKind::Folder;
  } else if (S_ISREG(st.st_mode)) {
    const std::string ext = Extension(item.identifier);
    if (ext.empty()) return PreviewKind::None;
    const auto type = types.ContentType(ext);
    if (!type) return PreviewKind::None;
    // The filter check reads the registry: only types that need it ask.
    const bool needsFilter = KindForContentType(*type, settings.fileTypes, true) ==
                                 PreviewKind::FilteredText;
    chosen = KindForContentType(*type, settings.fileTypes, needsFilter && types.CanFilter(ext));
  }
  if (chosen == PreviewKind::None || !PathPassesPatterns(item.identifier, settings)) {
    return PreviewKind::None;
  }
  return chosen;
}

}  // namespace qv::client
