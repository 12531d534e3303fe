#pragma once
// The URL helpers the web history needs: scheme, fragment, comparison, file URLs and the
// resolution of relative references (RFC 3986, section 5).
#include <filesystem>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::platform {

// What the browser's URL parser answers for text without a readable scheme.
inline constexpr HRESULT URL_E_INVALID_SYNTAX = MakeHr(0x80041001);
// URLs longer than this are refused, as the browser refuses them.
inline constexpr std::size_t kMaxUrlLength = 2083;

// The scheme before the first ':' in lower case. An empty scheme (":x") gives S_OK with an
// empty result; text without ':' or with a character a scheme may not hold gives
// URL_E_INVALID_SYNTAX.
HRESULT GetUrlScheme(std::string_view url, std::string& scheme);

// The URL up to its first '#'.
std::string_view WithoutFragment(std::string_view url);
// From the first '#' on (empty when there is none).
std::string_view FragmentOf(std::string_view url);

// Exact comparison; with ignoreTrailingSlash one '/' at the end of either URL is ignored.
bool UrlEquals(std::string_view a, std::string_view b, bool ignoreTrailingSlash);

// The host of a URL with an authority ("http://user@Host:80/x" → "host"), lower case; empty
// when there is none.
std::string UrlHost(std::string_view url);

// "file:///a/b%20c" (or "file://localhost/a/b") → "/a/b c". Another host, a relative path,
// an escaped NUL or '/' inside a segment give E_INVALIDARG.
HRESULT FileUrlToPath(std::string_view url, std::filesystem::path& out);
// An absolute path as a file URL, with every byte outside the unreserved set escaped.
std::string PathToFileUrl(const std::filesystem::path& path);

// Resolves `reference` against `base` (both without regard to fragments of the base).
// A base without a scheme gives E_INVALIDARG.
HRESULT CombineUrl(std::string_view base, std::string_view reference, std::string& out);

}  // namespace qv::platform
