#pragma once
// The language module: the user-visible texts of the client, the manager and the shell,
// referred to by number. On this platform a module is a text catalog
// <install>/nls/<LANGID>/QvNls.txt with one "number<TAB>text" line per text ("\n" and "\t"
// escapes allowed in the text; lines starting with '#' are comments).
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "context/context.h"

namespace qv {

inline constexpr std::uint16_t kFallbackLangId = 1033;
inline constexpr std::string_view kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillon Vesper";
inline constexpr std::string_view kNlsMappingKey = "Software\\Quillon\\Vesper\\NLSMapping";

// LANGID of a POSIX locale name ("de_DE.UTF-8" → 1031); 0 when unknown.
std::uint16_t LangIdFromLocale(std::string_view locale);
// The thread's locale as a LANGID, from LC_ALL, LC_MESSAGES or LANG; 0 when unknown.
std::uint16_t CurrentLangId();

class LanguageModule {
 public:
  // Finds the install folder from the event source's EventMessageFile value, then the
  // module: the LANGID's own folder if it exists, else the NLSMapping entry for that LANGID,
  // else 1033. Fails with the Win32 error (as HRESULT) when no module can be read.
  static HRESULT Load(const Context& ctx, std::uint16_t langId, LanguageModule& out);
  // Reads one catalog file; malformed lines are errors (ERROR_BAD_FORMAT) naming the line.
  static HRESULT LoadFile(const std::filesystem::path& file, LanguageModule& out,
                          std::string* error = nullptr);

  std::optional<std::string_view> Text(std::uint32_t id) const;
  // The text, or "#<id>" when the module lacks it, so a missing text shows up but never crashes.
  std::string TextOr(std::uint32_t id) const;
  std::uint16_t langId() const { return langId_; }
  std::size_t size() const { return texts_.size(); }

 private:
  std::uint16_t langId_ = 0;
  std::map<std::uint32_t, std::string> texts_;
};

}  // namespace qv
