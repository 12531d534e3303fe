#pragma once
// The mail add-in's ranking object: what the tracer's mail recorder, and through the mail
// proxy the e-mail filter, call on the add-in inside the mail client. In slot order: the read
// entry, the write entry, (a third the add-in keeps to itself), the message-file entry. It is
// published in the session's running object table under kOtlRankingPrefix plus the logon
// session's identifier ("%x:%x").
#include <cstdint>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "common/oledate.h"
#include "provider/ranking/ranking.h"

namespace qv::mail {

inline constexpr std::string_view kOtlRankingPrefix = "!Qv.OtlRanking.";
inline constexpr std::string_view kOtlIndexingPrefix = "!Qv.OtlIndexing.";
inline constexpr std::string_view kMailItemPrefix = "outlook:";

// Item state of the read entry.
inline constexpr std::uint32_t kItemNotFound = 0;
inline constexpr std::uint32_t kItemOpen = 1;
inline constexpr std::uint32_t kItemHasRanking = 2;

// Body kinds of the message-file entry.
inline constexpr std::uint32_t kBodyHtml = 0;
inline constexpr std::uint32_t kBodyRtf = 1;
inline constexpr std::uint32_t kBodyText = 2;

// Everything the read entry fills, in its order (the proxy adds the current scope in front).
struct OtlItemValues {
  std::uint32_t state = kItemNotFound;
  std::uint32_t pst = 0;       // the store's number
  std::string searchKey;       // registry form of a GUID, or empty
  ranking::RankingSet set;     // valid in state kItemHasRanking only
  std::string parentFolder;
  std::string prefix, subject, to, from, cc, bcc, itemType;
  std::uint32_t messageFlags = 0;
  DATE date1 = 0.0, date2 = 0.0;
  bool operator==(const OtlItemValues&) const = default;
};

class OtlRanking {
 public:
  virtual ~OtlRanking() = default;
  virtual HRESULT ReadItem(std::string_view itemId, OtlItemValues& out) = 0;
  // S_FALSE: the item's store is not tracked; nothing is written.
  virtual HRESULT WriteItem(std::string_view itemId, const ranking::RankingSet& set) = 0;
  // Copies the item's body into the shared section `sectionName` of `sectionSize` bytes (a
  // 32-bit byte count, the body, one zero byte); S_FALSE when the item has no body.
  virtual HRESULT GetMsgFile(std::string_view itemId, std::string_view sectionName,
                             std::uint32_t sectionSize, std::string_view prefix,
                             std::string& files, std::string& text, std::uint32_t& kind) = 0;
};

}  // namespace qv::mail
