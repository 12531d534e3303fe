// Mail files (.eml, and the messages of a Maildir folder): subject, sender and date, the
// readable body and the text of text attachments, read through the mail store's MIME reader.
#include <string>

#include "common/utf.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"
#include "platform/mail/mime_message.h"

namespace qv::platform::readers {
namespace {

namespace mail = qv::platform::mail;

bool IsFieldNameChar(char c) {
  return c > ' ' && c < 127 && c != ':';
}

// Header fields that nearly every stored message carries and other text files rarely begin
// with; one of them must be among the first lines for a file to count as mail.
bool IsMailFieldName(std::string_view name) {
  const std::string lower = AsciiLower(name);
  return lower == "from" || lower == "date" || lower == "subject" || lower == "message-id" ||
         lower == "received" || lower == "return-path" || lower == "delivered-to" ||
         lower == "mime-version" || lower == "to";
}

// A header's text with its encoded words decoded; raw bytes that are not UTF-8 become U+FFFD.
std::string HeaderText(const mail::HeaderField& field) {
  return mail::ToUtf8(mail::DecodeEncodedWords(field.value), "utf-8");
}

// A part's text in UTF-8: plain text converted from its charset, HTML as the text a reader
// sees. Other media types give nothing.
std::string PartText(const mail::MimePart& part) {
  const auto charset = part.params.find("charset");
  // Not a conditional expression: its common type is a temporary string a view would outlive.
  std::string_view cs = "utf-8";
  if (charset != part.params.end()) cs = charset->second;
  if (part.mediaType == "text/html") {
    return indexing::ExtractHtml(mail::ToUtf8(part.body, cs)).text;
  }
  if (part.mediaType.starts_with("text/") && part.mediaType != "text/rtf" &&
      part.mediaType != "text/calendar" && part.mediaType != "text/vcard") {
    return mail::ToUtf8(part.body, cs);
  }
  return {};
}

// Walks the parts in order. Of the versions in a multipart/alternative only one is read:
// plain text where there is one, HTML otherwise, so the body is not taken twice.
void CollectText(const mail::MimePart& part, TextSink& sink, std::uint32_t& parts,
                 const ReaderLimits& limits) {
  if (sink.Full() || ++parts > limits.maxEntries) return;
  if (!part.IsMultipart()) {
    const std::string text = PartText(part);
    if (!text.empty()) {
      sink.Append(text);
      sink.EndPart();
    }
    return;
  }
  if (part.mediaType == "multipart/alternative") {
    const mail::MimePart* chosen = mail::FindBodyPart(part, "text/plain");
    if (!chosen) chosen = mail::FindBodyPart(part, "text/html");
    if (chosen) CollectText(*chosen, sink, parts, limits);
    return;
  }
  for (const auto& sub : part.parts) CollectText(sub, sink, parts, limits);
}

}  // namespace

bool LooksLikeMail(std::string_view head) {
  // Up to the first blank line (or the end of the head) every line is a header field or a
  // continuation of one, and a field that mail carries is among them.
  bool sawMailField = false;
  bool first = true;
  std::size_t pos = 0;
  while (pos < head.size()) {
    std::size_t end = head.find('\n', pos);
    const bool cut = end == std::string_view::npos;
    if (cut) end = head.size();
    std::string_view line = head.substr(pos, end - pos);
    if (line.ends_with('\r')) line.remove_suffix(1);
    pos = end + 1;
    if (line.empty()) break;
    if (line.front() == ' ' || line.front() == '\t') {
      if (first) return false;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return cut && !first && sawMailField;
    const std::string_view name = line.substr(0, colon);
    for (char c : name) {
      if (!IsFieldNameChar(c)) return false;
    }
    if (IsMailFieldName(name)) sawMailField = true;
    first = false;
  }
  return sawMailField;
}

HRESULT ReadMail(std::string_view bytes, const ReaderLimits& limits, DocumentText& out) {
  out = DocumentText{};
  if (bytes.size() > mail::kMaxMessageBytes || bytes.size() > limits.maxDecompressedBytes) {
    return kLimitExceeded;
  }
  mail::MimeMessage message;
  std::string error;
  if (!mail::ParseMimeMessage(bytes, message, error)) {
    // Nesting and part counts past the reader's bounds are limits; anything else is a file
    // that is not mail.
    if (error.find("nested") != std::string::npos || error.find("parts") != std::string::npos ||
        error.find("longer than") != std::string::npos ||
        error.find("more than") != std::string::npos) {
      return kLimitExceeded;
    }
    return FILTER_E_UNKNOWNFORMAT;
  }
  const auto& headers = message.root.headers;
  TextSink sink(out, limits.maxTextBytes);
  // The subject and the people on the message are searched as much as the body.
  for (const std::string_view name : {"Subject", "From", "To", "Cc"}) {
    const mail::HeaderField* field = mail::FindHeader(headers, name);
    if (!field) continue;
    sink.Append(HeaderText(*field));
    sink.Break();
  }
  sink.EndPart();
  if (const auto* subject = mail::FindHeader(headers, "Subject")) {
    SetProperty(out.title, HeaderText(*subject));
  }
  if (const auto* from = mail::FindHeader(headers, "From")) {
    const auto addresses = mail::ParseAddressList(from->value);
    if (!addresses.empty()) {
      const auto& sender = addresses.front();
      SetProperty(out.author, mail::ToUtf8(sender.name.empty() ? sender.address : sender.name,
                                           "utf-8"));
    }
  }
  if (const auto* date = mail::FindHeader(headers, "Date")) {
    out.created = mail::ParseMailDate(date->value);
  }
  std::uint32_t parts = 0;
  CollectText(message.root, sink, parts, limits);
  if (parts > limits.maxEntries) out.truncated = true;
  return S_OK;
}

}  // namespace qv::platform::readers
