#pragma once
// Item detection's fixed names, limits and timings, in one place.
#include <climits>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv::tracer {

// Paths and names follow the platform's limits (PATH_MAX includes the terminating NUL).
inline constexpr std::size_t kMaxPathBytes = PATH_MAX - 1;
inline constexpr std::size_t kMaxNameBytes = NAME_MAX;

// Characters that may stand before or after a file name in a window title.
inline constexpr std::string_view kTitleDelimiters = " !@#^&*[]{}':;|/.,\\\"()_-<>";

// Title scores.
inline constexpr int kScoreNone = 0;
inline constexpr int kScoreBaseName = 1;
inline constexpr int kScoreNameAndExtension = 2;
inline constexpr int kScorePath = 3;
inline constexpr int kScorePathAndExtension = 4;

// A window of this class holds the child windows of a multiple-document frame.
inline constexpr std::string_view kMdiClientClass = "MDIClient";
// The class of a browser's document pane.
inline constexpr std::string_view kBrowserPaneClass = "Internet Explorer_Server";

// Running documents: a burst of window activity is scanned 1 s after it calms down, and at
// the latest 5 s after it began; 10 failed scans in a row are fatal.
inline constexpr std::chrono::milliseconds kRunningDocsDebounce{1000};
inline constexpr std::chrono::milliseconds kRunningDocsMaxDelay{5000};
inline constexpr std::uint32_t kRunningDocsMaxFailures = 10;

// Recent folder: 5 attempts to open it, 1 s apart; 5 failed reads in a row end the watcher;
// at most 1024 change records are taken from one read.
inline constexpr std::uint32_t kRecentOpenAttempts = 5;
inline constexpr std::chrono::milliseconds kRecentOpenRetry{1000};
inline constexpr std::uint32_t kRecentMaxFailedReads = 5;
inline constexpr std::size_t kRecentMaxRecords = 1024;
// A link is named after its target plus this extension, so the longest name is a target's
// longest file name plus it.
inline constexpr std::string_view kLinkExtension = ".lnk";
inline constexpr std::size_t kMaxLinkNameBytes = kMaxNameBytes + kLinkExtension.size();

// Pop-up tracking keeps the last 4 pop-up windows.
inline constexpr std::size_t kPopupListSize = 4;

// A browser pane answers the document request within this time.
inline constexpr std::chrono::milliseconds kBrowserPaneTimeout{5000};

// Category rules under the user's Vesper key.
inline constexpr std::string_view kFilesCategoryKey = "Software\\Quillon\\Vesper\\Files";
inline constexpr std::string_view kWebCategoryKey = "Software\\Quillon\\Vesper\\WebHistory";
inline constexpr std::string_view kMailCategoryKey = "Software\\Quillon\\Vesper\\EMail";
inline constexpr std::string_view kDisableRankingValue = "DisableRanking";
inline constexpr std::string_view kDisableJournalingValue = "DisableJournaling";
inline constexpr std::string_view kMatchTypeValue = "matchtype";
inline constexpr std::string_view kIncludeValue = "include";
inline constexpr std::string_view kExcludeValue = "exclude";
inline constexpr std::uint32_t kMatchTypeInclude = 1;
// Record flags that turn ranking and journaling off.
inline constexpr std::uint32_t kRecordNoRank = 0x10;
inline constexpr std::uint32_t kRecordNoJournal = 0x20;
// The system's own files: journaled, never ranked.
inline constexpr std::string_view kUnrankedExtensions[] = {".q6w", ".q6e", ".q6j"};

// Event identifiers (category 1).
inline constexpr std::uint32_t kEvTitlePattern = 0xC0000050;
inline constexpr std::uint32_t kEvHistoryOpen = 0xC0000062;
inline constexpr std::uint32_t kEvPaneNoAnswer = 0xC0000063;
inline constexpr std::uint32_t kEvRecentGaveUp = 0xC0000064;
inline constexpr std::uint32_t kEvRecentRead = 0xC0000065;
inline constexpr std::uint32_t kEvRecentOpen = 0xC0000066;
inline constexpr std::uint32_t kEvRecentEmpty = 0xC0000067;
inline constexpr std::uint32_t kEvRecentClose = 0xC0000068;
inline constexpr std::uint32_t kEvRunningDocsStart = 0xC0000069;
inline constexpr std::uint32_t kEvRunningDocsFatal = 0xC000006A;
inline constexpr std::uint32_t kEvRunningDocsScan = 0xC000006B;

}  // namespace qv::tracer
