#pragma once
// The settings' keys, value names, defaults and limits, in one place.
#include <cstdint>
#include <string_view>

#include "common/hresult.h"

namespace qv::settings {

// User keys (HKEY_CURRENT_USER) and machine keys (HKEY_LOCAL_MACHINE).
inline constexpr std::string_view kRootKey = "Software\\Quillon\\Vesper";
inline constexpr std::string_view kFilesKey = "Software\\Quillon\\Vesper\\Files";
inline constexpr std::string_view kWebKey = "Software\\Quillon\\Vesper\\WebHistory";
inline constexpr std::string_view kMailKey = "Software\\Quillon\\Vesper\\EMail";
inline constexpr std::string_view kStoresKey = "Software\\Quillon\\Vesper\\EMail\\PSTs";
inline constexpr std::string_view kViewKey = "Software\\Quillon\\Vesper\\View";
inline constexpr std::string_view kContentIndexKey =
    "SYSTEM\\CurrentControlSet\\Control\\ContentIndex";

// Mail availability: the add-in's store class, the mail client and a mail profile.
inline constexpr std::string_view kStoreClassKey =
    "CLSID\\{CCB53C6E-DA97-4B5F-8FF0-A95C77ECB9FF}";
inline constexpr std::string_view kOutlookKey = "Software\\Microsoft\\Office\\outlook";
inline constexpr std::string_view kMailProfilesKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

// Value names.
inline constexpr std::string_view kDisableJournaling = "DisableJournaling";
inline constexpr std::string_view kDisableRanking = "DisableRanking";
inline constexpr std::string_view kDisableCacheChanging = "DisableCacheChanging";
inline constexpr std::string_view kMatchType = "matchtype";
inline constexpr std::string_view kInclude = "include";
inline constexpr std::string_view kExclude = "exclude";
inline constexpr std::string_view kStoreSettings = "Settings";
inline constexpr std::string_view kStorePath = "Path";
inline constexpr std::string_view kIdentity = "Identity";
inline constexpr std::string_view kNoSearchKeys = "NoSearchKeys";
inline constexpr std::string_view kDisableStatistics = "DisableStatistics";
inline constexpr std::string_view kWordlistUserIdle = "WordlistUserIdle";
inline constexpr std::string_view kMinWordlistBattery = "MinWordlistBattery";
inline constexpr std::string_view kPartialMatch = "PartialMatch";
inline constexpr std::string_view kPreviewFiles = "PreviewFiles";
inline constexpr std::string_view kPreviewFileTypes = "PreviewFileTypes";
inline constexpr std::string_view kPreviewWeb = "PreviewWeb";
inline constexpr std::string_view kPreviewEmail = "PreviewEmail";
inline constexpr std::string_view kDownloadImages = "DownloadImages";

// The synchronisation state of a mail store; deleting it makes the add-in synchronise the
// store anew.
inline constexpr std::string_view kStoreSyncValues[] = {
    "DirSync", "DirSyncCompleted", "PSTSync", "PSTSyncFld", "PSTSyncItem", "PSTSyncCompleted"};

inline constexpr std::uint32_t kMatchTypeExclude = 0;
inline constexpr std::uint32_t kMatchTypeInclude = 1;

// A store without settings tracks the folders of these bits; only these bits are edited
// (bit 3 is kept as stored).
inline constexpr std::uint32_t kDefaultStoreSettings = 0x1B3;
inline constexpr std::uint32_t kEditableStoreBits = 0x3F7;
inline constexpr std::size_t kMaxStores = 256;
inline constexpr std::size_t kMaxStoreNameBytes = 512;
inline constexpr std::size_t kMaxStorePathChars = 260;

// The identity: at most 255 characters (UTF-16 units).
inline constexpr std::size_t kMaxIdentityUnits = 255;

// The indexer's idle time before it merges word lists (s), and the battery level below
// which it stops (percent); the "off" values and the defaults.
inline constexpr std::uint32_t kUserIdleOff = 0;
inline constexpr std::uint32_t kUserIdleMax = 1200;
inline constexpr std::uint32_t kUserIdleDefault = 120;
inline constexpr std::uint32_t kBatteryOff = 100;
inline constexpr std::uint32_t kBatteryMax = 99;

inline constexpr std::uint32_t kPartialMatchMax = 100;
inline constexpr std::uint32_t kPartialMatchDefault = 50;
inline constexpr std::uint32_t kPartialMatchStep = 10;

// Six previewed file categories, one bit each.
inline constexpr std::uint32_t kAllPreviewFileTypes = 0x3F;

// The answer of the add-in notification when no add-in is registered: nothing to notify.
inline constexpr HRESULT kNothingToNotify = MakeHr(0x80040005);

}  // namespace qv::settings
