#pragma once
// A journal entry as a property set, and the searchable text and values made from one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/guid.h"
#include "common/oledate.h"
#include "platform/propset/property_set.h"

namespace qv::journal {

enum EntryPropId : std::uint32_t {
  kPidUrl = 2,
  kPidType = 3,
  kPidPst = 4,
  kPidStart = 5,
  kPidEnd = 6,
  kPidWorkingTime = 7,
  kPidActiveTime = 8,
  kPidCachedUrl = 9,
  kPidSearchKey = 10,
  kPidParentFolder = 11,
  kPidPrefix = 12,
  kPidTitle = 13,
  kPidCorrespondent = 14,
  kPidMessageFlags = 15,
  kPidOtherInfo = 16,
};

// Item kinds: callers use 0 for a document and 1 for a web page; 2 to 5 are mail items.
inline constexpr std::uint32_t kTypeDocument = 0;
inline constexpr std::uint32_t kTypeWebPage = 1;
inline constexpr std::uint32_t kFirstMailType = 2;
inline constexpr std::uint32_t kLastMailType = 5;
constexpr bool IsMailType(std::uint32_t type) {
  return type >= kFirstMailType && type <= kLastMailType;
}
// MSGFLAG_FROMME: the user sent the item, so its correspondent is the recipient.
inline constexpr std::uint32_t kMessageFlagFromMe = 0x20;
// Attention counts units of 0.2 s of working time.
inline constexpr std::uint32_t kAttentionUnitsPerSecond = 5;

// A BSTR argument: nullopt stands for a null BSTR, which callers use for "not given".
using BstrIn = std::optional<std::string_view>;

// What a caller hands to LogEntry; times in whole seconds, dates UTC.
struct EntryFields {
  BstrIn url;
  DATE start = 0.0;
  DATE end = 0.0;
  std::uint32_t workingTime = 0;
  std::uint32_t activeTime = 0;
  std::uint32_t type = kTypeDocument;
  std::uint32_t pst = 0;
  BstrIn cachedUrl, searchKey, parentFolder, prefix, title, to, from;
  std::uint32_t messageFlags = 0;
  BstrIn otherInfo;
};

// The entry's property set: FMTID and class identifier are the entry's GUID, strings are
// stored as Unicode. Working time 0 is stored as 1.
platform::PropertySet MakeEntrySet(const Guid& entry, const EntryFields& fields);

// Searchable text and values of a stored entry; a value is absent when its source is.
struct SearchContents {
  std::string text;         // the fields that are strings, each followed by " \r\n"
  std::string description;  // mail: prefix and subject; otherwise the URL
  std::optional<std::uint32_t> pst;
  std::optional<std::uint32_t> attention;  // working seconds × 5
  std::optional<std::uint32_t> duration;   // whole seconds from start to end
};
SearchContents SearchContentsOf(const platform::PropertySet& entry);

}  // namespace qv::journal
