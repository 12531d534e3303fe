#pragma once
// Item strings: the visit message carried by WM_COPYDATA, and how an item string becomes the
// visit's identifier (a URL; plain paths become file URLs).
#include <cstdint>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "platform/messaging/message.h"

namespace qv::tracer {

struct VisitMessage {
  std::uint32_t operation = 0;  // KIV_VISIT_START, _END, _UPDATE or anything a peer sent
  std::uint32_t flags = 0;      // the visit flags, low 16 bits
  std::string identifier;       // empty when the message carries none
  std::string frameData;        // the whole string when it holds a line feed, else empty
};

// Reads a visit message. The identifier is taken from blocks of 3..0xFFFD bytes only
// (cbData / 2 - 1 UTF-16 units, up to the first NUL). E_INVALIDARG, with operation and flags
// still filled in, when the text is not valid UTF-16.
HRESULT ParseVisitMessage(const platform::CopyData& data, VisitMessage& out);

// The scheme of a URL ("http" of "http://x"), up to 32 characters; empty if there is none.
// A scheme has at least two characters, so no path is taken for a URL.
std::string ReadScheme(std::string_view s);
bool IsFileUrl(std::string_view s);

// The identifier for an item string: a URL as it is; an absolute path as a file URL (at most
// 2084 characters). E_INVALIDARG for anything else (empty, relative, too long).
HRESULT ToIdentifier(std::string_view item, std::string& out);
// URLs the browser does not keep in its history (about:, javascript: ...): never visits.
bool IsNoHistoryUrl(std::string_view url);
// Whether two identifiers name the same item: file URLs compare exactly, since Linux file
// names differ by case; other URLs compare without case.
bool SameIdentifier(std::string_view a, std::string_view b);

// file:///a%20b for /a b; PathFromFileUrl undoes it (false for other URLs or bad escapes).
std::string FileUrlFromPath(std::string_view path);
bool PathFromFileUrl(std::string_view url, std::string& path);

}  // namespace qv::tracer
