#pragma once
// A small reader and writer of Internet messages (RFC 5322 with MIME): header fields with
// folding, multipart bodies, base64 and quoted-printable, RFC 2047 encoded words, address
// lists and dates. It reads hostile input: every size is bounded and a malformed message
// gives an error text, never a crash.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/oledate.h"

namespace qv::platform::mail {

// Bounds on what the reader accepts.
inline constexpr std::size_t kMaxMessageBytes = 64u << 20;
inline constexpr std::size_t kMaxHeaderFieldBytes = 64u << 10;  // one unfolded field
inline constexpr std::size_t kMaxHeaderFields = 2000;            // per part
inline constexpr std::size_t kMaxMimeParts = 500;
inline constexpr int kMaxMimeDepth = 16;

struct HeaderField {
  std::string name;   // as written
  std::string value;  // unfolded, raw (encoded words not decoded), trimmed
  std::string raw;    // the field's bytes as they stood, folding and line end included
};

struct MimePart {
  std::vector<HeaderField> headers;
  std::string mediaType = "text/plain";  // lower case "type/subtype"
  std::map<std::string, std::string> params;  // Content-Type parameters, names lower case
  std::string disposition;                    // lower case, empty when none
  std::string body;                           // decoded bytes (leaf parts only)
  std::vector<MimePart> parts;                // sub-parts of a multipart
  bool IsMultipart() const { return mediaType.starts_with("multipart/"); }
};

struct MimeMessage {
  MimePart root;
  std::size_t headerBytes = 0;  // where the root's body begins in the input
};

// The first field named `name` (without regard to case), or nullptr.
const HeaderField* FindHeader(const std::vector<HeaderField>& headers, std::string_view name);

// Splits and decodes a whole message. False with `error` set for input that cannot be read:
// too large, a header field past its bound, no header at all, binary zeros in the header,
// parts nested too deep or too many.
bool ParseMimeMessage(std::string_view input, MimeMessage& out, std::string& error);

// Decoders. Base64 skips white space and stops at '='; false on other bytes outside its
// alphabet. Quoted-printable keeps malformed escapes as they stand.
bool DecodeBase64(std::string_view in, std::string& out);
std::string EncodeBase64(std::string_view in, std::size_t lineLength = 76);
std::string DecodeQuotedPrintable(std::string_view in);

// Converts text in a named charset to UTF-8; bytes that do not convert become U+FFFD.
// Unknown charsets are read as UTF-8 with the same replacement.
std::string ToUtf8(std::string_view text, std::string_view charset);
// Decodes RFC 2047 encoded words into UTF-8 (white space between adjacent words dropped);
// the rest of the text is taken as UTF-8.
std::string DecodeEncodedWords(std::string_view text);
// Encodes a header text as one or more "=?UTF-8?B?...?=" words when it is not plain ASCII.
std::string EncodeHeaderText(std::string_view utf8);

struct MailAddress {
  std::string name;     // decoded display name, UTF-8
  std::string address;  // local@domain, may be empty
};
// Reads an address list ("A <a@x>, \"B, C\" <b@x>, c@x (D)", groups flattened).
std::vector<MailAddress> ParseAddressList(std::string_view value);
// Writes one address: "=?UTF-8?B?...?= <a@x>", "\"Name\" <a@x>" or "a@x".
std::string FormatAddress(const MailAddress& address);

// RFC 5322 dates ("Tue, 8 Dec 2026 05:15:21 +0100", obsolete zone names accepted) as UTC DATEs.
std::optional<DATE> ParseMailDate(std::string_view value);
std::string FormatMailDate(DATE utc);

// The leaf part that holds the body of a media type ("text/plain", "text/html",
// "application/rtf"), searching multiparts depth first and skipping attachments.
const MimePart* FindBodyPart(const MimePart& root, std::string_view mediaType);

}  // namespace qv::platform::mail
