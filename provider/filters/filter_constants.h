#pragma once
// The provider's filters: their classes, the file kinds they serve, the property sets they
// yield and the events they write.
#include <cstdint>
#include <string_view>

#include "common/guid.h"
#include "common/hresult.h"

namespace qv::filters {

inline constexpr Guid CLSID_JournalIFilter =
    MakeGuid(0xC9F4B7B9, 0xCDB8, 0x4446, 0xA9, 0x2A, 0x30, 0xF4, 0x53, 0x1D, 0xA5, 0x0B);
inline constexpr Guid CLSID_KivJournalDatIFilter =
    MakeGuid(0xF1D8B46A, 0x4FE7, 0x497F, 0xAD, 0x81, 0x95, 0x05, 0x84, 0x9C, 0x50, 0x28);
inline constexpr Guid CLSID_KivFilter =
    MakeGuid(0x15FD5932, 0xFFE2, 0x4834, 0x96, 0x48, 0x01, 0xE0, 0xE9, 0x83, 0xD7, 0x05);
inline constexpr Guid CLSID_EmailIFilter =
    MakeGuid(0x8B4FBED6, 0x8B7B, 0x4D1E, 0xB2, 0x1D, 0x68, 0xE5, 0xD1, 0x6B, 0x05, 0x26);
inline constexpr Guid CLSID_KivMetadataHandler =
    MakeGuid(0x48CA09C3, 0x119B, 0x8534, 0x9A, 0x91, 0x87, 0x84, 0x80, 0x40, 0xE3, 0x51);

// The journal set: what a journal entry adds to the catalog beside its text.
inline constexpr Guid kJournalPropSet =
    MakeGuid(0x8E186B66, 0x57AC, 0x435C, 0xB9, 0x57, 0x13, 0x0C, 0x31, 0x9B, 0xFA, 0x76);
inline constexpr std::uint32_t kPidJournalStore = 2;
inline constexpr std::uint32_t kPidJournalAttention = 3;
inline constexpr std::uint32_t kPidJournalDuration = 4;
inline constexpr std::uint32_t kPidJournalDescription = 5;

// The mail set of a mail item.
inline constexpr Guid kMailPropSet =
    MakeGuid(0xCD21B521, 0xCC97, 0x4EF5, 0xAF, 0xDE, 0xF4, 0xD0, 0xDA, 0x57, 0x5A, 0x5B);
inline constexpr std::uint32_t kPidMailFolder = 2;
inline constexpr std::uint32_t kPidMailPrefix = 3;
inline constexpr std::uint32_t kPidMailSubject = 4;
inline constexpr std::uint32_t kPidMailCorrespondent = 5;
inline constexpr std::uint32_t kPidMailClass = 6;
inline constexpr std::uint32_t kPidMailFlags = 7;
// MSGFLAG_FROMME: the user sent the item, so its correspondent is the recipient.
inline constexpr std::uint32_t kMsgFlagFromMe = 0x20;

// The ranking set's search key; PROPIDs 3 to 13 are the ranking record's.
inline constexpr std::uint32_t kPidSearchKey = 2;

// The locale every chunk carries (the system default, English - United States).
inline constexpr std::uint32_t kSystemDefaultLcid = 0x0409;

// Warning events.
inline constexpr std::uint32_t kEventTempCopyNotDeleted = 0xC0000403;
inline constexpr std::uint32_t kEventValueNotCopiedMail = 0xC0000405;
inline constexpr std::uint32_t kEventMailProxyFailed = 0xC0000408;
inline constexpr std::uint32_t kEventMailBodyNotConverted = 0xC0000409;
inline constexpr std::uint32_t kEventValueNotCopied = 0xC0000418;
inline constexpr std::uint32_t kEventStaleNotReported = 0xC0000420;

// The mail body travels through a shared section of this size; the proxy may fill the usable
// part: a 32-bit byte count, the body, and one zero byte after it.
inline constexpr std::size_t kMailSectionBytes = 524288;
inline constexpr std::uint32_t kMailSectionUsable = 0x7FFFC;
inline constexpr std::uint32_t kMailBodyMaxBytes = kMailSectionUsable - 5;
inline constexpr std::string_view kMailSectionPrefix = "Global\\";
inline constexpr std::string_view kMsgFilePrefix = "q6e";
// The running object table has nothing under the name (the mail client is not running).
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeHr(0x800401E3);
// The running object table name under which a mail scope's proxy is found.
inline constexpr std::string_view kOtlIndexingMoniker = "!Qv.OtlIndexing.";
// RTF groups nested deeper than this are read as text of the deepest group.
inline constexpr int kMaxRtfDepth = 128;

// A temporary copy of a page part is made in blocks of this size.
inline constexpr std::size_t kCopyBlock = 32767;
// Longer charset names are not taken.
inline constexpr std::size_t kMaxCharsetLength = 49;

}  // namespace qv::filters
