// Feeds arbitrary bytes to the mail reader: a whole message, its header helpers, and an entry
// id as another process may hand one in. Nothing may crash, and what comes back must hold
// together: bounded parts, no part deeper than allowed, ids that never leave the store's root.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "platform/mail/maildir_store.h"
#include "platform/mail/mime_message.h"

namespace {

using namespace qv::platform::mail;

std::size_t CountParts(const MimePart& p, int depth) {
  if (depth > kMaxMimeDepth + 1) std::abort();
  std::size_t n = 1;
  for (const auto& sub : p.parts) n += CountParts(sub, depth + 1);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  MimeMessage message;
  std::string error;
  if (ParseMimeMessage(text, message, error)) {
    if (message.headerBytes > size) std::abort();
    if (CountParts(message.root, 0) > kMaxMimeParts + 1) std::abort();
    for (const auto& h : message.root.headers)
      if (h.value.size() > kMaxHeaderFieldBytes) std::abort();
    for (const char* type : {"text/plain", "text/html", "application/rtf"}) {
      if (const MimePart* p = FindBodyPart(message.root, type)) {
        const auto cs = p->params.find("charset");
        (void)ToUtf8(p->body, cs == p->params.end() ? "" : cs->second);
      }
    }
  } else if (error.empty()) {
    std::abort();  // a refusal always says why
  }
  // The header helpers on the raw bytes (bounded as the reader bounds a field).
  const std::string_view field = text.substr(0, kMaxHeaderFieldBytes);
  (void)DecodeEncodedWords(field);
  for (const auto& a : ParseAddressList(field)) (void)FormatAddress(a);
  if (const auto d = ParseMailDate(field); d && !qv::IsValidDate(*d)) std::abort();
  const std::string encoded = EncodeHeaderText(field);
  if (encoded.find('\r') != std::string::npos) std::abort();
  for (std::size_t nl = encoded.find('\n'); nl != std::string::npos; nl = encoded.find('\n', nl + 1))
    if (nl + 1 >= encoded.size() || encoded[nl + 1] != ' ') std::abort();  // always folded

  // An entry id under a fixed store id.
  static const std::uint8_t kStore[] = {'Q', 'V', 'S', '1', 1, 2, 3, 4, 5, 6, 7, 8,
                                        9,   10,  11,  12,  13, 14, 15, 16, 17, 18};
  std::span<const std::uint8_t> id(data, size);
  std::vector<std::uint8_t> withStore(std::begin(kStore), std::begin(kStore) + 20);
  withStore.insert(withStore.end(), id.begin(), id.end());
  MaildirEntryId parsed;
  if (ParseMaildirEntryId(withStore, std::span(kStore).first(20), parsed)) {
    for (const std::string* name : {&parsed.folder, &parsed.unique}) {
      if (name->find('/') != std::string::npos || name->find('\0') != std::string::npos)
        std::abort();
      if (*name == "." || *name == "..") std::abort();
    }
    if (parsed.kind == 'M' && (parsed.unique.empty() || parsed.unique.find(':') != std::string::npos))
      std::abort();
  }
  return 0;
}
