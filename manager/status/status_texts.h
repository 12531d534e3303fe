#pragma once
// The texts of the status sheet and qvstatus, by their number in the language module, with
// English texts for when no module can be loaded.
#include <cstdint>
#include <string>

namespace qv {
class LanguageModule;
}

namespace qv::manager {

inline constexpr std::uint32_t kTextSheetCaption = 16;
inline constexpr std::uint32_t kTextSystemCatalog = 23;
inline constexpr std::uint32_t kTextWebHistoryCatalog = 24;
inline constexpr std::uint32_t kTextUnnamedStore = 25;
inline constexpr std::uint32_t kTextNotRegistered = 26;
inline constexpr std::uint32_t kTextJournalCatalog = 27;
inline constexpr std::uint32_t kTextScanning = 122;
inline constexpr std::uint32_t kTextRecovering = 123;
inline constexpr std::uint32_t kTextMerging = 124;
inline constexpr std::uint32_t kTextScanRequired = 125;
inline constexpr std::uint32_t kTextLowMemory = 126;
inline constexpr std::uint32_t kTextHighIo = 127;
inline constexpr std::uint32_t kTextMergePaused = 128;
inline constexpr std::uint32_t kTextReadOnly = 129;
inline constexpr std::uint32_t kTextBattery = 130;
inline constexpr std::uint32_t kTextUserActive = 131;
inline constexpr std::uint32_t kTextStarting = 132;
inline constexpr std::uint32_t kTextUpToDate = 133;

// The module's text, else the English one, else "#<id>".
std::string StatusText(const LanguageModule* module, std::uint32_t id);

}  // namespace qv::manager
