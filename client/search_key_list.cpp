#include "client/search_key_list.h"

#include "client/messages.h"

namespace qv::client {

std::string WriteSearchKeyList(std::span<const SearchKeySource> items) {
  std::string out;
  for (const auto& item : items) {
    out += std::to_string(static_cast<int>(item.type));
    out += "\n\"";
    for (char c : item.name) out += (c == '"' || c == '\n') ? ' ' : c;
    out += "\"\n";
    out += FormatGuid(item.key);
    out += '\n';
  }
  return out;
}

HRESULT ReadSearchKeyList(std::string_view text, std::vector<SearchKeyItem>& out,
                          std::string* error) {
  out.clear();
  std::size_t at = 0;
  auto line = [&](std::string_view& l) {
    const auto nl = text.find('\n', at);
    if (nl == std::string_view::npos) return false;
    l = text.substr(at, nl - at);
    at = nl + 1;
    return true;
  };
  auto fail = [&](std::string what) {
    if (error) *error = "item " + std::to_string(out.size() + 1) + ": " + std::move(what);
    out.clear();
    return DB_E_ERRORSINCOMMAND;
  };
  while (at < text.size()) {
    std::string_view typeLine, nameLine, keyLine;
    if (!line(typeLine) || !line(nameLine) || !line(keyLine)) {
      return fail("a line is not ended by a line feed");
    }
    if (typeLine.size() != 1 || typeLine[0] < '0' || typeLine[0] > '0' + kMaxItemType) {
      return fail("the type is not a number from 0 to 5");
    }
    SearchKeyItem item;
    item.type = static_cast<ItemType>(typeLine[0] - '0');
    item.name = std::string(nameLine);
    item.keyLine = std::string(keyLine);
    if (auto g = ParseGuid(keyLine); g && !g->IsNull()) {
      item.key = *g;
      item.hasKey = true;
    }
    out.push_back(std::move(item));
  }
  return S_OK;
}

}  // namespace qv::client
