// The search box's query language and the search-key list read what users type and what
// other programs drop. Each input goes through the tokenizer, the validation, the composers
// of both query texts, the advanced search's split, and the search-key reader; every token
// must lie inside the input, and whatever is composed must read as query text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client/advanced_search.h"
#include "client/query_composer.h"
#include "client/search_key_list.h"
#include "platform/indexing/query_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::client;
  const std::string text(reinterpret_cast<const char*>(data), size);

  QueryTokens tokens;
  ParseQuery(text, tokens);
  for (const auto& t : tokens) {
    if (t.text.empty() || t.text.data() < text.data() ||
        t.text.data() + t.text.size() > text.data() + text.size()) {
      __builtin_trap();
    }
  }
  bool noText = false;
  Messages messages;
  CheckQueryTokens(tokens, noText, messages);

  static const FixedDateLocale dates(DateOrder::DayMonthYear, '.', 90);
  ComposeEnvironment env;
  env.localAppData = "/home/u/.qv/LocalAppData";
  env.windowsFolder = "/usr";
  env.dates = &dates;
  env.now = 46000.5;
  SearchParams params;
  for (bool keys : {false, true}) {
    for (bool freeText : {false, true}) {
      std::string sql;
      if (qv::Succeeded(ComposeCatalogQuery(text, keys, &params, freeText, env, sql, messages)) &&
          !sql.empty()) {
        qv::platform::indexing::ParsedQuery q;
        std::string error;
        if (qv::Failed(qv::platform::indexing::ParseQueryText(sql, q, error))) __builtin_trap();
      }
    }
  }
  std::string journal;
  ComposeJournalQuery(text, false, false, env, journal, messages);
  DecomposeAdvancedSearch(text, true, dates, env.now);

  std::vector<SearchKeyItem> items;
  if (qv::Succeeded(ReadSearchKeyList(text, items))) {
    for (const auto& item : items) {
      if (item.hasKey && item.keyLine.size() != qv::kGuidTextLength) __builtin_trap();
    }
  }
  return 0;
}
