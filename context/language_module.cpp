#include "context/language_module.h"

#include <cstdlib>
#include <fstream>

#include "context/registry_values.h"

namespace qv {
namespace {

// Large catalogs are a mistake, not a need: bound what a hand-edited file can ask for.
constexpr std::size_t kMaxCatalogBytes = 4 << 20;

std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char c = s[++i];
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::uint16_t LangIdFromLocale(std::string_view locale) {
  struct Entry {
    std::string_view prefix;
    std::uint16_t id;
  };
  // Full language_TERRITORY names first, then bare languages.
  static constexpr Entry kTable[] = {
      {"en_US", 1033}, {"en_GB", 2057}, {"de_DE", 1031}, {"de_AT", 3079}, {"de_CH", 2055},
      {"fr_FR", 1036}, {"fr_CA", 3084}, {"es_ES", 3082}, {"it_IT", 1040}, {"nl_NL", 1043},
      {"pt_BR", 1046}, {"pt_PT", 2070}, {"sv_SE", 1053}, {"da_DK", 1030}, {"fi_FI", 1035},
      {"nb_NO", 1044}, {"pl_PL", 1045}, {"cs_CZ", 1029}, {"ru_RU", 1049}, {"ja_JP", 1041},
      {"zh_CN", 2052}, {"zh_TW", 1028}, {"ko_KR", 1042}, {"en", 1033}, {"de", 1031},
      {"fr", 1036},    {"es", 3082},    {"it", 1040},    {"nl", 1043},    {"pt", 1046},
      {"sv", 1053},    {"da", 1030},    {"fi", 1035},    {"pl", 1045},    {"cs", 1029},
      {"ru", 1049},    {"ja", 1041},    {"zh", 2052},    {"ko", 1042},    {"C", 1033},
      {"POSIX", 1033},
  };
  for (const auto& e : kTable) {
    if (locale.substr(0, e.prefix.size()) == e.prefix &&
        (locale.size() == e.prefix.size() || locale[e.prefix.size()] == '.' ||
         locale[e.prefix.size()] == '_' || locale[e.prefix.size()] == '@')) {
      return e.id;
    }
  }
  return 0;
}

std::uint16_t CurrentLangId() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* v = std::getenv(var); v && *v) return LangIdFromLocale(v);
  }
  return 0;
}

HRESULT LanguageModule::LoadFile(const std::filesystem::path& file, LanguageModule& out,
                                 std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
  std::map<std::uint32_t, std::string> texts;
  std::string line;
  std::size_t lineNo = 0, total = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    total += line.size() + 1;
    if (total > kMaxCatalogBytes) {
      if (error) *error = file.string() + ": larger than 4 MiB";
      return HresultFromWin32(win32::ERROR_BAD_FORMAT);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const auto tab = line.find('\t');
    char* end = nullptr;
    const unsigned long id = std::strtoul(line.c_str(), &end, 10);
    if (tab == std::string::npos || tab == 0 || end != line.c_str() + tab || id > 0xFFFFFFFFul) {
      if (error) {
        *error = file.string() + ":" + std::to_string(lineNo) + ": expected number<TAB>text";
      }
      return HresultFromWin32(win32::ERROR_BAD_FORMAT);
    }
    texts[static_cast<std::uint32_t>(id)] = Unescape(std::string_view(line).substr(tab + 1));
  }
  out.texts_ = std::move(texts);
  return S_OK;
}

HRESULT LanguageModule::Load(const Context& ctx, std::uint16_t langId, LanguageModule& out) {
  const std::string messageFile = ReadString(ctx.registry, platform::Hive::LocalMachine,
                                             kEventSourceKey, "EventMessageFile", "");
  if (messageFile.empty()) return HresultFromWin32(win32::ERROR_FILE_NOT_FOUND);
  const std::filesystem::path nls = std::filesystem::path(messageFile).parent_path() / "nls";
  auto folderFor = [&](std::uint16_t id) { return nls / std::to_string(id); };

  std::uint16_t chosen = kFallbackLangId;
  std::error_code ec;
  if (langId != 0 && std::filesystem::is_directory(folderFor(langId), ec)) {
    chosen = langId;
  } else if (langId != 0) {
    const std::uint32_t mapped = ReadDword(ctx.registry, platform::Hive::LocalMachine,
                                           kNlsMappingKey, std::to_string(langId), 0, 1, 0xFFFF);
    if (mapped != 0) chosen = static_cast<std::uint16_t>(mapped);
  }
  const HRESULT hr = LoadFile(folderFor(chosen) / "QvNls.txt", out);
  if (Failed(hr)) return hr;
  out.langId_ = chosen;
  return S_OK;
}

std::optional<std::string_view> LanguageModule::Text(std::uint32_t id) const {
  auto it = texts_.find(id);
  if (it == texts_.end()) return std::nullopt;
  return it->second;
}

std::string LanguageModule::TextOr(std::uint32_t id) const {
  if (auto t = Text(id)) return std::string(*t);
  return "#" + std::to_string(id);
}

}  // namespace qv
