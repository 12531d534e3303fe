#pragma once
// A mail item's body as an HTML document for the HTML reader: HTML as it is, RTF that
// carries HTML turned back into it, other RTF reduced to its text, and text wrapped into a
// page. Works on bytes in memory; RTF nesting is bounded, so hostile bodies cost linear time
// and fixed stack.
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::filters {

// The kinds the mail proxy reports for a body.
enum class BodyKind : std::uint32_t { Html = 0, Rtf = 1, Text = 2 };

// Whether the bytes begin an RTF document.
bool IsRtf(std::string_view body);
// The HTML that an RTF body encapsulates ("\fromhtml"), in UTF-8; false when the body does
// not encapsulate HTML.
bool RtfToHtml(std::string_view rtf, std::string& html);
// The text of an RTF body in UTF-8: paragraph, page, row, line and column words become line
// ends, cells and tabs separators.
std::string RtfToText(std::string_view rtf);
// Text as a page: "<HTML><BODY>", the charset line when the charset is known, the text with
// "<" and ">" escaped and line ends as "<BR>", then "</BODY></HTML>".
std::string WrapTextAsHtml(std::string_view text, std::string_view charset);
// The body of `kind` (RTF is recognised by its head whatever the kind) as an HTML document.
// False when the body cannot be converted.
bool MailBodyToHtml(std::string_view body, BodyKind kind, std::string_view charset,
                    std::string& html);

}  // namespace qv::filters
