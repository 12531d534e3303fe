#pragma once
// The mail add-in's fixed names, times and event identifiers, in one place.
#include <chrono>
#include <cstdint>
#include <string_view>

namespace qv::mail::addin {

// The visit library, found beside the event source's message file.
inline constexpr std::string_view kHooksLibraryName = "libQvHooks.so";
inline constexpr std::string_view kEventMessageFileValue = "EventMessageFile";

// The reading pane's visit starts once the selection has stayed on one item this long.
inline constexpr std::uintptr_t kSettleTimerId = 1;
inline constexpr std::chrono::milliseconds kSettleDelay{1000};
// The add-in's hidden window that carries the settle timer.
inline constexpr std::string_view kTimerWindowClass = "QvOutlookAddInTimer";

// The reading pane: a visible, non-pop-up child of the explorer of the dialog class, holding a
// browser or rich-edit view, or with at least this many children of its own.
inline constexpr std::string_view kDialogClass = "#32770";
inline constexpr std::string_view kBrowserViewClass = "Internet Explorer_Server";
inline constexpr std::string_view kRichEditClassPrefix = "RichEdit";
inline constexpr std::size_t kPaneMinChildren = 5;

// Quitting: how long the add-in waits for the tracer to record its mail visits.
inline constexpr std::string_view kStartStopTimeoutValue = "StartStopTimeout";
inline constexpr std::uint32_t kMinStartStopSeconds = 10;
inline constexpr std::uint32_t kMaxStartStopSeconds = 60;
inline constexpr std::uint32_t kDefaultStartStopSeconds = 15;

// Event identifiers.
inline constexpr std::uint32_t kEvSettleTimer = 0xC0000304;      // the settle timer not set
inline constexpr std::uint32_t kEvStopListening = 0xC0000305;    // an explorer not let go
inline constexpr std::uint32_t kEvVisitStart = 0xC0000306;       // a pane visit not started
inline constexpr std::uint32_t kEvSelection = 0xC0000307;        // the selection not read
inline constexpr std::uint32_t kEvWindowNotFound = 0xC0000308;   // no window for the object
inline constexpr std::uint32_t kEvInspectorItem = 0xC0000309;    // an inspector's item not read
inline constexpr std::uint32_t kEvWrittenItem = 0xC000030A;      // a saved item not read

}  // namespace qv::mail::addin
