// Reads arbitrary bytes as the stored search options, which an older version or the user may
// have left in the registry: options that read must encode back to an equal record, and a
// search composed with them must read as query text.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "client/query_composer.h"
#include "client/search_params.h"
#include "platform/indexing/query_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::client;
  const auto params = DecodeSearchParams(std::span(data, size));
  if (!params) return 0;
  if (!params->AnyCatalog()) __builtin_trap();
  const auto bytes = EncodeSearchParams(*params);
  const auto again = DecodeSearchParams(bytes);
  if (!again || !(*again == *params)) __builtin_trap();

  static const FixedDateLocale dates(DateOrder::MonthDayYear, '/', 0);
  ComposeEnvironment env;
  env.localAppData = "/home/u/.qv/LocalAppData";
  env.dates = &dates;
  env.now = 46000.5;
  env.mailStores = {0x1234};
  env.mailCatalogUsable = [](std::string_view, bool& usable) {
    usable = true;
    return qv::S_OK;
  };
  env.userSid = [](std::string& sid) {
    sid = "S-1-22-1-1000";
    return qv::S_OK;
  };
  for (const char* query : {"", "budget -draft", "sdate:1/2/2004 dir:/home/u"}) {
    std::string sql;
    Messages messages;
    if (qv::Succeeded(ComposeCatalogQuery(query, false, &*params, false, env, sql, messages)) &&
        !sql.empty()) {
      qv::platform::indexing::ParsedQuery q;
      std::string error;
      if (qv::Failed(qv::platform::indexing::ParseQueryText(sql, q, error))) __builtin_trap();
    }
  }
  return 0;
}
