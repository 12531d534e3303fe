#pragma once
// The search-key list: items named by their search keys, the content of the client's own
// drag-and-drop format. Three lines per item, each ended by a line feed:
//   the item type as decimal text (0 file, 1 web page, 2 mail message, 3 appointment,
//   4 contact, 5 task),
//   the item's name in double quotes (quotes and line feeds inside it become blanks),
//   the search key in registry form with braces ({00000000-...} when the item has none).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"

namespace qv::client {

enum class ItemType : std::int32_t {
  File = 0,
  WebPage = 1,
  MailMessage = 2,
  Appointment = 3,
  Contact = 4,
  Task = 5,
};
inline constexpr std::int32_t kMaxItemType = 5;

struct SearchKeyItem {
  ItemType type = ItemType::File;
  std::string name;      // the name line as read: with its double quotes
  std::string keyLine;   // the key line as read
  Guid key;              // null when the line is the all-zero GUID or no GUID at all
  bool hasKey = false;   // a real, non-zero GUID in registry form
};

// The list text for chosen items (names are quoted and cleaned, keys written with braces).
struct SearchKeySource {
  ItemType type = ItemType::File;
  std::string name;
  Guid key;
};
std::string WriteSearchKeyList(std::span<const SearchKeySource> items);

// Reads the list. A type outside 0 to 5 or a line without its line feed gives
// DB_E_ERRORSINCOMMAND (with `error` saying which item). A key counts only when its line
// is exactly a GUID in registry form and not the all-zero GUID; anything else (a line that
// merely ends in '}') leaves the item without a key.
HRESULT ReadSearchKeyList(std::string_view text, std::vector<SearchKeyItem>& out,
                          std::string* error = nullptr);

}  // namespace qv::client
