// Reads arbitrary bytes as a reply from the mail proxy or the add-in's ranking object, as the
// e-mail filter and the tracer's mail recorder do: the record is decoded, then its out values
// are read as item data. Whatever they hold, the readers either refuse them or give back
// exactly what the writer would send again.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mail/ranking_endpoint.h"
#include "provider/filters/mail_proxy_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  platform::CallReply reply;
  if (Failed(platform::DecodeReply(std::span(data, size), reply))) return 0;
  mail::OtlItemValues values;
  if (mail::ItemValuesFromArgs(reply.values, values)) {
    if (mail::ItemValuesToArgs(values).size() != reply.values.size()) __builtin_trap();
  }
  std::uint32_t scope = 0;
  filters::OtlItemData item;
  if (filters::ProxyItemDataFromArgs(reply.values, scope, item)) {
    if (reply.values.size() != filters::kProxyItemValueCount) __builtin_trap();
    // Without the scope in front, the same values are the add-in's item values.
    if (!mail::ItemValuesFromArgs(std::span(reply.values).subspan(1), values)) __builtin_trap();
    // Dates may be NaN, which never equals itself: the counts and texts are compared.
    if (values.subject != item.subject || values.set.visits != item.set.visits ||
        values.set.last.n != item.set.last.n || values.messageFlags != item.messageFlags) {
      __builtin_trap();
    }
  }
  return 0;
}
