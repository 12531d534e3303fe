#pragma once
// A web page shortcut: the page's parts (the page and its frames, each with its copy in the
// URL cache), its title, zone and URL; read from and written to .q6w files
// (shortcut_format.h).
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"

namespace qv::urlmon {

enum ContentKind : std::uint16_t { kKindOther = 0, kKindHtml = 1, kKindXml = 2, kKindText = 3 };

enum PartFlags : std::uint16_t {
  kFlagFrames = 1,      // the frame record's fifth field (frames marker) was given
  kFlagRobots = 2,      // its fourth field (robots "noindex") was given
  kFlagDownloaded = 4,  // the copy was downloaded by the web history, not found in the cache
};

struct PagePart {
  std::string url;        // source URL of the cache entry, without fragment
  std::uint16_t kind = kKindOther;
  std::uint16_t flags = 0;
  std::uint32_t size = 0;  // bytes of the copy
  std::string charset;
  std::string copy;        // relative to the cache folder, else absolute
  std::uint32_t zone = 0;  // security zone + 1, 0 unknown; not stored
  friend bool operator==(const PagePart& a, const PagePart& b) {
    return a.url == b.url && a.kind == b.kind && a.flags == b.flags && a.size == b.size &&
           a.charset == b.charset && a.copy == b.copy;
  }
};

struct Shortcut {
  std::vector<PagePart> parts;
  std::string title;
  std::int32_t zone = 0;  // the parts' common zone + 1, 0 when they differ
  std::string url;        // "_url": the first part's URL, unwrapped
  friend bool operator==(const Shortcut&, const Shortcut&) = default;
};

// "text/html" 1, "text/xml" 2, "text/plain" 3 (without case), anything else 0.
ContentKind KindOfType(std::string_view mimeType);

std::vector<std::uint8_t> SerializeContents(std::span<const PagePart> parts);
// STG_E_DOCFILECORRUPT when the stream is not a complete Contents stream: every count is
// checked against the bytes left, strings must be NUL-terminated UTF-16LE, and nothing may
// follow the last part.
HRESULT ParseContents(std::span<const std::uint8_t> bytes, std::vector<PagePart>& out);

std::vector<std::uint8_t> SerializeShortcut(const Shortcut& s);
// STG_E_INVALIDHEADER when the bytes are not a shortcut file, STG_E_DOCFILECORRUPT when a
// stream is damaged or missing. Without a Contents stream nothing is usable; damaged property
// sets are damage too.
HRESULT ParseShortcut(std::span<const std::uint8_t> bytes, Shortcut& out);

// Reads a shortcut file (at most q6w::kMaxFileSize bytes). STG_E_FILENOTFOUND when it is
// missing, STG_E_PATHNOTFOUND for a missing folder, else the parser's code.
HRESULT ReadShortcutFile(const std::filesystem::path& file, Shortcut& out);
// Creates the file only when it does not exist yet, complete or not at all (a finished
// temporary file is linked in). STG_E_FILEALREADYEXISTS when it exists; the existing file
// is left as it is.
HRESULT CreateShortcutFile(const std::filesystem::path& file, const Shortcut& s);

// The copy path as stored: relative to the cache folder when below it, else absolute.
std::string StoredCopyPath(const std::filesystem::path& cacheFolder,
                           const std::filesystem::path& copy);
// The copy a stored path names. Only files below the cache folder are accepted: an absolute
// path elsewhere, a ".." component or a link that leads out give E_ACCESSDENIED.
HRESULT ResolveCopyPath(const std::filesystem::path& cacheFolder, std::string_view stored,
                        std::filesystem::path& out);

}  // namespace qv::urlmon
