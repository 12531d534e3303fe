// What the mail client's extension sends qvmailhost: frames of a native-endian length and
// JSON. Every frame the reader takes must lie inside the input, and every message it accepts
// must carry what its type needs.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "mail/thunderbird/host_message.h"
#include "mail/thunderbird/native_messaging.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace tb = qv::mail::tb;
  std::span<const std::uint8_t> rest(data, size);
  for (int frames = 0; frames < 64; ++frames) {
    std::size_t used = 0;
    std::string json;
    if (tb::ParseFrame(rest, tb::kMaxIncomingMessage, used, json) != tb::FrameResult::Message) break;
    if (used < 4 || used > rest.size() || json.size() != used - 4) std::abort();
    rest = rest.subspan(used);
    tb::HostMessage m;
    std::string why;
    if (qv::Failed(tb::ParseHostMessage(json, m, why))) {
      if (why.empty()) std::abort();
      continue;
    }
    if (m.type == tb::HostMessage::Type::Displayed &&
        (m.tab < 0 || m.messageId.empty() || m.folder.empty() || m.account.empty())) {
      std::abort();
    }
    if (m.type == tb::HostMessage::Type::Closed && m.tab < 0) std::abort();
    // The reply quoting must not break on anything accepted.
    if (tb::JsonString(m.messageId).front() != '"') std::abort();
  }
  return 0;
}
