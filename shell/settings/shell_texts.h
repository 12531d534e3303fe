#pragma once
// The texts of the shell's windows (settings, ranking page), by their number in the language
// module, with English texts for when no module can be loaded.
#include <cstdint>
#include <string>

namespace qv {
class LanguageModule;
}

namespace qv::settings {

inline constexpr std::uint32_t kTextQuestionCaption = 16;
inline constexpr std::uint32_t kTextRestartIndexer = 37;
inline constexpr std::uint32_t kTextSaveFailed = 38;
inline constexpr std::uint32_t kTextAppletName = 100;
inline constexpr std::uint32_t kTextAppletInfo = 101;
inline constexpr std::uint32_t kTextHours = 141;
inline constexpr std::uint32_t kTextMinutes = 142;
inline constexpr std::uint32_t kTextSeconds = 143;
inline constexpr std::uint32_t kTextEncrypted = 1056;
inline constexpr std::uint32_t kTextReadOnly = 1057;
inline constexpr std::uint32_t kTextNotIndexed = 1058;
inline constexpr std::uint32_t kTextKeptWithFile = 1059;
inline constexpr std::uint32_t kTextRecordShown = 1070;
inline constexpr std::uint32_t kTextDeleteDenied = 1071;
inline constexpr std::uint32_t kTextNoRecord = 1105;
inline constexpr std::uint32_t kTextRecordDeleted = 1106;
inline constexpr std::uint32_t kTextDeleteFailed = 1109;

// The module's text, else the English one, else "#<id>".
std::string ShellText(const LanguageModule* module, std::uint32_t id);

}  // namespace qv::settings
